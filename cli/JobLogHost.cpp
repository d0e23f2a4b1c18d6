#include "cli/JobLogHost.h"

#include "cli/Console.h"
#include "transfer/LoggedJob.h"

namespace velmora::cli {

JobLogHost::JobLogHost(Console& console, std::string path, std::string bench)
    : m_console(console), m_path(std::move(path)), m_bench(std::move(bench)) {
    if (!m_path.empty()) {
        m_recorder = std::make_unique<JobRecorder>(console, console.Messages());
        m_recorder->Begin();
    }
}

IJobEvents& JobLogHost::Events() {
    return m_recorder ? static_cast<IJobEvents&>(*m_recorder) : m_console;
}

IMessageBox& JobLogHost::Messages() {
    return m_recorder ? m_recorder->Messages() : m_console.Messages();
}

void JobLogHost::Write(JobOutcome outcome, const std::string& device) {
    if (!m_recorder) {
        return;
    }
    JobRecord record = m_recorder->Finish(JobOutcomeName(outcome));
    if (record.port.empty()) {
        record.port = device;
    }
    AppendToJobLog(m_console, m_path, std::move(record), JobCount::One, m_bench);
}

void AppendToJobLog(Console& console, const std::string& path, JobRecord record, JobCount jobs,
                    const std::string& bench) {
    if (std::string error; !AppendJobToLog(path, std::move(record), bench, error)) {
        console.Warn(
            "The job log " + path + " could not be written (" + error + "). " +
            (jobs == JobCount::One ? "The upgrade itself is" : "The upgrades themselves are") +
            " not affected; to keep a log, name a file in a folder you can write to with "
            "--log FILE.");
    }
}

}  // namespace velmora::cli
