// velmora-cli as a technician runs it, against the emulated boot loader on a
// pty, including a receiver that misbehaves.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "base/Json.h"
#include "base/Sha256.h"
#include "emulator/ReceiverEmulator.h"
#include "serial/SerialPort.h"
#include "serial/port_holders_linux.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using emu::EmulatorOptions;
using emu::ReceiverEmulator;
using emu::TransferReport;
using test::ChildProcess;
using test::PatternBytes;
using test::TempDir;

constexpr auto kJobDeadline = 60s;
constexpr const char* kNoPort = "/dev/velmora-no-such-port";
const std::string kSampleList = std::string(VELMORA_SOURCE_DIR) + "/res/sample-channels.sdx";

class CliAgainstEmulator : public ::testing::Test {
protected:
    void StartEmulator(EmulatorOptions options) {
        emulator = std::make_unique<ReceiverEmulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(emulator->Start(error)) << error;
    }
    std::unique_ptr<ChildProcess> RunCli(std::vector<std::string> args,
                                         const std::map<std::string, std::string>& env = {}) {
        args.insert(args.begin(), VELMORA_CLI_PATH);
        return std::make_unique<ChildProcess>(args, dir.File("cli-output.txt"), env);
    }
    TransferReport Report(std::chrono::milliseconds timeout = 10s) {
        TransferReport report;
        EXPECT_TRUE(emulator->WaitForReport(timeout, report)) << "the emulator saw no end";
        return report;
    }

    TempDir dir;
    std::unique_ptr<ReceiverEmulator> emulator;
};

TEST_F(CliAgainstEmulator, ProgramImageIsSentAndVerified) {
    const auto image = PatternBytes(5000);
    EmulatorOptions options;
    options.expectedData = image;
    options.expectedOffset = 0x00010000;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", image), "--port", emulator->SlavePath(), "-t",
                       "code", "--progress", "lines"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    const TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
    const std::string out = cli->Output();
    // What goes where, before the wait; the bars end on what happened.
    const auto preview = out.find("(5,000 bytes, checksum 0x");
    const auto waiting = out.find("Waiting for the receiver");
    ASSERT_NE(preview, std::string::npos) << out;
    EXPECT_LT(preview, waiting) << out;
    EXPECT_NE(out.find("as Code to flash offset 0x00010000 through"), std::string::npos) << out;
    EXPECT_NE(out.find("send 100%  5,000/5,000 bytes"), std::string::npos) << out;
    const auto finish = out.find("Data send finish !");
    ASSERT_NE(finish, std::string::npos);
    EXPECT_EQ(out.find("0%", finish), std::string::npos) << "no bar redrawn after the end: " << out;
}

TEST_F(CliAgainstEmulator, DatabaseTypeUsesTheOffsetAndComNamesResolveThroughTheEnvironment) {
    const auto image = PatternBytes(777, 3);
    EmulatorOptions options;
    options.expectedData = image;
    options.expectedOffset = 0x1B0000;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("db.bin", image), "--port", "COM3", "-t", "DATABASE", "-o",
                       "0x1b0000", "--quiet"},
                      {{"VELMORA_COM3", emulator->SlavePath()}});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    EXPECT_TRUE(Report().verified);
}

TEST_F(CliAgainstEmulator, NoiseFaultyReadySignalsJunkAndSlowAcknowledgementsAreRidden) {
    const auto image = PatternBytes(1300, 5);
    EmulatorOptions options;
    options.expectedData = image;
    options.noiseBytes = 40;
    options.ready = EmulatorOptions::Ready::LateAc;
    options.faultyReadyCount = 2;
    options.junkBeforeAck = 3;
    options.ackDelay = 5ms;
    options.throttleBaud = 115200;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", image), "--port", emulator->SlavePath()});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    const TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
}

TEST_F(CliAgainstEmulator, ASilentReceiverTimesOutWhenAskedTo) {
    EmulatorOptions options;
    options.neverAck = true;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", PatternBytes(100)), "--port",
                       emulator->SlavePath(), "--timeout", "1"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 6);
    EXPECT_NE(cli->Output().find("did not answer within 1 s"), std::string::npos) << cli->Output();
    EXPECT_EQ(cli->Output().find("Data send finish"), std::string::npos);
}

