// Station figures on ptys: `velmora-cli station --once` against N emulated
// receivers at once, each throttled to a 115200 line and acknowledging 1 ms
// late (a USB adapter in low-latency mode).
//
//   station_bench CLI_PATH BYTES N [N ...]
//
// prints a Markdown table per N: each receiver's wall time over its line
// floor (worst and mean), the station's CPU over its wall time (cores), and
// receivers per hour. The receivers run in this process, so the station's
// own CPU (getrusage of its process) is all that the CPU figure counts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/RunProgram.h"
#include "emulator/ReceiverEmulator.h"

namespace {

using velmora::emu::EmulatorOptions;
using velmora::emu::ReceiverEmulator;
using velmora::emu::TransferReport;

struct StationRun {
    bool ok = false;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::vector<TransferReport> reports;
};

StationRun RunStation(const std::string& cli, const std::string& file, int receivers) {
    StationRun run;
    std::vector<std::unique_ptr<ReceiverEmulator>> emulators;
    std::vector<std::string> args = {cli, "station", file, "--once", "--quiet", "--log",
                                     (std::filesystem::temp_directory_path() /
                                      "velmora-station-bench.jsonl")
                                         .string()};
    for (int i = 0; i < receivers; ++i) {
        EmulatorOptions options;
        options.throttleBaud = 115200;
        options.ackDelay = std::chrono::milliseconds(1);
        emulators.push_back(std::make_unique<ReceiverEmulator>(options));
        std::string error;
        if (!emulators.back()->Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return run;
        }
        args.push_back("--port");
        args.push_back(emulators.back()->SlavePath());
    }
    const velmora::bench::ProgramRun program = velmora::bench::RunProgram(std::move(args));
    run.wallSeconds = program.wallSeconds;
    run.cpuSeconds = program.cpuSeconds;
    run.ok = program.succeeded;
    if (!program.started) {
        return run;
    }
    for (auto& emulator : emulators) {
        TransferReport report;
        emulator->WaitForReport(std::chrono::seconds(5), report);
        run.ok = run.ok && report.verified;
        run.reports.push_back(std::move(report));
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: station_bench CLI_PATH BYTES N [N ...]\n");
        return 2;
    }
    const std::string cli = argv[1];
    const std::size_t bytes = std::strtoul(argv[2], nullptr, 10);
    const auto file = std::filesystem::temp_directory_path() / "velmora-station-bench.bin";
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
    const double lineFloor = static_cast<double>(bytes) * 10.0 / 115200.0;
    std::printf("| receivers | wall / line floor: worst, mean | station CPU (cores) | receivers "
                "per hour | verified |\n|---|---|---|---|---|\n");
    bool ok = true;
    for (int i = 3; i < argc; ++i) {
        const int n = std::atoi(argv[i]);
        const StationRun run = RunStation(cli, file.string(), n);
        double worst = 0;
        double sum = 0;
        for (const TransferReport& r : run.reports) {
            worst = std::max(worst, r.seconds / lineFloor);
            sum += r.seconds / lineFloor;
        }
        std::printf("| %d | %.3f, %.3f | %.3f (%.1f s CPU in %.1f s) | %.0f | %s |\n", n, worst,
                    sum / n, run.cpuSeconds / run.wallSeconds, run.cpuSeconds, run.wallSeconds,
                    n * 3600.0 / run.wallSeconds, run.ok ? "all" : "NOT ALL");
        std::fflush(stdout);
        ok = ok && run.ok;
    }
    std::filesystem::remove(file);
    return ok ? 0 : 1;
}
