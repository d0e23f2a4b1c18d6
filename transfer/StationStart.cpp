#include "transfer/StationStart.h"

#include "transfer/UpgradeController.h"

namespace velmora {

const JobCheck* StationChecks::Refusal(bool force) const {
    for (const JobCheck& check : problems) {
        if (!force || !check.Forceable()) {
            return &check;
        }
    }
    return nullptr;
}

std::vector<JobCheck> StationChecks::Forced(bool force) const {
    std::vector<JobCheck> forced;
    if (!force) {
        return forced;
    }
    for (const JobCheck& check : problems) {
        if (!check.Forceable()) {
            break;
        }
        forced.push_back(check);
    }
    return forced;
}

JobSettings StationJobSettings(const StationSettings& settings) {
    JobSettings job = JobSettingsFor(settings.values, settings.file, settings.workDir);
    job.listChoice = settings.listChoice;
    return job;
}

StationChecks CheckStation(const StationSettings& settings) {
    const JobSettings job = StationJobSettings(settings);
    return {CheckJob(job), DatabaseLimitProblem(job)};
}

std::optional<PortStartFailure> OpenStationPorts(
    CStation& station, const std::vector<std::string>& devices,
    const std::function<void(const std::string&)>& adding) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (adding) {
            adding(devices[i]);
        }
        std::string why;
        const StartResult result = station.AddPort(devices[i], why);
        if (result != StartResult::Started) {
            station.Stop();
            station.Wait();
            return PortStartFailure{i, why, result};
        }
    }
    return std::nullopt;
}

}  // namespace velmora
