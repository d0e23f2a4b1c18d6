#include "transfer/UpgradeWorker.h"

namespace velmora {

bool IsSdxFileName(std::string_view path) {
    if (path.size() < 4) {
        return false;
    }
    const std::string_view tail = path.substr(path.size() - 4);
    auto is = [](char c, char lower) { return c == lower || c == lower - ('a' - 'A'); };
    return tail[0] == '.' && is(tail[1], 's') && is(tail[2], 'd') && is(tail[3], 'x');
}

JobOutcome UpgradeThreadProc(JobSettings& settings, JobEnvironment& env, std::stop_token stop,
                             std::atomic<bool>& busy) {
    JobOutcome outcome = JobOutcome::NothingToDo;
    if (settings.nUpgradeType == UpgradeType::Custom) {
        // Nothing is sent and the bars are not touched; the port is handed back.
        env.port.Close();
    } else {
        outcome = RunUpgradeJob(settings, env, std::move(stop));
    }
    busy.store(false);
    return outcome;
}

}  // namespace velmora
