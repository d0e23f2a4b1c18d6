#include "emulator/CommandLine.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "velmora/Version.h"

namespace velmora::emu {

void ReplaceAll(std::string& text, const std::string& token, const std::string& value) {
    for (std::size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
}

namespace {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

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
                   "Send a second 4F behind the acknowledgement of block N")
        ->check(CLI::PositiveNumber);
    app.add_option("--stray-ack-delay", c.strayAckDelayMs,
                   "Milliseconds from that acknowledgement to the stray 4F (default: right "
                   "behind it)")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--no-last-ack", c.options.neverAckLast, "Never acknowledge the last block");
    app.add_option("--stop-reading-after", c.options.stopReadingAfterBlocks,
                   "Stop reading the line after N acknowledged blocks, yet go on sending 4F")
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

// Turns one receiver's parsed faults into the emulator's options.
EmulatorOptions CompleteFaults(const FaultArgs& f) {
    EmulatorOptions options = f.options;
    options.ackDelay = std::chrono::milliseconds(f.ackDelayMs);
    options.strayAckDelay = std::chrono::milliseconds(f.strayAckDelayMs);
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

}  // namespace

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

}  // namespace velmora::emu
