// What the commands share: their option groups (line, database, output), and
// how a command is added to the program and run once its options are parsed.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>
#include <string>

#include "base/JobSettings.h"

namespace velmora::cli {

struct JobOptions;

// A usage error a command finds after CLI11 has parsed its options: the full
// text, and the command whose example and help it points to.
class UsageProblem : public std::runtime_error {
public:
    UsageProblem(std::string command, const std::string& text)
        : std::runtime_error(text), command_(std::move(command)) {}
    const std::string& Command() const { return command_; }

private:
    std::string command_;
};

// Adds the command `name` of the command table to the program, with the
// table's description. Unknown options are collected, so that they get a
// "did you mean" before the command runs.
CLI::App* AddCommand(CLI::App& app, const std::string& name);

// Runs `run` once the command's arguments are parsed and all known, and
// leaves its exit status in `status`.
void OnRun(CLI::App& command, int& status, std::function<int()> run);

// The serial line: port, baud rate, data bits, parity, stop bits, upgrade
// type and the receiver's timeout (`send`).
void AddLineOptions(CLI::App& command, JobOptions& options);

// The database settings (model, project, limits, LNB values, offset) that
// `send`, `convert` and `inspect` share.
void AddDatabaseOptions(CLI::App& command, DialogValues& values);

// How a job shows its progress, and --force (`send`, `convert`).
void AddJobOutputOptions(CLI::App& command, JobOptions& options);

// Which services of an Enigma2 or VDR list go in, and the satellites.xml
// that names their positions (`send`, `convert`, `station`).
void AddListOptions(CLI::App& command, ListChoice& choice);

// The list choice a job takes: the options', where --force also reads an
// Enigma2 list of a version the reader does not know.
ListChoice ListChoiceOf(const JobOptions& options);

}  // namespace velmora::cli
