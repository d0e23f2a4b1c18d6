// velmora-emulator: plays the receiver's boot loader on a pty.
//
//   velmora-emulator [options] -- COMMAND...
//
// runs COMMAND with "{port}" replaced by the pty's slave device and with
// VELMORA_COM1 set to it, plays one upgrade transfer, and exits with 0 only
// when the transfer verified (and COMMAND succeeded). Without COMMAND it
// prints the device, waits for one transfer and reports it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "emulator/ReceiverEmulator.h"
#include "velmora/Version.h"

extern char** environ;

namespace {

using velmora::emu::EmulatorOptions;
using velmora::emu::ReceiverEmulator;
using velmora::emu::TransferReport;

enum ExitCode { kVerified = 0, kNotVerified = 1, kUsage = 2, kCommandFailed = 3 };

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string ReplacePort(std::string arg, const std::string& port) {
    for (std::size_t at = arg.find("{port}"); at != std::string::npos;
         at = arg.find("{port}", at + port.size())) {
        arg.replace(at, 6, port);
    }
    return arg;
}

// Starts the command with the port filled in; returns its pid or -1.
pid_t SpawnCommand(const std::vector<std::string>& command, const std::string& port) {
    std::vector<std::string> args;
    for (const auto& a : command) {
        args.push_back(ReplacePort(a, port));
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "VELMORA_COM1=", 13) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("VELMORA_COM1=" + port);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
    if (rc != 0) {
        std::fprintf(stderr, "velmora-emulator: cannot run %s: %s\n", argv[0], std::strerror(rc));
        return -1;
    }
    return pid;
}

int WaitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Everything the command line says.
struct CommandLine {
    EmulatorOptions options;
    std::string readyMode = "normal";
    std::string expectPath;
    std::string expectOffset;
    std::string linkPath;
    double timeoutSeconds = 0;
    long ackDelayMs = 0;
    long powerOnMs = 0;
    bool quiet = false;
    bool cleanLine = false;
    std::vector<std::string> command;
};

void DefineFaultOptions(CLI::App& app, CommandLine& c) {
    app.add_option("--power-on-after", c.powerOnMs,
                   "Stay silent this many milliseconds, as if switched on late")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--noise", c.options.noiseBytes, "Bytes of noise before the first ready signal")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--ready", c.readyMode,
                   "Ready signal: normal, late-ac (AC after 50 ms) or no-ac")
        ->check(CLI::IsMember({"normal", "late-ac", "no-ac"}));
    app.add_option("--faulty-ready", c.options.faultyReadyCount,
                   "How many faulty ready signals before normal ones (-1: always faulty)");
    app.add_option("--junk", c.options.junkBeforeAck, "Junk bytes before every acknowledgement")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--ack-delay", c.ackDelayMs, "Milliseconds before every acknowledgement")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--never-ack", c.options.neverAck, "Never acknowledge the header");
    app.add_option("--hangup-after", c.options.hangupAfterBlocks,
                   "Hang up after this many acknowledged blocks");
    app.add_option("--stray-ack", c.options.strayAckAfterBlock,
                   "Send a second 4F right behind the acknowledgement of block N")
        ->check(CLI::PositiveNumber);
    app.add_option("--restart-after", c.options.restartAfterBlocks,
                   "Restart after N acknowledged blocks: announce AB AC again every 100 ms")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--throttle", c.options.throttleBaud,
                   "Acknowledge as if the line ran at this many baud");
    app.add_flag("--raw-pty", c.options.rawPty,
                 "Put the pty into raw mode before the tool opens it (default: the kernel's "
                 "defaults, as a fresh adapter has them)");
    app.add_flag("--clean-line", c.cleanLine,
                 "No control bytes (XOFF, XON, Ctrl-C, CR, LF, Ctrl-Z) before the ready signals "
                 "and acknowledgements");
}

void DefineOptions(CLI::App& app, CommandLine& c) {
    app.footer(
        "Example:\n  velmora-emulator --expect image.bin -- velmora-cli send image.bin --port "
        "{port}\n"
        "Exit status: 0 transfer verified, 1 not verified, 2 usage or system error,\n"
        "3 transfer verified but COMMAND failed.");
    app.set_version_flag("--version", std::string("velmora-emulator ") + velmora::kVersion);
    // Room for the longest option and its type, so that no help line runs
    // into its description (the man page is made from this text).
    app.get_formatter()->column_width(34);
    DefineFaultOptions(app, c);
    app.add_option("--save", c.options.savePath, "Write the received data to this file");
    app.add_option("--expect", c.expectPath, "The data must equal this file")
        ->check(CLI::ExistingFile);
    app.add_option("--expect-offset", c.expectOffset, "The header's offset must equal this (hex)");
    app.add_option("--link", c.linkPath, "Make this path a symbolic link to the pty");
    app.add_option("--timeout", c.timeoutSeconds,
                   "Give up after this many seconds without a finished transfer (0: never)")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("-q,--quiet", c.quiet, "Print only the verdict");
    app.add_option("command", c.command, "Command to run; {port} becomes the pty's device");
    app.positionals_at_end(true);
}

