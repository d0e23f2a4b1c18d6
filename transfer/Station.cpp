#include "transfer/Station.h"

#include <algorithm>
#include <filesystem>
#include <new>

#include "base/InputFile.h"
#include "base/JobRecorder.h"
#include "base/Sha256.h"
#include "sdx/ConversionChain.h"
#include "sdx/ListFormat.h"

namespace velmora {

namespace {

// How often a port waiting for its file looks for it.
constexpr std::chrono::milliseconds kFileLook{500};

class NoBar final : public IProgressBar {
public:
    void SetRange(int, int) override {}
    void SetPos(int) override {}
};

class NoMessages final : public IMessageBox {
public:
    using IMessageBox::Show;
    void Show(const std::string&, MessageCaption) override {}
};

}  // namespace

// One port of the station: its controller, and the record of its current job.
class CStation::Port final : public IJobEvents {
public:
    Port(CStation& station, std::string device)
        : m_station(station),
          m_device(std::move(device)),
          m_recorder(*this, m_messages),
          m_controller(m_bar, m_bar, m_recorder.Messages()) {
        m_controller.SetEvents(&m_recorder);
        m_controller.SetDeviceOverride(m_device);
        m_controller.SetPacer(station.m_pacer);
        m_controller.SetForce(station.m_settings.force);
        m_controller.SetWaitLimit(station.m_settings.waitLimit);
        // A port waits for its next receiver while the technician may put
        // the next version of the file in place.
        m_controller.SetTakeFileWhenReady(true);
    }

    const std::string& Device() const { return m_device; }
    CUpgradeController& Controller() { return m_controller; }
    JobRecorder& Recorder() { return m_recorder; }
    // The receiver announced itself during the current job.
    bool Served() const { return m_served.load(); }
    bool removed = false;         // guarded by the station's mutex
    bool waitingForFile = false;  // no job runs: guarded by the station's mutex

    StartResult Start() {
        m_served.store(false);
        m_recorder.Begin();
        m_controller.Settings().strFilePath = m_station.m_sendFile;
        m_controller.Settings().strWorkDir = m_station.m_settings.workDir;
        m_controller.SetImage(m_station.m_image);
        return m_controller.Start(m_station.m_sendFile, m_station.m_settings.values);
    }

    void OnPhase(JobPhase phase) override {
        if (phase == JobPhase::WaitingForReceiver) {
            m_station.m_host.OnWaiting(m_device);
        } else if (phase == JobPhase::Sending) {
            m_served.store(true);
            m_station.m_host.OnSending(m_device, m_total.load());
        }
    }
    void OnPlan(const TransferPlan& plan) override { m_total.store(plan.length); }
    void OnBytesSent(std::uint64_t sent, std::uint64_t total) override {
        m_station.m_host.OnBytesSent(m_device, sent, total);
    }
    void OnEnded() override { m_station.PortEnded(*this); }

private:
    CStation& m_station;
    std::string m_device;
    NoBar m_bar;
    NoMessages m_messages;
    std::atomic<bool> m_served{false};
    std::atomic<std::uint64_t> m_total{0};
    JobRecorder m_recorder;
    CUpgradeController m_controller;
};

CStation::CStation(IStationHost& host, StationSettings settings, IBytePacer& pacer)
    : m_host(host), m_settings(std::move(settings)), m_pacer(pacer), m_sendFile(m_settings.file) {
    m_thread = std::jthread([this](std::stop_token stop) { Supervise(std::move(stop)); });
}

CStation::~CStation() {
    Stop();
    Wait();
    m_thread.request_stop();
    m_cv.notify_all();
}

std::string CStation::Prepare(bool& refused) {
    refused = false;
    if (!IsChannelList(m_settings.file)) {
        return {};
    }
    JobSettings settings = JobSettingsFor(m_settings.values, m_settings.file, m_settings.workDir);
    settings.listChoice = m_settings.listChoice;
    NoBar bar;
    NoMessages messages;
    const ChainResult chain = RunConversionChain(settings, bar, messages, std::stop_token());
    if (chain.status == ChainStatus::Refused || chain.status == ChainStatus::Failed) {
        refused = chain.status == ChainStatus::Refused;
        return chain.message;
    }
    if (settings.bConverted != 0) {
        std::string ignored;
        m_list = m_settings.file;
        m_listSha256 = Sha256OfFile(m_list, ignored);
        m_sendFile = chain.imagePath;
        m_conversion = chain.report;
        return KeepImage();
    }
    return {};
}

// Another conversion in the same folder may rewrite the image at any time:
// every receiver gets the bytes read here, once.
std::string CStation::KeepImage() {
    InputFile file;
    if (!file.Open(m_sendFile)) {
        return "Cannot read the converted image " + m_sendFile + ": " + file.Error() + ".";
    }
    auto image = std::make_shared<std::vector<std::uint8_t>>();
    try {
        image->resize(file.Length());
    } catch (const std::bad_alloc&) {
        return "Not enough memory to keep the converted image " + m_sendFile + " (" +
               std::to_string(file.Length()) +
               " bytes) for every receiver. Convert the list with smaller database limits.";
    }
    if (file.Read(image->data(), image->size()) != image->size()) {
        return "The converted image " + m_sendFile +
               " became shorter while it was read. Run the station again.";
    }
    m_image = std::move(image);
    return {};
}

StartResult CStation::AddPort(const std::string& device, std::string& why) {
    auto port = std::make_unique<Port>(*this, device);
    Port& added = *port;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            why = "The station is stopping.";
            return StartResult::Busy;
        }
        m_ports.push_back(std::move(port));
    }
    const StartResult result = added.Start();
    if (result != StartResult::Started) {
        why = StartFailure(added, result);
        std::lock_guard lock(m_mutex);
        m_ports.remove_if([&added](const auto& p) { return p.get() == &added; });
        m_cv.notify_all();
    }
    return result;
}

