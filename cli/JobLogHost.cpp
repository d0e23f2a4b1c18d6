#include "cli/JobLogHost.h"

#include <filesystem>
#include <system_error>

#include "cli/Console.h"
#include "serial/PortDevice.h"
#include "shop/JobIdentity.h"

namespace velmora::cli {

namespace {

// The device a path finally names, links resolved; the path itself when it
// cannot be resolved.
std::string Resolved(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

// True when both name one device: the same COM port ("COM11", "\\.\COM11"),
// or paths that lead to the same device.
bool SameDevice(const SerialPortInfo& port, const std::string& device) {
    const int com = ComNumberOf(device);
    if (com != 0) {
        return ComNumberOf(port.name) == com;
    }
    return port.name == device || port.byIdPath == device ||
           Resolved(port.name) == Resolved(device);
}

}  // namespace

void FillAdapter(JobRecord& record, const std::vector<SerialPortInfo>& ports) {
    if (record.port.empty()) {
        return;
    }
    for (const SerialPortInfo& p : ports) {
        if (p.usb && SameDevice(p, record.port)) {
            record.vendorId = p.vendorId;
            record.productId = p.productId;
            record.serial = p.serialNumber;
            return;
        }
    }
}

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
    shop::StampJob(record, m_bench.empty() ? shop::BenchName("") : m_bench);
    AppendToJobLog(m_console, m_path, std::move(record), JobCount::One);
}

void AppendToJobLog(Console& console, const std::string& path, JobRecord record, JobCount jobs) {
    FillAdapter(record, ListSerialPorts());
    if (std::string error; !AppendJobRecord(path, record, error)) {
        console.Warn(
            "The job log " + path + " could not be written (" + error + "). " +
            (jobs == JobCount::One ? "The upgrade itself is" : "The upgrades themselves are") +
            " not affected; to keep a log, name a file in a folder you can write to with "
            "--log FILE.");
    }
}

}  // namespace velmora::cli
