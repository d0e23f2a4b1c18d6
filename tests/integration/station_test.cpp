// velmora-cli station against several emulated receivers on ptys at once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "base/Sha256.h"
#include "emulator/ReceiverEmulator.h"
#include "serial/PortMonitor.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "transfer/Station.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using emu::EmulatorOptions;
using emu::ReceiverEmulator;
using emu::TransferReport;

std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs `station --once` against one emulated receiver per set of options;
// returns the exit status and fills in each receiver's report.
int RunStation(test::TempDir& dir, const std::string& file, const std::string& log,
               const std::vector<EmulatorOptions>& receivers, std::vector<TransferReport>& reports,
               std::string& output) {
    std::vector<std::unique_ptr<ReceiverEmulator>> emulators;
    std::vector<std::string> args = {VELMORA_CLI_PATH, "station", file,    "--once",
                                     "--progress",     "lines",   "--log", log};
    for (const EmulatorOptions& options : receivers) {
        emulators.push_back(std::make_unique<ReceiverEmulator>(options));
        std::string error;
        EXPECT_TRUE(emulators.back()->Start(error)) << error;
        args.push_back("--port");
        args.push_back(emulators.back()->SlavePath());
    }
    test::ChildProcess cli(args, dir.File("station-output.txt"));
    const int status = cli.Wait(120s);
    output = cli.Output();
    for (auto& emulator : emulators) {
        TransferReport report;
        EXPECT_TRUE(emulator->WaitForReport(10s, report)) << "a receiver saw no end";
        reports.push_back(report);
    }
    return status;
}

TEST(Station, EveryReceiverGetsTheFileAndAFaultyOneFailsAlone) {
    test::TempDir dir;
    const auto image = test::PatternBytes(3000);
    const std::string file = dir.Write("fw.bin", image);
    EmulatorOptions good;
    good.expectedData = image;
    good.expectedOffset = 0x00010000;

    std::vector<TransferReport> reports;
    std::string output;
    const std::string log = dir.File("jobs.jsonl");
    ASSERT_EQ(RunStation(dir, file, log, {good, good}, reports, output), 0) << output;
    for (const TransferReport& report : reports) {
        EXPECT_TRUE(report.verified) << report.problem;
    }
    auto lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2U);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("\"outcome\":\"finished\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"bytesSent\":3000"), std::string::npos) << line;
    }
    EXPECT_NE(output.find("finished 2, failed 0"), std::string::npos) << output;

    // The same with a receiver that hangs up after its second block.
    EmulatorOptions faulty = good;
    faulty.hangupAfterBlocks = 2;
    reports.clear();
    ASSERT_EQ(RunStation(dir, file, log, {good, faulty, good}, reports, output), 6) << output;
    EXPECT_TRUE(reports[0].verified) << reports[0].problem;
    EXPECT_FALSE(reports[1].verified);
    EXPECT_TRUE(reports[2].verified) << reports[2].problem;
    lines = LogLines(log);
    ASSERT_EQ(lines.size(), 5U);
    int finished = 0;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        finished += lines[i].find("\"outcome\":\"finished\"") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(finished, 2) << output;
    EXPECT_NE(output.find("finished 2, failed 1"), std::string::npos) << output;
}

