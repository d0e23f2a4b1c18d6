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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CommandLine.h"
#include "emulator/ReceiverEmulator.h"

extern char** environ;

namespace {

using velmora::emu::CommandLine;
using velmora::emu::DefineOptions;
using velmora::emu::EmulatorOptions;
using velmora::emu::LinkPaths;
using velmora::emu::ReceiverEmulator;
using velmora::emu::ReceiverOptions;
using velmora::emu::ReplaceAll;
using velmora::emu::TransferReport;

enum ExitCode { kVerified = 0, kNotVerified = 1, kUsage = 2, kCommandFailed = 3 };

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
