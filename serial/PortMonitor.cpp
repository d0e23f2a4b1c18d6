#include "serial/PortMonitor.h"

#include <algorithm>

namespace velmora {

namespace {

// What tells one adapter from another on the same name.
bool SameAdapter(const SerialPortInfo& a, const SerialPortInfo& b) {
    return a.name == b.name && a.vendorId == b.vendorId && a.productId == b.productId &&
           a.serialNumber == b.serialNumber && a.location == b.location &&
           a.byPathPath == b.byPathPath;
}

}  // namespace

std::vector<PortEvent> PortListDiff::Update(const std::vector<SerialPortInfo>& now) {
    std::vector<SerialPortInfo> usb;
    std::copy_if(now.begin(), now.end(), std::back_inserter(usb),
                 [](const SerialPortInfo& p) { return p.usb; });
    const auto in = [](const std::vector<SerialPortInfo>& list, const SerialPortInfo& port) {
        return std::any_of(list.begin(), list.end(),
                           [&](const SerialPortInfo& p) { return SameAdapter(p, port); });
    };
    std::vector<PortEvent> events;
    for (const SerialPortInfo& old : m_known) {
        if (!in(usb, old)) {
            events.push_back({PortEvent::Kind::Removed, old});
        }
    }
    for (const SerialPortInfo& port : usb) {
        if (!in(m_known, port)) {
            events.push_back({PortEvent::Kind::Added, port});
        }
    }
    m_known = std::move(usb);
    return events;
}

void ReportChanges(PortListDiff& diff, const std::vector<SerialPortInfo>& now,
                   const IPortMonitor::Callback& callback) {
    for (const PortEvent& event : diff.Update(now)) {
        callback(event);
    }
}

PollingPortMonitor::PollingPortMonitor(Lister lister, std::chrono::milliseconds interval)
    : m_lister(std::move(lister)), m_interval(interval) {}

PollingPortMonitor::~PollingPortMonitor() {
    Stop();
}

bool PollingPortMonitor::Start(Callback callback, std::string& error) {
    if (m_thread.joinable()) {
        error = "The port monitor is already running; stop it before starting it again.";
        return false;
    }
    m_stop = false;
    m_thread = std::thread([this, callback = std::move(callback)] { Run(callback); });
    return true;
}

void PollingPortMonitor::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PollingPortMonitor::Run(const Callback& callback) {
    PortListDiff diff;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        lock.unlock();
        ReportChanges(diff, m_lister(), callback);
        lock.lock();
        m_wake.wait_for(lock, m_interval, [this] { return m_stop; });
    }
}

}  // namespace velmora
