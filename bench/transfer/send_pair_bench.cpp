// Builds of `velmora-cli send` side by side: each sends the same file to the
// project's emulator running in a process of its own (velmora-emulator
// --expect FILE -- CLI send FILE --port {port} --quiet), unthrottled, the
// builds taking turns, ROUNDS times. The receiver's process competes for the
// cores as a window or other programs do on a bench PC.
//
//   send_pair_bench EMULATOR_PATH BYTES ROUNDS NAME=CLI_PATH [NAME=CLI_PATH ...]
//
// prints a Markdown row per run: the receiver's wall time (start byte to last
// acknowledgement, from the emulator's verdict) over the pacing floor, N x 70
// us + 12 x 101 us; then each build's best, median and worst ratio.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/RunProgram.h"

namespace {

// The receiver's rate from the emulator's verdict ("verified: ... 14.2 KiB/s"); 0 when
// the transfer did not verify.
double VerifiedRate(const std::string& output) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("velmora-emulator: verified: ");
        const std::size_t unit = line.rfind(" KiB/s");
        if (at != std::string::npos && unit != std::string::npos) {
            const std::size_t from = line.rfind(", ", unit);
            return std::atof(line.substr(from + 2, unit - from - 2).c_str());
        }
    }
    return 0;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: send_pair_bench EMULATOR_PATH BYTES ROUNDS NAME=CLI_PATH "
                     "[NAME=CLI_PATH ...]\n");
        return 2;
    }
    const std::string emulator = argv[1];
    const std::size_t bytes = std::strtoul(argv[2], nullptr, 10);
    const int rounds = std::atoi(argv[3]);
    const auto dir = std::filesystem::temp_directory_path();
    const std::string file = (dir / "velmora-send-pair.bin").string();
    const std::string output = (dir / "velmora-send-pair.txt").string();
    {
        std::vector<char> data(bytes);
        unsigned x = 11;
        for (auto& c : data) {
            x = x * 1103515245U + 12345U;
            c = static_cast<char>(x >> 16);
        }
        std::ofstream(file, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(bytes));
    }
    const double floor = static_cast<double>(bytes) * 70e-6 + 12 * 101e-6;
    std::printf(
        "| round | build | receiver's rate | wall time | / pacing floor (%.2f s) |\n"
        "|---|---|---|---|---|\n",
        floor);
    std::map<std::string, std::vector<double>> ratios;
    bool ok = true;
    for (int round = 1; round <= rounds; ++round) {
        for (int i = 4; i < argc; ++i) {
            const std::string build = argv[i];
            const std::size_t eq = build.find('=');
            const std::string name = build.substr(0, eq);
            const std::string cli = build.substr(eq + 1);
            velmora::bench::RunProgram({emulator, "--expect", file, "--", cli, "send", file,
                                        "--port", "{port}", "--quiet"},
                                       output);
            const double rate = VerifiedRate(ReadText(output));
            ok = ok && rate > 0;
            const double wall = rate > 0 ? static_cast<double>(bytes) / (rate * 1024.0) : 0;
            ratios[name].push_back(wall / floor);
            std::printf("| %d | %s | %.1f KiB/s | %.2f s | %.3f |\n", round, name.c_str(), rate,
                        wall, wall / floor);
            std::fflush(stdout);
        }
    }
    std::printf("\n| build | best | median | worst |\n|---|---|---|---|\n");
    for (auto& [name, values] : ratios) {
        std::sort(values.begin(), values.end());
        std::printf("| %s | %.3f | %.3f | %.3f |\n", name.c_str(), values.front(),
                    values[values.size() / 2], values.back());
    }
    std::filesystem::remove(file);
    std::filesystem::remove(output);
    return ok ? 0 : 1;
}
