// Stand-in for the external database packer, used by the tests under the
// real tool's name. Called as "xb2.exe KEY INPUT OUTPUT", it writes OUTPUT as
// INPUT with every byte XORed with KEY. Environment variables pick a fault
// and make it report what it saw:
//   VELMORA_FAKE_XB2_MODE  xor (default) | nothing | short | rmtmp | hang
//       nothing: writes no output; short: writes VELMORA_FAKE_XB2_SHORT bytes;
//       rmtmp: does its work, then deletes INPUT; hang: writes its pid to the
//       FIFO VELMORA_FAKE_XB2_FIFO and waits to be killed.
//   VELMORA_FAKE_XB2_LOG   file to which one line is appended: the
//       arguments, the working folder and how stdin/stdout/session are set up.
//   VELMORA_FAKE_XB2_KEEP  file that receives a copy of INPUT.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool IsDevNull(int fd) {
    struct stat a {};
    struct stat b {};
    return fstat(fd, &a) == 0 && stat("/dev/null", &b) == 0 && S_ISCHR(a.st_mode) &&
           a.st_rdev == b.st_rdev;
}

void Log(int argc, char** argv) {
    const std::string path = Env("VELMORA_FAKE_XB2_LOG");
    if (path.empty()) {
        return;
    }
    std::string line = "args=";
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? "|" : "") + std::string(argv[i]);
    }
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        cwd[0] = '?';
    }
    line += std::string(" cwd=") + cwd;
    line += std::string(" stdin_null=") + (IsDevNull(STDIN_FILENO) ? "1" : "0");
    line += std::string(" stdout_null=") + (IsDevNull(STDOUT_FILENO) ? "1" : "0");
    line += std::string(" own_session=") + (getsid(0) == getpid() ? "1" : "0");
    std::ofstream(path, std::ios::app) << line << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    Log(argc, argv);
    if (argc != 4) {
        return 2;
    }
    const std::string mode = Env("VELMORA_FAKE_XB2_MODE");
    if (mode == "hang") {
        const std::string fifo = Env("VELMORA_FAKE_XB2_FIFO");
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            const std::string pid = std::to_string(getpid()) + "\n";
            if (write(fd, pid.data(), pid.size()) < 0) {
                return 3;
            }
            close(fd);
        }
        // Waits to be killed; should a test die first, the tool still goes
        // away on its own after two minutes instead of lingering for ever.
        alarm(120);
        for (;;) {
            pause();
        }
    }
    if (mode == "nothing") {
        return 0;
    }

    std::ifstream in(argv[2], std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return 4;
    }
    const std::string keep = Env("VELMORA_FAKE_XB2_KEEP");
    if (!keep.empty()) {
        std::ofstream(keep, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    const auto key = static_cast<char>(std::strtoul(argv[1], nullptr, 0));
    for (char& c : data) {
        c = static_cast<char>(c ^ key);
    }
    if (mode == "short") {
        data.resize(std::strtoul(Env("VELMORA_FAKE_XB2_SHORT").c_str(), nullptr, 0));
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        return 5;
    }
    if (mode == "rmtmp") {
        std::remove(argv[2]);
    }
    return 0;
}
