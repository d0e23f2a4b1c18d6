// velmora-emulator: plays the receiver's boot loader on a pty.
//
//   velmora-emulator [options] -- COMMAND...
//
// runs COMMAND with "{port}" replaced by the pty's slave device and with
// VELMORA_COM1 set to it, plays one upgrade transfer, and exits with 0 only
// when the transfer verified (and COMMAND succeeded). Without COMMAND it
// prints the device, waits for one transfer and reports it.
//
// With --receivers N it plays N receivers at once, each on its own pty and
// thread ({port1} ... {portN}, VELMORA_COM1 ... VELMORA_COMn), each with its
// own faults (--fault N:OPTION), and with --cycles K each plays K boxes in a
// row, as a technician swapping receivers on a bench.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

void ReplaceAll(std::string& text, const std::string& token, const std::string& value) {
    for (std::size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
}

// COMMAND with the ports filled in: "{port1}" ... "{portN}" become the
// receivers' devices and "{port}" the first; an argument holding "{ports}"
// is repeated once per receiver ("--port={ports}" gives one --port each).
std::vector<std::string> ExpandCommand(const std::vector<std::string>& command,
                                       const std::vector<std::string>& ports) {
    std::vector<std::string> args;
    for (const auto& a : command) {
        if (a.find("{ports}") != std::string::npos) {
            for (const auto& port : ports) {
                args.push_back(a);
                ReplaceAll(args.back(), "{ports}", port);
            }
            continue;
        }
        std::string arg = a;
        for (std::size_t k = 0; k < ports.size(); ++k) {
            ReplaceAll(arg, "{port" + std::to_string(k + 1) + "}", ports[k]);
        }
        ReplaceAll(arg, "{port}", ports.front());
        args.push_back(std::move(arg));
    }
    return args;
}

// The environment with VELMORA_COM1 ... VELMORA_COMn set to the receivers' devices.
std::vector<std::string> CommandEnvironment(const std::vector<std::string>& ports) {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < ports.size(); ++k) {
        names.push_back("VELMORA_COM" + std::to_string(k + 1) + "=");
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const bool ours = std::any_of(names.begin(), names.end(), [e](const std::string& n) {
            return std::strncmp(*e, n.c_str(), n.size()) == 0;
        });
        if (!ours) {
            env.emplace_back(*e);
        }
    }
    for (std::size_t k = 0; k < ports.size(); ++k) {
        env.push_back(names[k] + ports[k]);
    }
    return env;
}

