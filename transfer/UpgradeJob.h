// The job itself, as the worker thread runs it: the conversion when the file
// is a channel list, then the transfer to the receiver's boot loader (see
// transfer/UpgradeWorker.h for the exchange).
#pragma once

#include <stop_token>

#include "base/JobSettings.h"
#include "transfer/UpgradeWorker.h"

namespace velmora {

// Runs one job on the calling thread and tells how it ended. The port is
// closed on every path; `settings` is the job's own copy.
JobOutcome RunUpgradeJob(JobSettings& settings, JobEnvironment& env, std::stop_token stop);

}  // namespace velmora
