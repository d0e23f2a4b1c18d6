// velmora-cli station: one file to many receivers, one port each.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace velmora::cli {

struct StationOptions {
    JobOptions job;  // job.port is unused: see ports
    std::vector<std::string> ports;
    bool once = false;
};

int RunStation(const StationOptions& options);

// The options of `station` on `command`: the file, send's line and database
// options with a repeatable --port, --work-dir, the output options, --once
// and --log. Neither the file nor a port is required here (the station
// window asks for them); the command line's station requires both.
void AddStationOptions(CLI::App& command, StationOptions& options);

// --port all, alone: every USB serial adapter, and those plugged in later.
bool ServesEveryAdapter(const std::vector<std::string>& ports);

}  // namespace velmora::cli