TEST(Station, AReceiverThatStopsReadingNeverHoldsUpTheOthers) {
    // The wedged receiver's line fills after about 64 KiB; from then on its
    // bytes wait, and its job fails once the line takes nothing for seconds.
    test::TempDir dir;
    const auto image = test::PatternBytes(100'000, 6);
    const std::string file = dir.Write("fw.bin", image);
    EmulatorOptions good;
    good.expectedData = image;
    EmulatorOptions wedged = good;
    wedged.stopReadingAfterBlocks = 2;
    std::vector<TransferReport> reports;
    std::string output;
    const std::string log = dir.File("jobs.jsonl");
    EXPECT_EQ(RunStation(dir, file, log, {good, wedged, good}, reports, output), 6) << output;
    ASSERT_EQ(reports.size(), 3U);
    for (const std::size_t healthy : {0U, 2U}) {
        EXPECT_TRUE(reports[healthy].verified) << reports[healthy].problem;
        EXPECT_LT(reports[healthy].longestDataGapSeconds, 1.0) << "a healthy line was held up";
    }
    const auto lines = LogLines(log);
    ASSERT_EQ(lines.size(), 3U) << output;
    int finished = 0;
    int stalled = 0;
    for (const std::string& line : lines) {
        finished += line.find("\"outcome\":\"finished\"") != std::string::npos ? 1 : 0;
        stalled += line.find("\"outcome\":\"timed out\"") != std::string::npos &&
                           line.find("stopped taking data") != std::string::npos
                       ? 1
                       : 0;
    }
    EXPECT_EQ(finished, 2) << output;
    EXPECT_EQ(stalled, 1) << output;
}

TEST(Station, APortGivenTwiceIsRefusedAsSuchBeforeAnyStarts) {
    test::TempDir dir;
    ReceiverEmulator receiver(EmulatorOptions{});
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;
    const std::string link = dir.File("receiver-link");
    std::filesystem::create_symlink(receiver.SlavePath(), link);
    const std::string file = dir.Write("fw.bin", test::PatternBytes(100));
    for (const std::string& second : {receiver.SlavePath(), link}) {
        test::ChildProcess cli({VELMORA_CLI_PATH, "station", file, "--port", receiver.SlavePath(),
                                "--port", second, "--log", dir.File("jobs.jsonl")},
                               dir.File("twice.txt"));
        EXPECT_EQ(cli.Wait(60s), 2) << cli.Output();
        EXPECT_NE(cli.Output().find("--port " + second + " names the same port as --port " +
                                    receiver.SlavePath()),
                  std::string::npos)
            << cli.Output();
        EXPECT_EQ(cli.Output().find("in use by"), std::string::npos) << cli.Output();
    }
}

TEST(Station, AReceiverSilentAtTheHeaderTimesOutAsAJobAndTheNextBoxIsServed) {
    // The tool's limit (1 s) comes long before the emulator swaps a silent box.
    test::TempDir dir;
    EmulatorOptions silent;
    silent.neverAck = true;
    silent.cycles = 2;
    silent.stallLimit = 20s;
    ReceiverEmulator receiver(silent);
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;
    const std::string log = dir.File("jobs.jsonl");
    test::ChildProcess cli(
        {VELMORA_CLI_PATH, "station", dir.Write("fw.bin", test::PatternBytes(500)), "--port",
         receiver.SlavePath(), "--timeout", "1", "--progress", "lines", "--log", log},
        dir.File("silent.txt"));
    const std::string said =
        "failed: The receiver did not answer within 1 s while waiting for the receiver to "
        "accept the header";
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (LogLines(log).size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);  // a look at the log now and then
    }
    EXPECT_NE(cli.Output().find(said), std::string::npos) << cli.Output();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(30s), 6) << cli.Output();
    const auto lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2U) << cli.Output();
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("\"outcome\":\"timed out\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"bytesSent\":0,"), std::string::npos) << line;
    }
}

// What a station tells its host, kept for the test.
class EndsSeen final : public IStationHost {
public:
    void OnWaiting(const std::string& /*port*/) override {
        if (onWaiting) {
            onWaiting();
        }
    }
    void OnSending(const std::string& /*port*/, std::uint64_t /*total*/) override {}
    void OnBytesSent(const std::string& /*port*/, std::uint64_t /*sent*/,
                     std::uint64_t /*total*/) override {}
    void OnJobEnded(const StationJobEnd& end) override {
        if (onEnded) {
            onEnded(end);
        }
        std::lock_guard lock(m_mutex);
        ends.push_back(end);
        m_changed.notify_all();
    }
    void OnPortDropped(const std::string& /*port*/, const std::string& reason) override {
        std::lock_guard lock(m_mutex);
        dropped.push_back(reason);
        m_changed.notify_all();
    }
    void OnWaitingForFile(const std::string& /*port*/, const std::string& reason) override {
        std::lock_guard lock(m_mutex);
        fileWaits.push_back(reason);
        m_changed.notify_all();
    }
    // The reasons of every wait for the file so far, once there was one;
    // empty when `timeout` passed first or the port was dropped.
    std::vector<std::string> WaitForFileWait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return !fileWaits.empty() || !dropped.empty(); });
        return fileWaits;
    }
    std::vector<StationJobEnd> Ends() {
        std::lock_guard lock(m_mutex);
        return ends;
    }
    // True once `count` jobs have ended; false when `timeout` passed first.
    bool WaitForEnds(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return ends.size() >= count; });
    }
    // Runs between a job's end and the port's next job.
    std::function<void(const StationJobEnd&)> onEnded;
    // Runs as a job begins to wait for its receiver, its file open.
    std::function<void()> onWaiting;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<StationJobEnd> ends;
    std::vector<std::string> dropped;
    std::vector<std::string> fileWaits;
};

