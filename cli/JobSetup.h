// What the commands that run a job share: the job's settings from their
// options, the wait limit, the line as technicians write it, and the checks
// that refuse a job before any port opens.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "base/JobSettings.h"
#include "cli/Commands.h"
#include "transfer/JobChecks.h"

namespace velmora::cli {

class Console;

// The settings of the job that `options` describe, with the dialog's values
// `values` (the options' own, or those with the port the command chose).
JobSettings JobSettingsFromOptions(const JobOptions& options, const DialogValues& values);

// --timeout SECONDS as a wait limit: never 0 ms, which would mean no limit.
std::chrono::milliseconds WaitLimit(double seconds);

// "115200 8N1": the line settings as technicians write them.
std::string LineText(const DialogValues& values);

// Ends a command: the result event (with --progress json), then `status`.
int Ended(Console& console, const std::string& outcome, int status);

// One warning line when the file does not look like a plain SATCODX "103"
// list; the conversion itself is the same either way.
void WarnIfNotPlainSdx(Console& console, const std::string& path);

// Refuses, before anything is opened or written, a job that the engine's
// checks find wrong or impossible (unless --force lets a suspicious file
// through, with a warning). Returns the exit status of the refusal, or 0 when
// the job may go on.
// `convert` checks the file as a channel list whatever its name.
int RefuseBadJob(Console& console, const JobSettings& settings, bool force, bool convert = false);

// The same for problems already found (a station's checks, made once).
int RefuseProblems(Console& console, const std::vector<JobCheck>& problems,
                   const JobSettings& settings, bool force);

}  // namespace velmora::cli