// Starts the command with the ports filled in; returns its pid or -1.
pid_t SpawnCommand(const std::vector<std::string>& command, const std::vector<std::string>& ports) {
    std::vector<std::string> args = ExpandCommand(command, ports);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = CommandEnvironment(ports);
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

// What one receiver's faults are, as the command line gives them.
struct FaultArgs {
    EmulatorOptions options;
    std::string readyMode = "normal";
    long ackDelayMs = 0;
    long powerOnMs = 0;
    bool cleanLine = false;
};

// Everything the command line says.
struct CommandLine {
    FaultArgs faults;  // for every receiver, unless --fault says otherwise
    std::string expectPath;
    std::string expectOffset;
    std::vector<std::string> linkPaths;
    std::string savePath;
    std::vector<std::string> receiverFaults;  // "2:hangup-after=5"
    int receivers = 1;
    int cycles = 1;
    long swapDelayMs = 300;
    long stallLimitMs = 2000;
    double interruptAfter = -1;
    double timeoutSeconds = 0;
    bool quiet = false;
    std::vector<std::string> command;
};

void DefineFaultOptions(CLI::App& app, FaultArgs& c) {
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

void DefineReceiverOptions(CLI::App& app, CommandLine& c) {
    app.add_option("--receivers", c.receivers,
                   "Play this many receivers (1 to 64), each on its own pty")
        ->check(CLI::Range(1, 64).description("RANGE"));
    app.add_option("--fault", c.receiverFaults,
                   "One receiver's own fault, as N:OPTION[=VALUE] with any option above, "
                   "e.g. 2:never-ack or 3:hangup-after=5 (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--cycles", c.cycles,
                   "Each receiver plays this many boxes in a row, swapped after each transfer")
        ->check(CLI::PositiveNumber);
    app.add_option("--swap-delay", c.swapDelayMs,
                   "Milliseconds from one box's end to the next box's power-on")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--swap-when-silent", c.stallLimitMs,
                   "With --cycles: a box whose transfer stalls this many milliseconds "
                   "(the tool silent, nothing owed to it) has failed and is swapped")
        ->check(CLI::PositiveNumber);
    app.add_option("--interrupt-after", c.interruptAfter,
                   "Once every box has played, interrupt COMMAND (SIGINT) if it still runs "
                   "this many seconds later (default: wait for it)")
        ->check(CLI::NonNegativeNumber);
}

void DefineOptions(CLI::App& app, CommandLine& c) {
    app.footer(
        "Example:\n  velmora-emulator --expect image.bin -- velmora-cli send image.bin --port "
        "{port}\n"
        "  velmora-emulator --receivers 2 --fault 2:never-ack -- sh -c \\\n"
        "    'velmora-cli send f.bin --port {port1} & velmora-cli send f.bin --port {port2}; "
        "wait'\n"
        "In COMMAND, {port1} ... {portN} become the receivers' devices, {port} the first,\n"
        "and an argument holding {ports} is repeated once per receiver.\n"
        "Exit status: 0 every transfer verified, 1 one not verified, 2 usage or system error,\n"
        "3 every transfer verified but COMMAND failed.");
    app.set_version_flag("--version", std::string("velmora-emulator ") + velmora::kVersion);
    // Room for the longest option and its type, so that no help line runs
    // into its description (the man page is made from this text).
    app.get_formatter()->column_width(34);
    DefineFaultOptions(app, c.faults);
    DefineReceiverOptions(app, c);
    app.add_option("--save", c.savePath,
                   "Write the received data to this file ({n}: the receiver's number)");
    app.add_option("--expect", c.expectPath, "The data must equal this file")
        ->check(CLI::ExistingFile);
    app.add_option("--expect-offset", c.expectOffset, "The header's offset must equal this (hex)");
    app.add_option("--link", c.linkPaths,
                   "Make this path a symbolic link to the pty; once per receiver, or once "
                   "with {n} for the receiver's number")
        ->allow_extra_args(false);
    app.add_option("--timeout", c.timeoutSeconds,
                   "Give up after this many seconds without a finished transfer (0: never)")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("-q,--quiet", c.quiet, "Print only the verdict");
    app.add_option("command", c.command, "Command to run; {port} becomes the pty's device");
    app.positionals_at_end(true);
}

// Turns one receiver's parsed faults into the emulator's options.
EmulatorOptions CompleteFaults(const FaultArgs& f) {
    EmulatorOptions options = f.options;
    options.ackDelay = std::chrono::milliseconds(f.ackDelayMs);
    options.powerOnDelay = std::chrono::milliseconds(f.powerOnMs);
    options.controlNoise = !f.cleanLine;
    if (f.readyMode == "late-ac") {
        options.ready = EmulatorOptions::Ready::LateAc;
    } else if (f.readyMode == "no-ac") {
        options.ready = EmulatorOptions::Ready::NoAc;
    }
    return options;
}

// What every receiver expects to get; false after a message.
bool CompleteExpectations(const CommandLine& c, EmulatorOptions& options) {
    if (!c.expectPath.empty()) {
        std::vector<std::uint8_t> data;
        if (!ReadWholeFile(c.expectPath, data)) {
            std::fprintf(stderr, "velmora-emulator: cannot read %s\n", c.expectPath.c_str());
            return false;
        }
        options.expectedData = std::move(data);
    }
    if (!c.expectOffset.empty()) {
        try {
            options.expectedOffset =
                static_cast<std::uint32_t>(std::stoul(c.expectOffset, nullptr, 16));
        } catch (const std::exception&) {
            std::fprintf(stderr, "velmora-emulator: --expect-offset wants hex digits, not %s\n",
                         c.expectOffset.c_str());
            return false;
        }
    }
    return true;
}

// "{n}" in a path becomes the receiver's number.
std::string NumberedPath(std::string path, int receiver) {
    ReplaceAll(path, "{n}", std::to_string(receiver));
    return path;
}

// Applies the --fault entries for `receiver` to its faults; false after a message.
bool ApplyReceiverFaults(const CommandLine& c, int receiver, FaultArgs& faults) {
    for (const std::string& entry : c.receiverFaults) {
        const auto colon = entry.find(':');
        int number = 0;
        try {
            number = std::stoi(entry.substr(0, colon));
        } catch (const std::exception&) {
            number = 0;
        }
        if (colon == std::string::npos || number < 1 || number > c.receivers) {
            std::fprintf(stderr,
                         "velmora-emulator: --fault %s: give the receiver's number (1 to %d), "
                         "a colon and the option, e.g. --fault 2:never-ack\n",
                         entry.c_str(), c.receivers);
            return false;
        }
        if (number != receiver) {
            continue;
        }
        CLI::App app;
        DefineFaultOptions(app, faults);
        try {
            app.parse("--" + entry.substr(colon + 1), false);
        } catch (const CLI::ParseError& e) {
            std::fprintf(stderr, "velmora-emulator: --fault %s: %s\n", entry.c_str(), e.what());
            return false;
        }
    }
    return true;
}

// Every receiver's options; false after a message.
bool ReceiverOptions(const CommandLine& c, std::vector<EmulatorOptions>& all) {
    EmulatorOptions shared;
    if (!CompleteExpectations(c, shared)) {
        return false;
    }
    if (c.receivers > 1 && !c.savePath.empty() && c.savePath.find("{n}") == std::string::npos) {
        std::fprintf(stderr,
                     "velmora-emulator: with more than one receiver, --save needs {n} in its "
                     "path for the receiver's number, e.g. --save received-{n}.bin\n");
        return false;
    }
    for (int receiver = 1; receiver <= c.receivers; ++receiver) {
        FaultArgs faults = c.faults;
        if (!ApplyReceiverFaults(c, receiver, faults)) {
            return false;
        }
        EmulatorOptions options = CompleteFaults(faults);
        options.expectedData = shared.expectedData;
        options.expectedOffset = shared.expectedOffset;
        options.savePath = NumberedPath(c.savePath, receiver);
        options.cycles = c.cycles;
        options.swapDelay = std::chrono::milliseconds(c.swapDelayMs);
        options.stallLimit = std::chrono::milliseconds(c.stallLimitMs);
        all.push_back(std::move(options));
    }
    return true;
}

// The links to make, one per receiver; false after a message.
bool LinkPaths(const CommandLine& c, std::vector<std::string>& links) {
    if (c.linkPaths.size() == 1 && c.linkPaths.front().find("{n}") != std::string::npos) {
        for (int receiver = 1; receiver <= c.receivers; ++receiver) {
            links.push_back(NumberedPath(c.linkPaths.front(), receiver));
        }
        return true;
    }
    if (!c.linkPaths.empty() && c.linkPaths.size() != static_cast<std::size_t>(c.receivers)) {
        std::fprintf(stderr,
                     "velmora-emulator: give --link once per receiver (%d), or once with {n} "
                     "in the path for the receiver's number\n",
                     c.receivers);
        return false;
    }
    links = c.linkPaths;
    return true;
}

using Receivers = std::vector<std::unique_ptr<ReceiverEmulator>>;

std::vector<std::string> SlavePaths(const Receivers& receivers) {
    std::vector<std::string> ports;
    for (const auto& r : receivers) {
        ports.push_back(r->SlavePath());
    }
    return ports;
}

void StopAll(Receivers& receivers) {
    for (auto& r : receivers) {
        r->Stop();
    }
}

// Waits for COMMAND; with --interrupt-after, a watcher interrupts it once
// every receiver has played all its boxes and the grace has passed.
int WaitForCommand(pid_t pid, Receivers& receivers, double interruptAfter) {
    std::mutex mutex;
    std::condition_variable ended;
    bool commandEnded = false;
    std::thread watcher;
    if (interruptAfter >= 0) {
        watcher = std::thread([&] {
            TransferReport ignored;
            for (auto& r : receivers) {
                r->WaitForReport(std::chrono::hours(24 * 365), ignored);
            }
            std::unique_lock lock(mutex);
            const auto grace =
                std::chrono::milliseconds(static_cast<long long>(interruptAfter * 1000));
            if (!ended.wait_for(lock, grace, [&] { return commandEnded; })) {
                ::kill(pid, SIGINT);  // not reaped yet: the pid is still the command's
            }
        });
    }
    // Wait for the end without reaping, so that the watcher never signals a recycled pid.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    {
        std::lock_guard lock(mutex);
        commandEnded = true;
        ended.notify_all();
    }
    // The command has ended: whatever the receivers saw is all there is.
    StopAll(receivers);
    if (watcher.joinable()) {
        watcher.join();
    }
    return WaitForChild(pid);
}

