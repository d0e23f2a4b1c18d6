// The emulator's command line: the options, each receiver's faults as the
// options and --fault give them, and the links to make. The program itself
// (main.cpp) runs the receivers and the command.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "emulator/ReceiverEmulator.h"

namespace velmora::emu {

// What one receiver's faults are, as the command line gives them.
struct FaultArgs {
    EmulatorOptions options;
    std::string readyMode = "normal";
    long ackDelayMs = 0;
    long strayAckDelayMs = 0;
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

// Every option of the program, written into `c`.
void DefineOptions(CLI::App& app, CommandLine& c);

// Every receiver's options, --fault entries applied; false after a message.
bool ReceiverOptions(const CommandLine& c, std::vector<EmulatorOptions>& all);

// The links to make, one per receiver; false after a message.
bool LinkPaths(const CommandLine& c, std::vector<std::string>& links);

// Replaces every `token` in `text` with `value`.
void ReplaceAll(std::string& text, const std::string& token, const std::string& value);

}  // namespace velmora::emu