TEST(Station, AnAdapterPluggedInWhileItRunsIsServed) {
    test::TempDir dir;
    const auto image = test::PatternBytes(1500);
    EmulatorOptions options;
    options.expectedData = image;
    ReceiverEmulator receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;

    // The adapter list: empty at first, then the emulated receiver's line,
    // seen as a USB adapter.
    std::atomic<bool> plugged{false};
    PollingPortMonitor monitor(
        [&] {
            std::vector<SerialPortInfo> ports;
            if (plugged.load()) {
                SerialPortInfo port;
                port.name = receiver.SlavePath();
                port.usb = true;
                ports.push_back(port);
            }
            return ports;
        },
        std::chrono::milliseconds(50));
    EndsSeen host;
    StationSettings settings;
    settings.file = dir.Write("fw.bin", image);
    settings.once = true;
    CStation station(host, settings);
    bool refusedList = false;
    ASSERT_EQ(station.Prepare(refusedList), "");
    CAdapterFollower follower(station, monitor, nullptr);
    ASSERT_TRUE(follower.Start(error)) << error;
    plugged.store(true);

    TransferReport report;
    ASSERT_TRUE(receiver.WaitForReport(60s, report)) << "the plugged adapter was never served";
    EXPECT_TRUE(report.verified) << report.problem;
    follower.Stop();
    ASSERT_TRUE(station.WaitFor(30s));
    EXPECT_EQ(follower.Taken(), 1);
    const auto ends = host.Ends();
    ASSERT_EQ(ends.size(), 1U);
    EXPECT_EQ(ends[0].outcome, JobOutcome::Finished);
    EXPECT_EQ(ends[0].port, receiver.SlavePath());
}

TEST(Station, EveryBoxGetsTheImageTheStationMadeThoughTheFolderIsConvertedAgain) {
    test::TempDir dir;
    EndsSeen host;
    StationSettings settings;
    settings.file = std::string(VELMORA_SOURCE_DIR) + "/res/sample-channels.sdx";
    settings.values.strUpgradeType = "Database";
    // Small sections and no zero fill: a short transfer.
    settings.values.nMaxSat = 4;
    settings.values.nMaxTp = 8;
    settings.values.nMaxTv = 16;
    settings.values.nMaxRadio = 4;
    settings.values.lDbSize = 0;
    settings.workDir = dir.path().string();
    CStation station(host, settings);
    bool refusedList = false;
    ASSERT_EQ(station.Prepare(refusedList), "");
    const auto image = test::ReadFileBytes(dir.File("db1.bin"));
    const std::string digest = Sha256Hex(std::string(image.begin(), image.end()));
    // Another conversion in the same folder rewrites db1.bin after the first box.
    host.onEnded = [&dir, size = image.size()](const StationJobEnd&) {
        std::ofstream(dir.File("db1.bin"), std::ios::binary | std::ios::trunc)
            << std::string(size, 'x');
    };
    EmulatorOptions options;
    options.expectedData = image;
    options.cycles = 2;
    ReceiverEmulator receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;
    ASSERT_EQ(station.AddPort(receiver.SlavePath(), error), StartResult::Started) << error;
    ASSERT_TRUE(host.WaitForEnds(2, 90s)) << "the boxes were not served";
    station.Stop();
    ASSERT_TRUE(station.WaitFor(30s));
    const auto reports = receiver.Reports();
    ASSERT_EQ(reports.size(), 2U);
    for (const TransferReport& report : reports) {
        EXPECT_TRUE(report.verified) << report.problem;
    }
    const auto ends = host.Ends();
    ASSERT_GE(ends.size(), 2U);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(ends[i].outcome, JobOutcome::Finished);
        EXPECT_EQ(ends[i].record.sha256, digest);
        EXPECT_EQ(ends[i].record.list, settings.file);
    }
}