// Runs COMMAND, or waits for the transfers without one; false when COMMAND
// could not be started.
bool Play(Receivers& receivers, const CommandLine& c, int& commandStatus) {
    commandStatus = 0;
    if (!c.command.empty()) {
        const pid_t pid = SpawnCommand(c.command, SlavePaths(receivers));
        if (pid < 0) {
            StopAll(receivers);
            return false;
        }
        commandStatus = WaitForCommand(pid, receivers, c.interruptAfter);
        return true;
    }
    const auto deadline =
        std::chrono::steady_clock::now() +
        (c.timeoutSeconds > 0
             ? std::chrono::milliseconds(static_cast<long long>(c.timeoutSeconds * 1000))
             : std::chrono::milliseconds(std::chrono::hours(24 * 365)));
    TransferReport ignored;
    for (auto& r : receivers) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        r->WaitForReport(std::max(left, std::chrono::milliseconds(0)), ignored);
    }
    StopAll(receivers);
    return true;
}

// Every transfer a receiver played, with the boxes it never got to as failures.
std::vector<TransferReport> Transfers(ReceiverEmulator& receiver, int cycles) {
    std::vector<TransferReport> reports = receiver.Reports();
    for (auto& report : reports) {
        if (!report.verified && report.problem.empty()) {
            report.problem = "no transfer within the time-out";
        }
    }
    while (reports.size() < static_cast<std::size_t>(cycles)) {
        TransferReport never;
        never.problem = reports.empty() ? "no transfer within the time-out"
                                        : "never played: the line before it was pulled";
        reports.push_back(never);
    }
    return reports;
}

