// The upgrade worker: one job on its own thread (see transfer/UpgradeJob.h
// for the job, transfer/UpgradeProtocol.h for the exchange).
#pragma once

#include <atomic>
#include <stop_token>

#include "base/JobSettings.h"
#include "transfer/JobOutcome.h"
#include "transfer/UpgradeJob.h"

namespace velmora {

// The thread body of one job. `settings` is the job's own copy. `busy` is set
// for the whole job and cleared as the job's very last step; the port is
// closed on every path. Custom ends at once (port closed, nothing shown).
JobOutcome UpgradeThreadProc(JobSettings& settings, JobEnvironment& env, std::stop_token stop,
                             std::atomic<bool>& busy);

}  // namespace velmora
