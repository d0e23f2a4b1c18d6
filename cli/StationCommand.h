// velmora-cli station: one file to many receivers, one port each.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace velmora::cli {

struct StationOptions {
    JobOptions job;  // job.port is unused: see ports
    std::vector<std::string> ports;
    bool once = false;
};

// Adds `station`. `addJobOptions` adds the options it shares with send (line,
// type, timeout, progress, --force); its single --port is replaced by a
// repeatable one.
CLI::App* AddStationCommand(CLI::App& app, StationOptions& options,
                            const std::function<void(CLI::App&, JobOptions&)>& addJobOptions);

int RunStation(const StationOptions& options);

}  // namespace velmora::cli