// Prints the verdicts, one per receiver and box; true when all verified.
bool PrintVerdicts(Receivers& receivers, int cycles) {
    const bool single = receivers.size() == 1 && cycles == 1;
    int verified = 0;
    for (std::size_t k = 0; k < receivers.size(); ++k) {
        const std::vector<TransferReport> reports = Transfers(*receivers[k], cycles);
        for (std::size_t box = 0; box < reports.size(); ++box) {
            std::string who;
            if (!single) {
                who = "receiver " + std::to_string(k + 1) + " (" + receivers[k]->SlavePath() +
                      (cycles > 1 ? "), box " + std::to_string(box + 1) : ")") + ": ";
            }
            std::printf("velmora-emulator: %s%s\n", who.c_str(),
                        velmora::emu::DescribeReport(reports[box]).c_str());
            verified += reports[box].verified ? 1 : 0;
        }
    }
    const int total = static_cast<int>(receivers.size()) * cycles;
    if (!single) {
        std::printf("velmora-emulator: %d of %d transfers verified\n", verified, total);
    }
    return verified == total;
}

int Verdict(Receivers& receivers, int cycles, int commandStatus) {
    if (!PrintVerdicts(receivers, cycles)) {
        return kNotVerified;
    }
    if (commandStatus != 0) {
        std::printf("velmora-emulator: the command exited with status %d\n", commandStatus);
        return kCommandFailed;
    }
    return kVerified;
}

// Starts every receiver and makes its link; false after a message.
bool StartReceivers(const std::vector<EmulatorOptions>& options,
                    const std::vector<std::string>& links, Receivers& receivers) {
    for (std::size_t k = 0; k < options.size(); ++k) {
        receivers.push_back(std::make_unique<ReceiverEmulator>(options[k]));
        std::string error;
        if (!receivers.back()->Start(error)) {
            std::fprintf(stderr, "velmora-emulator: %s\n", error.c_str());
            return false;
        }
        if (k < links.size()) {
            ::unlink(links[k].c_str());
            if (::symlink(receivers.back()->SlavePath().c_str(), links[k].c_str()) != 0) {
                std::fprintf(stderr, "velmora-emulator: cannot link %s: %s\n", links[k].c_str(),
                             std::strerror(errno));
                return false;
            }
        }
    }
    return true;
}

void Announce(const Receivers& receivers) {
    if (receivers.size() == 1) {
        std::printf("velmora-emulator: receiver boot loader waiting on %s\n",
                    receivers.front()->SlavePath().c_str());
    }
    for (std::size_t k = 0; receivers.size() > 1 && k < receivers.size(); ++k) {
        std::printf("velmora-emulator: receiver %zu boot loader waiting on %s\n", k + 1,
                    receivers[k]->SlavePath().c_str());
    }
    std::fflush(stdout);
}

int Run(const CommandLine& c) {
    std::vector<EmulatorOptions> options;
    std::vector<std::string> links;
    if (!ReceiverOptions(c, options) || !LinkPaths(c, links)) {
        return kUsage;
    }
    Receivers receivers;
    const bool started = StartReceivers(options, links, receivers);
    int status = kUsage;
    if (started) {
        if (!c.quiet) {
            Announce(receivers);
        }
        int commandStatus = 0;
        if (Play(receivers, c, commandStatus)) {
            status = Verdict(receivers, c.cycles, commandStatus);
        }
    }
    StopAll(receivers);
    for (const auto& link : links) {
        ::unlink(link.c_str());
    }
    return status;
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
    return Run(c);
}
