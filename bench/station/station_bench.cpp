// Station figures on ptys: `velmora-cli station --once` against N emulated
// receivers at once, each throttled to a 115200 line and acknowledging 1 ms
// late (a USB adapter in low-latency mode).
//
//   station_bench CLI_PATH BYTES N [N ...]
//   station_bench --window VELMORA_PATH CLI_PATH BYTES N ROUNDS
//
// The first prints a Markdown table per N: each receiver's wall time over its
// line floor (worst and mean), the station's CPU over its wall time (cores),
// and receivers per hour. The second runs the same station ROUNDS times from
// the command line and from the station window (velmora --station ... --once
// --start on Qt's offscreen platform), one after the other, and gives a row
// for each run and the worst ratio of each. The receivers run in this
// process, so the station's own CPU (getrusage of its process) is all that
// the CPU figure counts; the window, which stays open once the run is over,
// is ended as soon as every receiver has reported.
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

    double Worst(double floor) const {
        double worst = 0;
        for (const TransferReport& r : reports) {
            worst = std::max(worst, r.seconds / floor);
        }
        return worst;
    }
    double Mean(double floor) const {
        double sum = 0;
        for (const TransferReport& r : reports) {
            sum += r.seconds / floor;
        }
        return reports.empty() ? 0 : sum / static_cast<double>(reports.size());
    }
};

std::string LogPath() {
    return (std::filesystem::temp_directory_path() / "velmora-station-bench.jsonl").string();
}

// Runs `command` with one --port per emulated receiver. A window stays open:
// it is ended once every receiver has reported.
StationRun RunStation(std::vector<std::string> args, int receivers, bool window) {
    StationRun run;
    std::vector<std::unique_ptr<ReceiverEmulator>> emulators;
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
    velmora::bench::Program program(std::move(args));
    if (!program.Started()) {
        return run;
    }
    const auto wait = window ? std::chrono::seconds(3600) : std::chrono::seconds(0);
    velmora::bench::ProgramRun ran = window ? velmora::bench::ProgramRun{} : program.Finish();
    run.ok = true;
    for (auto& emulator : emulators) {
        TransferReport report;
        emulator->WaitForReport(wait + std::chrono::seconds(5), report);
        run.ok = run.ok && report.verified;
        run.reports.push_back(std::move(report));
    }
    if (window) {
        ran = program.Finish(true);
        ran.succeeded = true;  // ended by this benchmark
    }
    run.wallSeconds = ran.wallSeconds;
    run.cpuSeconds = ran.cpuSeconds;
    run.ok = run.ok && ran.succeeded;
    return run;
}

std::vector<std::string> CliStation(const std::string& cli, const std::string& file) {
    return {cli, "station", file, "--once", "--quiet", "--log", LogPath()};
}

std::vector<std::string> WindowStation(const std::string& velmora, const std::string& file) {
    return {velmora, "--station", file, "--once", "--start", "--log", LogPath()};
}

std::filesystem::path WriteImage(std::size_t bytes) {
    const auto file = std::filesystem::temp_directory_path() / "velmora-station-bench.bin";
    std::vector<char> data(bytes);
    unsigned x = 7;
    for (auto& c : data) {
        x = x * 1103515245U + 12345U;
        c = static_cast<char>(x >> 16);
    }
    std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
    return file;
}

void PrintRow(const char* from, int n, const StationRun& run, double floor) {
    std::printf("| %s | %d | %.3f, %.3f | %.3f (%.1f s CPU in %.1f s) | %.0f | %s |\n", from, n,
                run.Worst(floor), run.Mean(floor), run.cpuSeconds / run.wallSeconds, run.cpuSeconds,
                run.wallSeconds, n * 3600.0 / run.wallSeconds, run.ok ? "all" : "NOT ALL");
    std::fflush(stdout);
}

// The command line and the window, one after the other, `rounds` times.
int CompareWithWindow(const std::string& velmora, const std::string& cli, std::size_t bytes, int n,
                      int rounds) {
    const auto file = WriteImage(bytes);
    const double floor = static_cast<double>(bytes) * 10.0 / 115200.0;
    // The window draws on no screen: Qt's offscreen platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::printf(
        "| from | receivers | wall / line floor: worst, mean | station CPU (cores) | "
        "receivers per hour | verified |\n|---|---|---|---|---|---|\n");
    double worstCli = 0;
    double worstWindow = 0;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        const StationRun line = RunStation(CliStation(cli, file.string()), n, false);
        PrintRow("velmora-cli station", n, line, floor);
        const StationRun window = RunStation(WindowStation(velmora, file.string()), n, true);
        PrintRow("station window", n, window, floor);
        worstCli = std::max(worstCli, line.Worst(floor));
        worstWindow = std::max(worstWindow, window.Worst(floor));
        ok = ok && line.ok && window.ok;
    }
    std::printf("\nworst ratio: command line %.3f, window %.3f, window - command line %+.3f\n",
                worstCli, worstWindow, worstWindow - worstCli);
    std::filesystem::remove(file);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--window") {
        return CompareWithWindow(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10),
                                 std::atoi(argv[5]), std::atoi(argv[6]));
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: station_bench CLI_PATH BYTES N [N ...]\n"
                     "       station_bench --window VELMORA_PATH CLI_PATH BYTES N ROUNDS\n");
        return 2;
    }
    const std::string cli = argv[1];
    const std::size_t bytes = std::strtoul(argv[2], nullptr, 10);
    const auto file = WriteImage(bytes);
    const double lineFloor = static_cast<double>(bytes) * 10.0 / 115200.0;
    std::printf(
        "| receivers | wall / line floor: worst, mean | station CPU (cores) | receivers "
        "per hour | verified |\n|---|---|---|---|---|\n");
    bool ok = true;
    for (int i = 3; i < argc; ++i) {
        const int n = std::atoi(argv[i]);
        const StationRun run = RunStation(CliStation(cli, file.string()), n, false);
        std::printf("| %d | %.3f, %.3f | %.3f (%.1f s CPU in %.1f s) | %.0f | %s |\n", n,
                    run.Worst(lineFloor), run.Mean(lineFloor), run.cpuSeconds / run.wallSeconds,
                    run.cpuSeconds, run.wallSeconds, n * 3600.0 / run.wallSeconds,
                    run.ok ? "all" : "NOT ALL");
        std::fflush(stdout);
        ok = ok && run.ok;
    }
    std::filesystem::remove(file);
    return ok ? 0 : 1;
}