// Turns what was parsed into the emulator's options; false after a message.
bool CompleteOptions(CommandLine& c) {
    c.options.ackDelay = std::chrono::milliseconds(c.ackDelayMs);
    c.options.powerOnDelay = std::chrono::milliseconds(c.powerOnMs);
    c.options.controlNoise = !c.cleanLine;
    if (c.readyMode == "late-ac") {
        c.options.ready = EmulatorOptions::Ready::LateAc;
    } else if (c.readyMode == "no-ac") {
        c.options.ready = EmulatorOptions::Ready::NoAc;
    }
    if (!c.expectPath.empty()) {
        std::vector<std::uint8_t> data;
        if (!ReadWholeFile(c.expectPath, data)) {
            std::fprintf(stderr, "velmora-emulator: cannot read %s\n", c.expectPath.c_str());
            return false;
        }
        c.options.expectedData = std::move(data);
    }
    if (!c.expectOffset.empty()) {
        try {
            c.options.expectedOffset =
                static_cast<std::uint32_t>(std::stoul(c.expectOffset, nullptr, 16));
        } catch (const std::exception&) {
            std::fprintf(stderr, "velmora-emulator: --expect-offset wants hex digits, not %s\n",
                         c.expectOffset.c_str());
            return false;
        }
    }
    return true;
}

// Runs COMMAND, or waits for a transfer without one; the report of what the
// receiver saw. False when COMMAND could not be started.
bool PlayOneTransfer(ReceiverEmulator& emulator, const CommandLine& c, TransferReport& report,
                     int& commandStatus) {
    commandStatus = 0;
    if (!c.command.empty()) {
        const pid_t pid = SpawnCommand(c.command, emulator.SlavePath());
        if (pid < 0) {
            return false;
        }
        commandStatus = WaitForChild(pid);
        // The command has ended: whatever the receiver saw is all there is.
        emulator.Stop();
        emulator.WaitForReport(std::chrono::milliseconds(0), report);
        return true;
    }
    const auto timeout =
        c.timeoutSeconds > 0
            ? std::chrono::milliseconds(static_cast<long long>(c.timeoutSeconds * 1000))
            : std::chrono::milliseconds(std::chrono::hours(24 * 365));
    const bool ended = emulator.WaitForReport(timeout, report);
    emulator.Stop();
    if (!ended) {
        emulator.WaitForReport(std::chrono::milliseconds(0), report);
        if (report.problem.empty()) {
            report.problem = "no transfer within the time-out";
        }
    }
    return true;
}

int Verdict(const TransferReport& report, int commandStatus) {
    std::printf("velmora-emulator: %s\n", velmora::emu::DescribeReport(report).c_str());
    if (!report.verified) {
        return kNotVerified;
    }
    if (commandStatus != 0) {
        std::printf("velmora-emulator: the command exited with status %d\n", commandStatus);
        return kCommandFailed;
    }
    return kVerified;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Plays a receiver's boot loader on a pseudo-terminal for upgrade tests."};
    CommandLine c;
    DefineOptions(app, c);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kUsage;
    }
    if (!CompleteOptions(c)) {
        return kUsage;
    }

    ReceiverEmulator emulator(c.options);
    std::string error;
    if (!emulator.Start(error)) {
        std::fprintf(stderr, "velmora-emulator: %s\n", error.c_str());
        return kUsage;
    }
    const std::string& port = emulator.SlavePath();
    if (!c.linkPath.empty()) {
        ::unlink(c.linkPath.c_str());
        if (::symlink(port.c_str(), c.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "velmora-emulator: cannot link %s: %s\n", c.linkPath.c_str(),
                         std::strerror(errno));
            return kUsage;
        }
    }
    if (!c.quiet) {
        std::printf("velmora-emulator: receiver boot loader waiting on %s\n", port.c_str());
        std::fflush(stdout);
    }
    TransferReport report;
    int commandStatus = 0;
    const bool played = PlayOneTransfer(emulator, c, report, commandStatus);
    if (!c.linkPath.empty()) {
        ::unlink(c.linkPath.c_str());
    }
    return played ? Verdict(report, commandStatus) : kUsage;
}
