#include "transfer/UpgradeController.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "sdx/ChannelDatabase.h"
#include "transfer/JobChecks.h"

namespace velmora {

std::string PortFailedText(int portNumber) {
    std::string text = kPortFailedMessage;
    const std::size_t at = text.find("%d");
    text.replace(at, 2, std::to_string(portNumber));
    return text;
}

namespace {

bool FileExists(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::error_code ec;
    return std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec);
}

}  // namespace

std::string DatabaseLimitProblem(const JobSettings& s) {
    if (s.nMaxSat > kMaxSatellites) {
        return "Max Sat No. is " + std::to_string(s.nMaxSat) +
               ", but the channel database holds at most " + std::to_string(kMaxSatellites) +
               " satellites. Enter " + std::to_string(kMaxSatellites) +
               " or less and press Start again.";
    }
    const struct {
        const char* label;
        std::int32_t value;
    } limits[] = {{"Max Sat No.", s.nMaxSat},
                  {"Max TP No.", s.nMaxTp},
                  {"Max TV No.", s.nMaxTv},
                  {"Max Radio No.", s.nMaxRadio}};
    for (const auto& limit : limits) {
        if (limit.value < 0) {
            return std::string(limit.label) + " is " + std::to_string(limit.value) +
                   ", but a database limit cannot be negative. Enter 0 or more and press Start "
                   "again.";
        }
    }
    return {};
}

CUpgradeController::CUpgradeController(IProgressBar& analyseBar, IProgressBar& sendBar,
                                       IMessageBox& messages, std::unique_ptr<IPortDevice> device)
    : m_analyseBar(analyseBar),
      m_sendBar(sendBar),
      m_messages(messages),
      m_port(device ? std::move(device) : CreatePlatformPortDevice()),
      m_clock(&SystemPacingClock()),
      m_pacer(&SharedBytePacer()) {}

CUpgradeController::~CUpgradeController() {
    Cancel();
    Wait();
}

StartResult CUpgradeController::Start(const std::string& filePath,
                                      const std::function<DialogValues()>& readControls) {
    if (!m_image && !FileExists(filePath)) {
        m_messages.Show(kFileMissingMessage);
        return StartResult::FileMissing;
    }
    const DialogValues values = readControls();
    ConvertDialogValues(values, m_settings, m_line);
    m_line.strDevice = m_deviceOverride;

    if (m_bBusy.load()) {
        return StartResult::Busy;
    }
    if (const std::string problem = DatabaseLimitProblem(m_settings); !problem.empty()) {
        m_messages.Show(problem);
        return StartResult::LimitRefused;
    }
    if (!m_force) {
        if (const auto refusal = CheckDatabaseAsCode(m_settings)) {
            m_messages.Show(refusal->Message());
            return StartResult::ImageRefused;
        }
    }

    // A COM name is opened as this platform names it ("COM11" as "\\.\COM11").
    const int overrideCom = ComNumberOf(m_line.strDevice);
    if (overrideCom > 0) {
        m_line.strDevice = ResolvePortName(overrideCom);
    }
    const int opened = m_line.strDevice.empty()
                           ? m_port.Open(m_line.nPort, m_line.nBaudRate, m_line.nDataBits,
                                         m_line.nParity, m_line.nStopBits)
                           : m_port.OpenDevice(m_line.strDevice, m_line.nBaudRate, m_line.nDataBits,
                                               m_line.nParity, m_line.nStopBits);
    if (opened == 0) {
        const int comNumber = m_line.strDevice.empty() ? m_line.nPort : overrideCom;
        m_messages.Show(comNumber > 0 || m_line.strDevice.empty()
                            ? PortFailedText(comNumber)
                            : m_port.LastOpenFailure().Text());
        return StartResult::PortFailed;
    }
    StartWorker();
    return StartResult::Started;
}

void CUpgradeController::StartWorker() {
    std::lock_guard lock(m_threadMutex);
    // A previous worker has cleared the busy flag, which is its last step, and
    // its port is closed: joining it cannot wait on anything.
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_bBusy.store(true);
    {
        std::lock_guard done(m_doneMutex);
        m_workerDone = false;
    }
    m_stopSource = std::stop_source();
    if (m_cancelPending) {
        // Cancel() came while this Start was under way: the job ends at once.
        m_cancelPending = false;
        m_stopSource.request_stop();
    }
    // The job works on its own copy of the settings: choosing another file or
    // pressing Start again cannot change a running job.
    m_worker = std::thread([this, job = m_settings, stop = m_stopSource.get_token()]() mutable {
        JobEnvironment env{m_port,   m_analyseBar, m_sendBar,   m_messages,
                           *m_clock, *m_pacer,     m_waitLimit, m_events};
        env.image = m_image;
        env.takeFileWhenReady = m_takeFileWhenReady;
        const JobOutcome outcome = UpgradeThreadProc(job, env, stop, m_bBusy);
        m_lastOutcome.store(outcome);
        if (m_events != nullptr) {
            m_events->OnEnded();
        }
        {
            std::lock_guard done(m_doneMutex);
            m_workerDone = true;
        }
        m_doneCv.notify_all();
    });
}

void CUpgradeController::Cancel() {
    std::lock_guard lock(m_threadMutex);
    // The busy flag is set under this lock before a worker starts, and cleared
    // by the worker as its last step.
    if (m_bBusy.load()) {
        m_stopSource.request_stop();
        m_port.Interrupt();
        return;
    }
    // No job runs: a Start may be between opening the port and starting its
    // worker. That job is cancelled as it starts.
    m_cancelPending = true;
}

void CUpgradeController::Wait() {
    // Wait without holding the thread lock, so that Cancel() stays possible.
    {
        std::unique_lock done(m_doneMutex);
        m_doneCv.wait(done, [this] { return m_workerDone; });
    }
    std::lock_guard lock(m_threadMutex);
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool CUpgradeController::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock done(m_doneMutex);
    return m_doneCv.wait_for(done, timeout, [this] { return m_workerDone; });
}

}  // namespace velmora