TEST_F(CliAgainstEmulator, TheJobLogRecordsEachJobAndNeverFailsOne) {
    const auto image = PatternBytes(3000, 7);
    const std::string file = dir.Write("image.bin", image);
    const std::string log = dir.File("logs/jobs.jsonl");
    EmulatorOptions options;
    options.expectedData = image;
    StartEmulator(options);
    auto cli = RunCli({"send", file, "--port", emulator->SlavePath(), "--quiet", "--log", log});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    EXPECT_TRUE(Report().verified);

    options = {};
    options.neverAck = true;
    StartEmulator(options);
    cli = RunCli(
        {"send", file, "--port", emulator->SlavePath(), "--quiet", "--timeout", "1", "--log", log});
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();

    const auto logBytes = test::ReadFileBytes(log);
    std::istringstream lines(std::string(logBytes.begin(), logBytes.end()));
    std::string finished;
    std::string timedOut;
    std::string extra;
    std::getline(lines, finished);
    std::getline(lines, timedOut);
    EXPECT_FALSE(std::getline(lines, extra)) << "one line per job";
    const std::string digest(reinterpret_cast<const char*>(image.data()), image.size());
    for (const std::string& field :
         {"\"port\":\"" + emulator->SlavePath() + "\"",
          "\"size\":3000,\"sha256\":\"" + Sha256Hex(digest) + "\"",
          std::string("\"type\":\"Code\",\"offset\":\"0x00010000\",\"bytesSent\":3000,"),
          std::string(
              "\"outcome\":\"finished\",\"message\":\"Data send finish !\",\"jobId\":\"")}) {
        EXPECT_NE(finished.find(field), std::string::npos) << field << " in " << finished;
    }
    EXPECT_NE(timedOut.find("\"bytesSent\":0,"), std::string::npos) << timedOut;
    EXPECT_NE(timedOut.find("\"outcome\":\"timed out\""), std::string::npos) << timedOut;

    // A log that cannot be written leaves the finished job finished.
    options = {};
    StartEmulator(options);
    cli = RunCli(
        {"send", file, "--port", emulator->SlavePath(), "--quiet", "--log", file + "/jobs.jsonl"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    EXPECT_NE(
        cli->Output().find("warning: The job log " + file + "/jobs.jsonl could not be written"),
        std::string::npos)
        << cli->Output();
}

TEST_F(CliAgainstEmulator, APulledCableEndsTheJobPromptlyAndNeverAsSuccess) {
    EmulatorOptions options;
    options.hangupAfterBlocks = 3;
    StartEmulator(options);
    auto cli = RunCli(
        {"send", dir.Write("image.bin", PatternBytes(24000)), "--port", emulator->SlavePath()});
    const TransferReport report = Report(kJobDeadline);
    const auto hungUp = std::chrono::steady_clock::now();
    EXPECT_FALSE(report.verified);
    EXPECT_EQ(report.blocksAcknowledged, 3U);
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();
    // Without hang-up detection the job would wait for an acknowledgement that
    // never comes; the bound leaves room for a loaded sanitizer run.
    EXPECT_LT(std::chrono::steady_clock::now() - hungUp, 3s);
    EXPECT_NE(cli->Output().find("went away"), std::string::npos) << cli->Output();
    EXPECT_EQ(cli->Output().find("Data send finish"), std::string::npos);
}

TEST_F(CliAgainstEmulator, AStrayAcknowledgementCannotStandForTheNextBlock) {
    // A second 4F right behind the first block's acknowledgement; the
    // receiver, busy writing each block for 30 ms, loses what comes meanwhile.
    const auto image = PatternBytes(1000, 9);
    EmulatorOptions options;
    options.expectedData = image;
    options.strayAckAfterBlock = 1;
    options.ackDelay = 30ms;
    StartEmulator(options);
    auto cli = RunCli(
        {"send", dir.Write("image.bin", image), "--port", emulator->SlavePath(), "--timeout", "5"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    const TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
    EXPECT_EQ(report.blocksAcknowledged, 5U);
}

TEST_F(CliAgainstEmulator, OnlyAnAcknowledgementAfterABlocksLastByteCountsForIt) {
    // A second 4F comes 6 ms after block 20's acknowledgement, while block 21
    // is on its way, and the last block is never acknowledged: the job must
    // wait for the real acknowledgements and never call the upgrade finished.
    const auto image = PatternBytes(16384, 4);
    EmulatorOptions options;
    options.expectedData = image;
    options.ackDelay = 3ms;
    options.strayAckAfterBlock = 20;
    options.strayAckDelay = 6ms;
    options.neverAckLast = true;
    StartEmulator(options);
    const std::string log = dir.File("jobs.jsonl");
    auto cli = RunCli({"send", dir.Write("image.bin", image), "--port", emulator->SlavePath(),
                       "--timeout", "2", "--log", log});
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();
    EXPECT_EQ(cli->Output().find("Data send finish"), std::string::npos) << cli->Output();
    emulator->Stop();
    const TransferReport report = Report();
    EXPECT_EQ(report.bytesBeforeAck, 0U) << "a block went out before the one ahead was answered";
    EXPECT_EQ(report.blocksAcknowledged, 68U);
    EXPECT_EQ(report.data.size(), image.size());
    const auto record = test::ReadFileBytes(log);
    const std::string line(record.begin(), record.end());
    EXPECT_NE(line.find("\"bytesSent\":16320,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"outcome\":\"timed out\""), std::string::npos) << line;
}

TEST_F(CliAgainstEmulator, AReceiverThatRestartsEndsTheJobAtOnce) {
    EmulatorOptions options;
    options.restartAfterBlocks = 2;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", PatternBytes(2400)), "--port",
                       emulator->SlavePath(), "--timeout", "5"});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "not after the wait limit";
    const std::string out = cli->Output();
    EXPECT_NE(out.find("The receiver restarted during the upgrade (it sent its ready signal "
                       "again)"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Data send finish"), std::string::npos) << out;
    emulator->Stop();  // it would announce itself for ever
    const TransferReport report = Report();
    EXPECT_EQ(report.problem, "restarted after 2 blocks, as asked");
}

TEST_F(CliAgainstEmulator, WaitsEndWithTheRealLimitAndWhatCame) {
    // A silent receiver, a limit below a second, and a file name that is not
    // UTF-8: every JSON line stays UTF-8.
    EmulatorOptions silent;
    silent.neverAck = true;
    StartEmulator(silent);
    auto cli = RunCli({"send", dir.Write("fw\xff.bin", PatternBytes(100)), "--port",
                       emulator->SlavePath(), "--timeout", "0.4", "--progress", "json"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();
    std::string out = cli->Output();
    EXPECT_NE(out.find("did not answer within 0.4 s"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(fw\ufffd.bin)"), std::string::npos) << out;
    EXPECT_EQ(out.find('\xff'), std::string::npos) << out;
    // Bytes that never make the ready signal: most likely the wrong baud rate.
    EmulatorOptions garbled;
    garbled.ready = EmulatorOptions::Ready::NoAc;
    StartEmulator(garbled);
    cli = RunCli({"send", dir.Write("image.bin", PatternBytes(100)), "--port",
                  emulator->SlavePath(), "--timeout", "1"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 6) << cli->Output();
    out = cli->Output();
    EXPECT_NE(out.find("Bytes came from the receiver"), std::string::npos) << out;
    EXPECT_NE(out.find("baud rate"), std::string::npos) << out;
}

TEST_F(CliAgainstEmulator, FilesWrongForTheJobAreRefusedUpFront) {
    auto convert = RunCli({"convert", kSampleList, "--work-dir", dir.path().string(), "-q"});
    ASSERT_EQ(convert->Wait(kJobDeadline), 0) << convert->Output();
    const std::string database = dir.File("db1.bin");
    const std::string empty = dir.Write("empty.bin", {});
    const std::string huge = dir.Write("huge.bin", {});
    std::filesystem::resize_file(huge, 0x100000000ULL);  // sparse: 4 GiB
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"send", database, "--port", kNoPort}, 5, "is a channel database image"},
        {{"send", database, "--port", kNoPort, "--force"}, 4, "Going on as --force asks"},
        {{"send", empty, "--port", kNoPort}, 5, "add --force"},
        {{"send", empty, "--port", kNoPort, "--force"}, 4, kNoPort},
        {{"send", huge, "--port", kNoPort, "-t", "Database"}, 5, "at most 4,294,967,295 bytes"},
        {{"send", empty, "--port", kNoPort, "--offset", "1b0000"}, 2, "always goes to 0x10000"},
        {{"frobnicate"}, 2, "send, convert, inspect, ports, station and log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        auto cli = RunCli(c.args);
        EXPECT_EQ(cli->Wait(kJobDeadline), c.status) << cli->Output();
        EXPECT_NE(cli->Output().find(c.says), std::string::npos) << cli->Output();
    }
    if (::geteuid() != 0) {  // root writes anywhere
        const std::filesystem::path locked = dir.path() / "locked";
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(
            locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        auto cli = RunCli({"convert", kSampleList, "--work-dir", locked.string()});
        EXPECT_EQ(cli->Wait(kJobDeadline), 5) << cli->Output();
        EXPECT_NE(cli->Output().find("read-only"), std::string::npos) << cli->Output();
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

TEST_F(CliAgainstEmulator, CtrlCCancelsAWaitingJobAndFreesThePort) {
    EmulatorOptions options;
    options.ready = EmulatorOptions::Ready::NoAc;  // never a complete ready signal
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", {1, 2, 3}), "--port", emulator->SlavePath()});
    ASSERT_TRUE(cli->WaitForOutput("Waiting for the receiver", 10s)) << cli->Output();
    const auto interrupted = std::chrono::steady_clock::now();
    cli->Signal(SIGINT);
    EXPECT_EQ(cli->Wait(10s), 130) << cli->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 2s);
    EXPECT_NE(cli->Output().find("Cancelled"), std::string::npos) << cli->Output();
    CSerialPort port;
    EXPECT_EQ(port.OpenDevice(emulator->SlavePath(), 115200, 8, 0, 0), 1) << port.LastError();
}

// True once `signal` sent to the process `pid` is no longer pending: a
// thread of it has taken the signal. False at the deadline.
bool SignalTaken(pid_t pid, int signal, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const unsigned long long bit = 1ULL << (signal - 1);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("ShdPnd:", 0) == 0) {
                if ((std::stoull(line.substr(7), nullptr, 16) & bit) == 0) {
                    return true;
                }
            }
        }
        std::this_thread::yield();
    }
    return false;
}

TEST_F(CliAgainstEmulator, AnOutsideSigusr1NeitherEndsTheStationNorTakesCtrlCAway) {
    EmulatorOptions options;
    options.ready = EmulatorOptions::Ready::NoAc;  // never a complete ready signal
    StartEmulator(options);
    auto cli =
        RunCli({"station", dir.Write("image.bin", {1, 2, 3}), "--port", emulator->SlavePath(),
                "--progress", "lines", "--log", dir.File("jobs.jsonl")});
    ASSERT_TRUE(cli->WaitForOutput("waiting for the receiver", 10s)) << cli->Output();
    cli->Signal(SIGUSR1);
    ASSERT_TRUE(SignalTaken(cli->Pid(), SIGUSR1, 10s));
    cli->Signal(SIGINT);
    EXPECT_EQ(cli->Wait(10s), 0) << "no transfer was cut short: " << cli->Output();
    CSerialPort port;
    EXPECT_EQ(port.OpenDevice(emulator->SlavePath(), 115200, 8, 0, 0), 1) << port.LastError();
}

// The line's settings as a program that opens it next finds them.
termios LineSettings(const std::string& device) {
    termios tio{};
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << device;
    EXPECT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    return tio;
}

TEST_F(CliAgainstEmulator, AHangUpOrQuitMidTransferHandsThePortBackAndExitsAsShellsExpect) {
    const std::string lockFile = std::string(kUucpLockDir) + "/";
    for (const auto& [signal, status] : {std::pair{SIGHUP, 129}, std::pair{SIGQUIT, 131}}) {
        SCOPED_TRACE(status);
        EmulatorOptions options;
        options.ackDelay = 50ms;  // 100 blocks: 5 s, long enough to be caught mid-way
        StartEmulator(options);
        const termios before = LineSettings(emulator->SlavePath());
        auto cli = RunCli({"send", dir.Write("image.bin", PatternBytes(24000)), "--port",
                           emulator->SlavePath(), "--progress", "lines"});
        ASSERT_TRUE(cli->WaitForOutput("send 10%", 20s)) << cli->Output();
        const std::string lock = lockFile + UucpLockName(emulator->SlavePath());
        EXPECT_EQ(std::filesystem::exists(lock), ::access(kUucpLockDir, W_OK) == 0);
        cli->Signal(signal);
        EXPECT_EQ(cli->Wait(10s), status) << cli->Output();
        EXPECT_NE(cli->Output().find("Cancelled"), std::string::npos) << cli->Output();
        EXPECT_FALSE(std::filesystem::exists(lock)) << "the lock is removed";
        const termios after = LineSettings(emulator->SlavePath());
        EXPECT_EQ(after.c_iflag, before.c_iflag) << "the line is handed back as found";
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        TransferReport report;
        emulator->Stop();
        emulator->WaitForReport(0ms, report);
        EXPECT_FALSE(report.verified);
        emulator.reset();
    }
}

// Runs velmora-cli with its stdout a pipe whose reader has gone (`... | head`
// once head has ended), its stderr in `errorFile`. The exit status, or -2 when
// it did not end by the deadline.
int RunWithStdoutReaderGone(std::vector<std::string> args, const std::string& errorFile) {
    args.insert(args.begin(), VELMORA_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        return -3;
    }
    auto exited = std::async(std::launch::async, [pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    });
    if (exited.wait_for(kJobDeadline) != std::future_status::ready) {
        ::kill(pid, SIGKILL);
        exited.wait();
        return -2;
    }
    return exited.get();
}

TEST_F(CliAgainstEmulator, AProgressReaderThatGoesAwayNeverStopsAnUpgrade) {
    const auto image = PatternBytes(10000, 9);
    EmulatorOptions options;
    options.expectedData = image;
    StartEmulator(options);
    EXPECT_EQ(RunWithStdoutReaderGone({"send", dir.Write("image.bin", image), "--port",
                                       emulator->SlavePath(), "--progress", "json"},
                                      dir.File("stderr.txt")),
              0);
    const TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
}

TEST_F(CliAgainstEmulator, EachRefusalHasItsOwnExitStatus) {
    StartEmulator({});
    const std::string file = dir.Write("image.bin", {1});
    const std::string list = dir.Write("list.bin", test::ReadFileBytes(kSampleList));
    const std::string json = dir.Write("list.sdx", {'{', '}'});
    // The sample list saved with CR LF line ends: its records cannot be found.
    std::vector<std::uint8_t> crlfBytes;
    for (const std::uint8_t b : test::ReadFileBytes(kSampleList)) {
        if (b == '\n') {
            crlfBytes.push_back('\r');
        }
        crlfBytes.push_back(b);
    }
    const std::string crlf = dir.Write("crlf.sdx", crlfBytes);
    // Pipes with nobody writing: opening one to read would wait for ever.
    const std::string pipe = dir.File("pipe.bin");
    const std::string pipedList = dir.File("pipe.sdx");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(pipedList.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"send", dir.File("absent.bin"), "--port", emulator->SlavePath()},
         3,
         "Transferred file is not exist!"},
        {{"send", file, "--port", "COM3"}, 4, "UART3 is already Opened Or not Exist!"},
        {{"send", file, "--port", "com12"}, 4, "com12 is not a port here"},
        {{"send", file, "--port", emulator->SlavePath(), "--max-sat", "201"}, 5, "200"},
        {{"send", file, "--port", emulator->SlavePath(), "--max-tp", "-4"}, 5, "negative"},
        {{"send", file, "--baud", "12345"}, 2, "12345"},
        {{"send"}, 2, "FILE"},
        {{"send", file, "--port", emulator->SlavePath(), "--type", "Custom"}, 5, "sends nothing"},
        // Wrong and impossible files, refused before the port is opened.
        {{"send", list, "--port", kNoPort}, 5, "not a program image"},
        {{"send", json, "--port", kNoPort, "--type", "Database"}, 5, "does not begin with SATCODX"},
        {{"convert", json, "--work-dir", dir.path().string()}, 5, "add --force"},
        {{"convert", crlf, "--work-dir", dir.path().string()}, 5, "first line is 129 bytes long"},
        {{"send", crlf, "--port", kNoPort, "--type", "Database"}, 5, "133 bytes (version 105)"},
        {{"send", dir.path().string(), "--port", kNoPort}, 3, "is a folder"},
        {{"convert", dir.path().string()}, 3, "is a folder"},
        {{"send", pipe, "--port", kNoPort}, 3, "not a regular file"},
        {{"inspect", pipe}, 3, "cannot be read"},
        {{"convert", pipedList, "--force", "--work-dir", dir.path().string()},
         3,
         "not a regular file"},
        {{"send", kSampleList, "--port", kNoPort, "--type", "Database", "--max-tv", "2147483647",
          "--work-dir", dir.path().string()},
         5,
         "4 GiB"},
        {{"convert", kSampleList, "--work-dir", dir.File("no-such-folder")}, 5, "--work-dir"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        auto cli = RunCli(c.args);
        EXPECT_EQ(cli->Wait(kJobDeadline), c.status) << cli->Output();
        EXPECT_NE(cli->Output().find(c.says), std::string::npos) << cli->Output();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "db1.bin")) << "nothing written";
    // With --force the technician gets a warning instead.
    auto forced = RunCli({"convert", json, "--work-dir", dir.path().string(), "--force", "-q"});
    EXPECT_EQ(forced->Wait(kJobDeadline), 0) << forced->Output();
    EXPECT_NE(forced->Output().find("warning: " + json + " does not look like"), std::string::npos)
        << forced->Output();
    forced = RunCli({"convert", crlf, "--work-dir", dir.path().string(), "--force", "-q"});
    EXPECT_EQ(forced->Wait(kJobDeadline), 0) << forced->Output();
    EXPECT_NE(forced->Output().find("Going on as --force asks"), std::string::npos)
        << forced->Output();
    // A device path's failure says only why, and what ports there are.
    auto cli = RunCli({"send", file, "--port", "/dev/velmora-no-such-port"},
                      {{"VELMORA_COM3", "/dev/velmora-no-such-port"}});
    EXPECT_EQ(cli->Wait(kJobDeadline), 4);
    const std::string out = cli->Output();
    EXPECT_NE(out.find("Cannot open /dev/velmora-no-such-port: No such file or directory."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("UART"), std::string::npos) << out;
    EXPECT_TRUE(out.find("Serial ports present:") != std::string::npos ||
                out.find("No serial ports are present") != std::string::npos)
        << out;
}

TEST_F(CliAgainstEmulator, APortThatAnotherProgramHoldsIsRefusedWithStatus4) {
    StartEmulator({});
    const std::string file = dir.Write("image.bin", {1});
    // A terminal program left open on the port (posix_spawn returns once
    // sleep runs, with the port as its standard input).
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, emulator->SlavePath().c_str(),
                                     O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    pid_t holder = -1;
    ASSERT_EQ(::posix_spawnp(&holder, "sleep", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const auto named = std::chrono::steady_clock::now() + 5s;
    while (ProgramOfProcess(holder) != "sleep" && std::chrono::steady_clock::now() < named) {
        std::this_thread::sleep_for(1ms);  // the exec is still under way
    }
    auto cli = RunCli({"send", file, "--port", emulator->SlavePath(), "--quiet"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 4);
    EXPECT_NE(cli->Output().find(emulator->SlavePath() + " is in use by sleep (pid " +
                                 std::to_string(holder) + "). Close it and try again."),
              std::string::npos)
        << cli->Output();
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    auto again = RunCli({"send", file, "--port", emulator->SlavePath(), "--quiet"});
    EXPECT_EQ(again->Wait(kJobDeadline), 0) << again->Output();
}

TEST_F(CliAgainstEmulator, PortsListsWhatIsPresent) {
    auto table = RunCli({"ports"});
    EXPECT_EQ(table->Wait(kJobDeadline), 0);
    auto json = RunCli({"ports", "--json"});
    EXPECT_EQ(json->Wait(kJobDeadline), 0);
    EXPECT_EQ(json->Output().rfind("[", 0), 0U) << json->Output();
    const bool none = table->Output().find("No serial ports found") != std::string::npos;
    EXPECT_EQ(none, json->Output() == "[]\n") << table->Output() << json->Output();
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(CliAgainstEmulator, AChannelListIsConvertedAndSentAsADatabaseUpgrade) {
    // The image as `convert` writes it on its own...
    std::filesystem::create_directories(dir.path() / "expected");
    auto convert = RunCli({"convert", kSampleList, "--work-dir", dir.File("expected"), "--quiet"});
    ASSERT_EQ(convert->Wait(kJobDeadline), 0) << convert->Output();
    EXPECT_NE(convert->Output().find("Wrote "), std::string::npos);
    const auto image = test::ReadFileBytes(dir.File("expected/db1.bin"));
    ASSERT_EQ(image.size(), 65535U);

    // ...is exactly what the receiver gets from `send --type Database`.
    EmulatorOptions options;
    options.expectedData = image;
    options.expectedOffset = 0x1B0000;
    StartEmulator(options);
    std::filesystem::create_directories(dir.path() / "send");
    auto cli = RunCli({"send", kSampleList, "--type", "Database", "--work-dir", dir.File("send"),
                       "--port", emulator->SlavePath()});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    const TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
    EXPECT_EQ(cli->Output().find("warning"), std::string::npos) << "a plain 103 list";
    // What the receiver got from the list, before the wait.
    const std::string out = cli->Output();
    const auto gets = out.find("The receiver gets 3 satellites");
    EXPECT_NE(gets, std::string::npos) << out;
    EXPECT_LT(gets, out.find("Waiting for the receiver")) << out;
    EXPECT_NE(out.find("converted from " + kSampleList), std::string::npos) << out;
}

TEST_F(CliAgainstEmulator, AChannelListWithTypeCodeIsConvertedButRefused) {
    StartEmulator({});
    auto cli = RunCli(
        {"send", kSampleList, "--work-dir", dir.path().string(), "--port", emulator->SlavePath()});
    EXPECT_EQ(cli->Wait(kJobDeadline), 5) << cli->Output();
    EXPECT_NE(cli->Output().find("\n Please select to upgrade Database!!\n"), std::string::npos)
        << cli->Output();
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "db1.bin")) << "the image stays";
    TransferReport report;
    emulator->Stop();
    emulator->WaitForReport(0ms, report);
    EXPECT_FALSE(report.startByteSeen) << "nothing may be sent";
    // The port was handed back.
    CSerialPort port;
    EXPECT_EQ(port.OpenDevice(emulator->SlavePath(), 115200, 8, 0, 0), 1) << port.LastError();
}

TEST_F(CliAgainstEmulator, AnEnigma2ListIsTakenByItsContentAndSentWithTheServicesChosen) {
    const std::string lamedb =
        "eDVB services /4/\ntransponders\n"
        "00c00000:0441:0001\n\ts 11494000:22000000:1:2:192:2:0\n/\n"
        "00820000:2af8:013e\n\ts 10719000:27500000:0:4:130:0:0\n/\nend\nservices\n"
        "283d:00c00000:0441:0001:25:0\nDas Erste HD\nc:0013ed,c:0113ee\n"
        "0001:00820000:2af8:013e:1:0\nRai 1\nc:000200,c:010201\n"
        "0002:00820000:2af8:013e:2:0\nRai Radio\nc:010301,C:0b00\nend\n";
    const std::string list =
        dir.Write("lamedb", std::vector<std::uint8_t>(lamedb.begin(), lamedb.end()));
    std::filesystem::create_directories(dir.path() / "expected");
    auto convert = RunCli({"convert", list, "--satellite", "13E", "--work-dir",
                           dir.File("expected"), "--json", "-q"});
    ASSERT_EQ(convert->Wait(kJobDeadline), 0) << convert->Output();
    const nlohmann::json report = nlohmann::json::parse(convert->Output());
    EXPECT_EQ(report["format"], "enigma2");
    EXPECT_EQ(report["services"]["read"], 3);
    EXPECT_EQ(report["services"]["converted"], 2);
    EXPECT_EQ(report["services"]["skipped"]["outsideChoice"], 1);
    EXPECT_EQ(report["kept"],
              nlohmann::json({{"satellites", 1}, {"transponders", 1}, {"tv", 1}, {"radio", 1}}));

    EmulatorOptions options;
    options.expectedData = test::ReadFileBytes(dir.File("expected/db1.bin"));
    options.expectedOffset = 0x1B0000;
    StartEmulator(options);
    std::filesystem::create_directories(dir.path() / "send");
    auto cli = RunCli({"send", list, "--type", "Database", "--satellite", "13E", "--work-dir",
                       dir.File("send"), "--port", emulator->SlavePath()});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    EXPECT_TRUE(Report().verified);
    EXPECT_NE(cli->Output().find("(Enigma2 list, version 4)"), std::string::npos) << cli->Output();

    // The station takes the same choice and says what the list gave.
    StartEmulator(options);
    std::filesystem::create_directories(dir.path() / "station");
    auto station = RunCli({"station", list, "--type", "Database", "--satellite", "13E",
                           "--work-dir", dir.File("station"), "--port", emulator->SlavePath(),
                           "--once", "--progress", "lines", "--log", dir.File("station.jsonl")});
    EXPECT_EQ(station->Wait(kJobDeadline), 0) << station->Output();
    EXPECT_TRUE(Report().verified);
    EXPECT_NE(station->Output().find("(Enigma2 list, version 4)"), std::string::npos)
        << station->Output();

    // A version the reader does not know: refused, or read with a warning.
    std::string v6 = lamedb;
    v6.replace(0, 17, "eDVB services /6/");
    const std::string future = dir.Write("future", std::vector<std::uint8_t>(v6.begin(), v6.end()));
    auto unknown = RunCli({"convert", future, "--work-dir", dir.path().string(), "-q"});
    EXPECT_EQ(unknown->Wait(kJobDeadline), 5) << unknown->Output();
    EXPECT_NE(unknown->Output().find("add --force"), std::string::npos) << unknown->Output();
    auto forced = RunCli({"convert", future, "--work-dir", dir.path().string(), "-q", "--force"});
    EXPECT_EQ(forced->Wait(kJobDeadline), 0) << forced->Output();
    EXPECT_NE(forced->Output().find("version 6, but this tool reads versions 3, 4 and 5"),
              std::string::npos)
        << forced->Output();

    // Nothing to convert: refused with the reason before a port is opened.
    auto none = RunCli({"send", list, "--type", "Database", "--satellite", "28.2E", "--port",
                        kNoPort, "--work-dir", dir.path().string()});
    EXPECT_EQ(none->Wait(kJobDeadline), 5) << none->Output();
    EXPECT_NE(none->Output().find("has no service that can be converted: of its 3 services, 3 "
                                  "outside the choice"),
              std::string::npos)
        << none->Output();
}

TEST_F(CliAgainstEmulator, ListsThatAreNotPlainSatcodx103AreConvertedWithOneWarning) {
    // Version "105" text in a 133-byte record layout.
    std::vector<std::uint8_t> odd(133 * 2, ' ');
    const std::string head = "SATCODX105";
    std::copy(head.begin(), head.end(), odd.begin());
    const std::string list = dir.Write("other.sdx", odd);
    auto cli = RunCli({"convert", list, "--work-dir", dir.path().string(), "--quiet"});
    cli->Wait(kJobDeadline);
    const std::string out = cli->Output();
    const auto first = out.find("warning");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("warning", first + 1), std::string::npos) << "one warning line: " << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
}

TEST_F(CliAgainstEmulator, InspectShowsWhatAConversionWrote) {
    auto convert = RunCli(
        {"convert", kSampleList, "--work-dir", dir.path().string(), "--quiet", "--max-radio", "3"});
    ASSERT_EQ(convert->Wait(kJobDeadline), 0) << convert->Output();
    auto tables = RunCli({"inspect", dir.File("db1.bin"), "--max-radio", "3"});
    EXPECT_EQ(tables->Wait(kJobDeadline), 0);
    const std::string out = tables->Output();
    EXPECT_NE(out.find("Totals: 3 satellites, 6 transponders, 10 TV channels, 3 radio channels"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("30.0W"), std::string::npos);
    auto json = RunCli({"inspect", dir.File("db1.bin"), "--max-radio", "3", "--json"});
    EXPECT_EQ(json->Wait(kJobDeadline), 0);
    EXPECT_EQ(nlohmann::json::parse(json->Output())["totals"]["tv"], 10) << json->Output();
    // Read with the wrong limits, the image is too short for its sections, or
    // has records where zero fill should be; either way it says what fits.
    auto wrong = RunCli({"inspect", dir.File("db1.bin"), "--max-tv", "5000"});
    EXPECT_EQ(wrong->Wait(kJobDeadline), 6) << wrong->Output();
    EXPECT_NE(wrong->Output().find("--max-tv 500 --max-radio 3 (or more)"), std::string::npos)
        << wrong->Output();
    auto defaults = RunCli({"inspect", dir.File("db1.bin")});
    EXPECT_EQ(defaults->Wait(kJobDeadline), 0) << defaults->Output();
    EXPECT_NE(defaults->Output().find("probably not the ones"), std::string::npos);
    EXPECT_NE(defaults->Output().find("--max-radio 3 (or more)"), std::string::npos)
        << defaults->Output();
}

TEST_F(CliAgainstEmulator, TypedInputIsCheckedBeforeThePortOpens) {
    // Each would reach the (missing) port, and exit 4, if it were not caught first.
    const std::string file = dir.Write("image.bin", {1});
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"send", file, "-p", kNoPort, "-o", "zz"}, "--offset: \"zz\" is not a flash offset"},
        {{"send", file, "-p", kNoPort, "-o", "1b0000zz"}, "for example --offset 1b0000"},
        {{"send", file, "-p", kNoPort, "--offset", "1,b0000"}, "--offset"},
        {{"send", file, "-p", kNoPort, "--timeout", "abc"}, "is not a number of seconds"},
        {{"send", file, "-p", kNoPort, "-t", "Cod"}, "is not an upgrade type"},
        {{"send", file, "-p", kNoPort, "--max-tv", "5x"}, "--max-tv"},
        {{"send", file, "--prot", kNoPort}, "Did you mean --port?"},
        {{"sned", file}, "Did you mean send?"},
        // An empty $PORT in a script would otherwise mean COM1.
        {{"send", file, "--port", ""}, "the port name is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        auto cli = RunCli(c.args);
        EXPECT_EQ(cli->Wait(kJobDeadline), 2) << cli->Output();
        EXPECT_NE(cli->Output().find(c.says), std::string::npos) << cli->Output();
    }
}

TEST_F(CliAgainstEmulator, ProgressAsJsonIsOneObjectPerLineEndingWithTheResult) {
    const auto image = PatternBytes(1000);
    EmulatorOptions options;
    options.expectedData = image;
    StartEmulator(options);
    auto cli = RunCli({"send", dir.Write("image.bin", image), "--port", emulator->SlavePath(),
                       "--progress", "json"});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    // Every line one JSON object, ending with the result.
    std::vector<Json> events;
    std::istringstream in(cli->Output());
    for (std::string line; std::getline(in, line);) {
        events.push_back(Json::parse(line));
        EXPECT_TRUE(events.back().is_object()) << line;
    }
    ASSERT_FALSE(events.empty());
    const auto has = [&](const Json& wanted) {
        return std::any_of(events.begin(), events.end(), [&](const Json& e) {
            return std::all_of(wanted.items().begin(), wanted.items().end(), [&](const auto& kv) {
                return e.value(kv.key(), Json()) == kv.value();
            });
        });
    };
    EXPECT_TRUE(
        has({{"event", "bar"}, {"bar", "send"}, {"percent", 48}, {"sent", 480}, {"total", 1000}}));
    EXPECT_TRUE(has({{"event", "bar"}, {"bar", "analyse"}, {"percent", 100}}));
    EXPECT_TRUE(has({{"event", "message"}, {"text", "Data send finish !"}}));
    EXPECT_TRUE(
        has({{"event", "plan"}, {"bytes", 1000}, {"type", "Code"}, {"offset", "0x00010000"}}));
    EXPECT_EQ(events.back(),
              Json({{"event", "result"}, {"outcome", "finished"}, {"exitStatus", 0}}));
}

TEST_F(CliAgainstEmulator, BarsFitTheTerminal) {
    StartEmulator({});
    auto cli = RunCli({"send", dir.Write("image.bin", PatternBytes(2400)), "--port",
                       emulator->SlavePath(), "--progress", "bars"},
                      {{"COLUMNS", "50"}});
    EXPECT_EQ(cli->Wait(kJobDeadline), 0) << cli->Output();
    const std::string out = cli->Output();
    std::size_t redraws = 0;
    for (std::size_t at = out.find("\r\033[K"); at != std::string::npos;
         at = out.find("\r\033[K", at + 1), ++redraws) {
        const std::size_t from = at + 4;
        const std::size_t end = out.find_first_of("\r\n", from);
        EXPECT_LE(end - from, 49U) << out.substr(from, end - from);
    }
    EXPECT_GT(redraws, 2U);
}

TEST_F(CliAgainstEmulator, ConvertReportsWhatTheReceiverGetsAndWhatWasLeftOut) {
    const std::string real = std::string(VELMORA_SHARED_DATA_DIR) + "/astra-19.2e-v103.sdx";
    if (!std::filesystem::exists(real)) {
        GTEST_SKIP() << "the shared real-world list is not there";
    }
    auto json = RunCli({"convert", real, "--work-dir", dir.path().string(), "--json", "-q"});
    EXPECT_EQ(json->Wait(kJobDeadline), 0) << json->Output();
    EXPECT_NE(json->Output().find(R"("version":"103","recordLength":128,"namesConverted":0,)"
                                  R"("charactersReplaced":0,"records":1108,"kept":{)"),
              std::string::npos)
        << json->Output();
    EXPECT_NE(json->Output().find(R"("records":1108,"kept":{"satellites":1,"transponders":91,)"
                                  R"("tv":500,"radio":1},"dropped":{"satelliteLimit":0,)"
                                  R"("transpondersPerSatellite":0,"channelsPerTransponder":15,)"
                                  R"("maxTv":448,"maxRadio":144,"serviceType":0,"unreadable":0})"),
              std::string::npos)
        << json->Output();
    auto text = RunCli({"convert", real, "--work-dir", dir.path().string(), "-q"});
    EXPECT_EQ(text->Wait(kJobDeadline), 0);
    EXPECT_NE(text->Output().find("448 TV channels beyond --max-tv 500"), std::string::npos)
        << text->Output();
}

}  // namespace
}  // namespace velmora
