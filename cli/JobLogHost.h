// The job log of `send --log FILE`: the job's record, gathered while the
// console shows the job, and appended to the file once the job has ended.
#pragma once

#include <memory>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobLog.h"
#include "base/JobRecorder.h"
#include "transfer/JobOutcome.h"

namespace velmora::cli {

class Console;

class JobLogHost {
public:
    // Records nothing when `path` is empty: the console's own events and
    // message box are then handed through unchanged. Each record is stamped
    // with a job id, the `bench` and the program's version.
    JobLogHost(Console& console, std::string path, std::string bench = {});

    IJobEvents& Events();
    IMessageBox& Messages();

    // Appends the job's record once it has ended. A log that cannot be
    // written is a warning; the job's outcome stays what it was.
    // `device` names the port when the job ended before it said which.
    void Write(JobOutcome outcome, const std::string& device);

private:
    Console& m_console;
    std::string m_path;
    std::string m_bench;
    std::unique_ptr<JobRecorder> m_recorder;
};

// Whether a log serves one job (send) or many (station), for its warning.
enum class JobCount { One, Many };

// Appends `record` to the job log at `path`, stamped for `bench` (this
// computer's name when empty), with its USB adapter's ids. A log that cannot
// be written is a warning on `console`, never a failed upgrade.
void AppendToJobLog(Console& console, const std::string& path, JobRecord record, JobCount jobs,
                    const std::string& bench);

}  // namespace velmora::cli
