// Stand-in for the external database packer on Windows, built as xb2.exe in
// a folder of its own. Called as "xb2.exe KEY INPUT OUTPUT", it writes OUTPUT
// as INPUT with every byte XORed with KEY. Environment variables:
//   VELMORA_FAKE_XB2_LOG   file to which one line is appended: the command
//       line exactly as received, the working folder, how the window was to
//       be shown, and the process id.
//   VELMORA_FAKE_XB2_MODE  xor (default) | hang (log, then wait for ever)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void Log() {
    const std::string path = Env("VELMORA_FAKE_XB2_LOG");
    if (path.empty()) {
        return;
    }
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    std::ofstream(path, std::ios::app)
        << "cmdline=[" << ::GetCommandLineA() << "] cwd=" << cwd
        << " showflag=" << ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0)
        << " show=" << startup.wShowWindow << " pid=" << ::GetCurrentProcessId() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    Log();
    if (Env("VELMORA_FAKE_XB2_MODE") == "hang") {
        ::Sleep(INFINITE);
    }
    if (argc != 4) {
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        return 4;
    }
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto key = static_cast<char>(std::strtoul(argv[1], nullptr, 0));
    for (char& c : data) {
        c = static_cast<char>(c ^ key);
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return out ? 7 : 5;  // 7: an exit code the caller can recognise
}