TEST(Station, AFileReplacedBetweenBoxesIsTakenAsItIsWhenTheNextReceiverAnnouncesItself) {
    test::TempDir dir;
    const auto first = test::PatternBytes(1200, 1);
    const auto second = test::PatternBytes(1500, 2);
    EndsSeen host;
    StationSettings settings;
    settings.file = dir.Write("fw.bin", first);
    // The technician puts the next version in place while the port waits
    // for its second receiver.
    host.onWaiting = [&, waits = 0]() mutable {
        if (++waits == 2) {
            const std::string next = dir.Write("fw.bin.new", second);
            std::filesystem::rename(next, settings.file);
        }
    };
    CStation station(host, settings);
    bool refusedList = false;
    ASSERT_EQ(station.Prepare(refusedList), "");
    EmulatorOptions options;
    options.cycles = 2;
    ReceiverEmulator receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;
    ASSERT_EQ(station.AddPort(receiver.SlavePath(), error), StartResult::Started) << error;
    ASSERT_TRUE(host.WaitForEnds(2, 90s)) << "the boxes were not served";
    station.Stop();
    ASSERT_TRUE(station.WaitFor(30s));
    const auto reports = receiver.Reports();
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports[0].data, first);
    EXPECT_EQ(reports[1].data, second);
    const auto ends = host.Ends();
    ASSERT_GE(ends.size(), 2U);
    EXPECT_EQ(ends[0].outcome, JobOutcome::Finished) << ends[0].record.message;
    EXPECT_EQ(ends[1].outcome, JobOutcome::Finished) << ends[1].record.message;
    EXPECT_EQ(ends[1].record.sha256, Sha256Hex(std::string(second.begin(), second.end())));
    EXPECT_EQ(ends[1].record.size, second.size());
}

TEST(Station, APortWhoseFileIsMissingSaysSoWaitsForItAndGoesOn) {
    // The file goes while the port waits for its second receiver, which then
    // announces itself; it comes back once the port says it waits for it.
    test::TempDir dir;
    const auto image = test::PatternBytes(1200, 5);
    EndsSeen host;
    StationSettings settings;
    settings.file = dir.Write("fw.bin", image);
    host.onWaiting = [&, waits = 0]() mutable {
        if (++waits == 2) {
            std::filesystem::remove(settings.file);
        }
    };
    CStation station(host, settings);
    bool refusedList = false;
    ASSERT_EQ(station.Prepare(refusedList), "");
    EmulatorOptions options;
    options.expectedData = image;
    options.cycles = 2;
    ReceiverEmulator receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.Start(error)) << error;
    ASSERT_EQ(station.AddPort(receiver.SlavePath(), error), StartResult::Started) << error;
    const auto waits = host.WaitForFileWait(60s);
    ASSERT_FALSE(waits.empty()) << "the port never said it waits for the file";
    EXPECT_NE(waits[0].find(settings.file), std::string::npos) << waits[0];
    dir.Write("fw.bin", image);
    ASSERT_TRUE(host.WaitForEnds(2, 90s)) << "the port did not go on";
    station.Stop();
    ASSERT_TRUE(station.WaitFor(30s));
    for (const TransferReport& report : receiver.Reports()) {
        EXPECT_TRUE(report.verified) << report.problem;
    }
    EXPECT_EQ(receiver.Reports().size(), 2U);
    for (const StationJobEnd& end : host.Ends()) {
        EXPECT_EQ(end.outcome, JobOutcome::Finished) << end.record.message;
    }
}

}  // namespace
}  // namespace velmora
