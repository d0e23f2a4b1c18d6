#include "transfer/UpgradeWorker.h"

namespace velmora {

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
