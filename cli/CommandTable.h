// The facts the command line states about itself, each written once: its
// commands (name, one line on what each does, an example) and its exit
// statuses. The help, the usage errors and the man pages are built from them.
#pragma once

#include <span>
#include <string>

namespace velmora::cli {

struct CommandRow {
    const char* name;
    const char* description;  // the help's line for the command
    const char* example;      // shown after a usage error
};

struct ExitRow {
    int code;
    const char* meaning;
};

// In the order the help lists them; the first is the program's main command.
std::span<const CommandRow> CommandTable();
std::span<const ExitRow> ExitTable();

// The row of `name`; nullptr when there is no such command.
const CommandRow* FindCommand(const std::string& name);

// "send, convert, inspect and ports".
std::string CommandNames();

// The help's footer: "Exit status:" and one entry a status.
std::string ExitStatusHelp();

}  // namespace velmora::cli