void CStation::RemovePort(const std::string& device) {
    {
        std::lock_guard lock(m_mutex);
        for (auto& port : m_ports) {
            if (port->Device() == device) {
                port->removed = true;
                port->Controller().Cancel();
            }
        }
        m_lookAtPorts = true;  // one waiting for the file has no job to end
    }
    m_cv.notify_all();
}

void CStation::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (auto& port : m_ports) {
            port->Controller().Cancel();
        }
        m_lookAtPorts = true;
    }
    m_cv.notify_all();
}

void CStation::PortEnded(Port& port) {
    {
        std::lock_guard lock(m_mutex);
        m_ended.push_back(&port);
    }
    m_cv.notify_all();
}

bool CStation::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_ports.empty(); });
}

void CStation::Wait() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_ports.empty(); });
}

void CStation::Supervise(std::stop_token stop) {
    for (;;) {
        Port* ended = nullptr;
        {
            std::unique_lock lock(m_mutex);
            const auto woken = [this] { return !m_ended.empty() || m_lookAtPorts; };
            const bool fileWaits = std::any_of(m_ports.begin(), m_ports.end(),
                                               [](const auto& p) { return p->waitingForFile; });
            if (fileWaits) {
                m_cv.wait_for(lock, stop, kFileLook, woken);
            } else {
                m_cv.wait(lock, stop, woken);
            }
            if (stop.stop_requested()) {
                return;
            }
            m_lookAtPorts = false;
            if (!m_ended.empty()) {
                ended = m_ended.front();
                m_ended.pop_front();
            }
        }
        if (ended != nullptr) {
            AfterJob(*ended);
        }
        LookAfterFileWaits();
    }
}

// Reports the job that ended on `port` and starts the port's next one, or
// lets the port go.
void CStation::AfterJob(Port& port) {
    port.Controller().Wait();
    const JobOutcome outcome = port.Controller().LastOutcome();
    bool stopping = false;
    bool removed = false;
    {
        std::lock_guard lock(m_mutex);
        stopping = m_stopping;
        removed = port.removed;
    }
    // Running on, a file that could not be had before the receiver was
    // served is no job: the port waits for the file.
    const bool fileTrouble = !m_settings.once && !port.Served() && outcome == JobOutcome::FileError;
    // A port whose receiver never announced itself served nobody when it
    // went away or was stopped, or, running on, its wait ran out.
    const bool idleEnd = fileTrouble || outcome == JobOutcome::Cancelled ||
                         outcome == JobOutcome::DeviceLost ||
                         (outcome == JobOutcome::TimedOut && !m_settings.once);
    const bool served = port.Served() || !idleEnd;
    if (served) {
        ReportJob(port, outcome);
    }
    const bool again = !stopping && !removed && !(m_settings.once && served);
    if (again && fileTrouble) {
        const std::string problem = FileProblem();
        WaitForFile(port, problem.empty() ? port.Recorder().Finish("").message : problem);
        return;
    }
    if (again) {
        StartNext(port);
        return;
    }
    if (outcome == JobOutcome::DeviceLost && !served) {
        m_host.OnPortDropped(port.Device(), "The adapter went away.");
    }
    Forget(port);
}

