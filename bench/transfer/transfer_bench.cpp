// Transfer figures on a pty: velmora-cli against the emulated receiver.
//
//   transfer_bench CLI_PATH [BYTES]
//
// prints a Markdown table: wall time over the pacing floor, wall time over the
// line floor with the receiver throttled to 115200 baud, and the tool's CPU
// while it waits 3 s for the ready signal.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/RunProgram.h"
#include "emulator/ReceiverEmulator.h"

namespace {

using velmora::emu::EmulatorOptions;
using velmora::emu::ReceiverEmulator;
using velmora::emu::TransferReport;

struct Run {
    bool ok = false;
    TransferReport report;
    double cpuSeconds = 0;   // user + system of the tool
    double wallSeconds = 0;  // the tool's whole run
};

Run RunOnce(const std::string& cli, const std::string& file, EmulatorOptions options) {
    Run run;
    ReceiverEmulator emulator(std::move(options));
    std::string error;
    if (!emulator.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return run;
    }
    std::vector<std::string> args = {cli, "send", file, "--port", emulator.SlavePath(), "--quiet"};
    const velmora::bench::ProgramRun program = velmora::bench::RunProgram(std::move(args));
    if (!program.started) {
        return run;
    }
    run.wallSeconds = program.wallSeconds;
    run.cpuSeconds = program.cpuSeconds;
    emulator.WaitForReport(std::chrono::seconds(5), run.report);
    run.ok = program.succeeded && run.report.verified;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: transfer_bench CLI_PATH [BYTES]\n");
        return 2;
    }
    const std::string cli = argv[1];
    const std::size_t bytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024 * 1024;
    const auto file = std::filesystem::temp_directory_path() / "velmora-bench.bin";
    {
        std::vector<char> data(bytes);
        unsigned x = 7;
        for (auto& c : data) {
            x = x * 1103515245U + 12345U;
            c = static_cast<char>(x >> 16);
        }
        std::ofstream(file, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(bytes));
    }
    const double n = static_cast<double>(bytes);

    EmulatorOptions plain;
    const Run paced = RunOnce(cli, file.string(), plain);
    const double pacingFloor = n * 70e-6 + 12 * 101e-6;

    EmulatorOptions throttled;
    throttled.throttleBaud = 115200;
    const Run line = RunOnce(cli, file.string(), throttled);
    const double lineFloor = n * 10.0 / 115200.0;

    // A one-byte file: nearly all of the run is the wait for the ready signal.
    const auto tiny = std::filesystem::temp_directory_path() / "velmora-bench-1.bin";
    std::ofstream(tiny, std::ios::binary).put('x');
    EmulatorOptions late;
    late.powerOnDelay = std::chrono::milliseconds(3000);
    const Run waiting = RunOnce(cli, tiny.string(), late);

    std::filesystem::remove(file);
    std::filesystem::remove(tiny);

    std::printf("| figure | measured | target |\n|---|---|---|\n");
    std::printf("| wall time / pacing floor (%zu bytes: %.2f s / %.2f s) | %.3f | <= 1.25 |\n",
                bytes, paced.report.seconds, pacingFloor, paced.report.seconds / pacingFloor);
    std::printf(
        "| throttled to 115200 baud: wall time / line floor (%.2f s / %.2f s) | %.3f | <= 1.05 |\n",
        line.report.seconds, lineFloor, line.report.seconds / lineFloor);
    std::printf(
        "| tool CPU while waiting 3 s for the ready signal (%.3f s CPU in %.2f s) | %.2f %% | <= 2 "
        "%% |\n",
        waiting.cpuSeconds, waiting.wallSeconds, 100.0 * waiting.cpuSeconds / waiting.wallSeconds);
    const bool ok = paced.ok && line.ok && waiting.ok;
    if (!ok) {
        std::fprintf(stderr, "a transfer did not verify: %s / %s / %s\n",
                     paced.report.problem.c_str(), line.report.problem.c_str(),
                     waiting.report.problem.c_str());
    }
    return ok ? 0 : 1;
}
