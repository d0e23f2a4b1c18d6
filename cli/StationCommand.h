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

}  // namespace velmora::cli