void CStation::ReportJob(Port& port, JobOutcome outcome) {
    StationJobEnd end;
    end.port = port.Device();
    end.outcome = outcome;
    end.cutShort = outcome == JobOutcome::Cancelled;
    end.record = port.Recorder().Finish(JobOutcomeName(outcome));
    if (end.record.port.empty()) {
        end.record.port = port.Device();
    }
    // Every job sends the image of the list converted once at the start.
    if (!m_list.empty() && end.record.list.empty()) {
        end.record.list = m_list;
        end.record.listSha256 = m_listSha256;
    }
    m_host.OnJobEnded(end);
}

// Starts the port's next job. A port whose file is missing waits for it; one
// that cannot go on leaves the station.
void CStation::StartNext(Port& port) {
    std::string why;
    switch (Restart(port, why)) {
        case Next::Running:
            return;
        case Next::WaitingForFile:
            WaitForFile(port, why);
            return;
        case Next::Failed:
            m_host.OnPortDropped(port.Device(), why);
            break;
    }
    Forget(port);
}

void CStation::WaitForFile(Port& port, const std::string& reason) {
    {
        std::lock_guard lock(m_mutex);
        port.waitingForFile = true;
    }
    m_host.OnWaitingForFile(port.Device(), reason);
}

// Ports waiting for the file go on once it can be read, and go when the
// station stops or they are removed. Only the station's thread runs this.
void CStation::LookAfterFileWaits() {
    std::vector<Port*> waiting;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_ports.begin(); it != m_ports.end();) {
            Port& port = **it;
            if (port.waitingForFile && (m_stopping || port.removed)) {
                it = m_ports.erase(it);
                m_cv.notify_all();
                continue;
            }
            if (port.waitingForFile) {
                waiting.push_back(&port);
            }
            ++it;
        }
    }
    if (waiting.empty() || !FileProblem().empty()) {
        return;
    }
    for (Port* port : waiting) {
        {
            std::lock_guard lock(m_mutex);
            port->waitingForFile = false;
        }
        StartNext(*port);
    }
}

// Why the file to send cannot be read now, in plain words; empty when it can.
std::string CStation::FileProblem() const {
    InputFile file;
    if (m_image || file.Open(m_sendFile)) {
        return {};
    }
    return m_sendFile + " cannot be read: " + file.Error() + ".";
}

void CStation::Forget(Port& port) {
    std::lock_guard lock(m_mutex);
    m_ports.remove_if([&port](const auto& p) { return p.get() == &port; });
    m_cv.notify_all();
}

std::string CStation::StartFailure(Port& port, StartResult result) {
    switch (result) {
        case StartResult::PortFailed:
            return port.Controller().LastPortFailure().Text();
        case StartResult::FileMissing:
            return "The file to send, " + m_sendFile + ", is gone.";
        default:
            return "The job was refused: " + port.Recorder().Finish("refused").message;
    }
}

CStation::Next CStation::Restart(Port& port, std::string& why) {
    if (port.Controller().LastOutcome() == JobOutcome::DeviceLost && !port.Served()) {
        why = "The adapter went away while no receiver was being served.";
        return Next::Failed;
    }
    if (const StartResult result = port.Start(); result != StartResult::Started) {
        why = StartFailure(port, result);
        if (result == StartResult::FileMissing && !m_settings.once) {
            const std::string problem = FileProblem();
            why = problem.empty() ? why : problem;
            return Next::WaitingForFile;
        }
        return Next::Failed;
    }
    // A stop that came while the port reopened reaches the new job too.
    std::lock_guard lock(m_mutex);
    if (m_stopping || port.removed) {
        port.Controller().Cancel();
    }
    return Next::Running;
}

CAdapterFollower::CAdapterFollower(CStation& station, IPortMonitor& monitor, Refused refused)
    : m_station(station), m_monitor(monitor), m_refused(std::move(refused)) {}

std::string CAdapterFollower::DeviceOf(const SerialPortInfo& port) {
    const std::string stable = port.StableName();
    return stable.rfind("/dev/", 0) == 0 ? stable : port.name;
}

bool CAdapterFollower::Start(std::string& error) {
    m_started = m_monitor.Start(
        [this](const PortEvent& event) {
            if (event.kind != PortEvent::Kind::Added) {
                return;
            }
            const std::string device = DeviceOf(event.port);
            std::string why;
            if (m_station.AddPort(device, why) == StartResult::Started) {
                m_taken.fetch_add(1);
            } else if (m_refused) {
                m_refused(device, why);
            }
        },
        error);
    return m_started;
}

void CAdapterFollower::Stop() {
    if (m_started) {
        m_monitor.Stop();
        m_started = false;
    }
}

}  // namespace velmora
