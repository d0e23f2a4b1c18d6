// Starting a station, as the command line and the station window both do it:
// the checks that refuse its job before any port opens, the ports opened one
// after the other (the first that cannot be opened stops the station before
// a byte is sent). Each front end words the remedy its own way (an option, a
// control of the window).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transfer/JobChecks.h"
#include "transfer/Station.h"

namespace velmora {

// What stands in the way of a station's job before any port opens.
struct StationChecks {
    // The job's problems as CheckJob finds them, in the order a technician
    // meets them.
    std::vector<JobCheck> problems;
    // A database limit the channel table cannot use; empty when all are usable.
    std::string limitProblem;

    // The problem that refuses the station: the first that cannot be forced,
    // or the first of all without `force`; null when none does.
    const JobCheck* Refusal(bool force) const;
    // The problems that `force` lets through (none without it).
    std::vector<JobCheck> Forced(bool force) const;
};

// The job settings of the station's job.
JobSettings StationJobSettings(const StationSettings& settings);

// The checks of every job the station would run, once, before it starts.
StationChecks CheckStation(const StationSettings& settings);

// A port that could not be opened: which (its index among those given) and why.
struct PortStartFailure {
    std::size_t index = 0;
    std::string why;
    StartResult result = StartResult::PortFailed;
};

// Opens `devices` in order, telling `adding` of each one first (a view makes
// its row). The first that cannot be opened stops the station, which closes
// the ports opened so far before this returns: nothing has been sent then.
std::optional<PortStartFailure> OpenStationPorts(
    CStation& station, const std::vector<std::string>& devices,
    const std::function<void(const std::string&)>& adding = {});

}  // namespace velmora
