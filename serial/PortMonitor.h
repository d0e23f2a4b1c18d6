// The USB serial adapters present, followed as they come and go: for a
// station that serves every adapter on the bench. A monitor reports each
// adapter present when it starts as Added, then every plug (Added) and unplug
// (Removed). Ports that are not USB adapters (built-in ports, virtual ones)
// are never reported.
//
//   auto monitor = velmora::MakePortMonitor();
//   monitor->Start([&](const velmora::PortEvent& e) { ... });  // on the monitor's thread
//   ...
//   monitor->Stop();  // no callback runs once Stop() has returned
//
// On Linux the monitor listens to udev (libudev's monitor on the "tty"
// subsystem) and reads the list again on each event; where udev cannot be
// listened to, and on Windows, it reads the list again every 1.5 s. The
// list is ListSerialPorts(); an adapter is known by its name together with
// its USB ids, serial number and location, so an adapter swapped for another
// on the same name between two readings is one Removed and one Added.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/PortList.h"

namespace velmora {

struct PortEvent {
    enum class Kind { Added, Removed };
    Kind kind = Kind::Added;
    // As the list showed it; port.StableName() is what to show the technician.
    SerialPortInfo port;
};

class IPortMonitor {
public:
    using Callback = std::function<void(const PortEvent&)>;
    virtual ~IPortMonitor() = default;
    // Starts following the adapters; `callback` runs on the monitor's own
    // thread, one event at a time, first for every adapter present. False
    // with `error` (plain words) when it cannot start.
    virtual bool Start(Callback callback, std::string& error) = 0;
    // Stops following them and waits for a running callback to return.
    virtual void Stop() = 0;
};

// The monitor for this system.
std::unique_ptr<IPortMonitor> MakePortMonitor();

// What changed between two readings of the list, USB adapters only.
class PortListDiff {
public:
    // The events that turn the last reading into `now`: removals, then additions.
    std::vector<PortEvent> Update(const std::vector<SerialPortInfo>& now);

private:
    std::vector<SerialPortInfo> m_known;
};

// A monitor that reads a list again every `interval` and reports what changed.
class PollingPortMonitor final : public IPortMonitor {
public:
    using Lister = std::function<std::vector<SerialPortInfo>()>;
    PollingPortMonitor(Lister lister, std::chrono::milliseconds interval);
    ~PollingPortMonitor() override;
    PollingPortMonitor(const PollingPortMonitor&) = delete;
    PollingPortMonitor& operator=(const PollingPortMonitor&) = delete;

    bool Start(Callback callback, std::string& error) override;
    void Stop() override;

private:
    void Run(const Callback& callback);

    Lister m_lister;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// Reports the events of one reading through `callback`.
void ReportChanges(PortListDiff& diff, const std::vector<SerialPortInfo>& now,
                   const IPortMonitor::Callback& callback);

}  // namespace velmora
