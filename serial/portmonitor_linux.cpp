// The adapters followed through udev: its monitor wakes the thread on every
// event of the "tty" subsystem, and the list is then read again, so that an
// added port comes with the links and details udev has just made for it.
// Without a running udev (a container, a chroot) nothing would ever wake
// it, so the list is then read again every 1.5 s instead.
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "serial/PortMonitor.h"

namespace velmora {

namespace {

constexpr std::chrono::milliseconds kRereadInterval{1500};

class UdevPortMonitor final : public IPortMonitor {
public:
    UdevPortMonitor() = default;
    ~UdevPortMonitor() override { Stop(); }
    UdevPortMonitor(const UdevPortMonitor&) = delete;
    UdevPortMonitor& operator=(const UdevPortMonitor&) = delete;

    bool Start(Callback callback, std::string& error) override {
        if (m_thread.joinable() || m_fallback) {
            error = "The port monitor is already running; stop it before starting it again.";
            return false;
        }
        if (!OpenMonitor()) {
            Close();
            m_fallback = std::make_unique<PollingPortMonitor>([] { return ListSerialPorts(); },
                                                              kRereadInterval);
            return m_fallback->Start(std::move(callback), error);
        }
        m_thread = std::thread([this, callback = std::move(callback)] { Run(callback); });
        return true;
    }

    void Stop() override {
        if (m_fallback) {
            m_fallback->Stop();
            m_fallback.reset();
        }
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_stop, &one, sizeof one);
            m_thread.join();
        }
        Close();
    }

private:
    // False when udev cannot be listened to.
    bool OpenMonitor() {
        if (::access("/run/udev/control", F_OK) != 0) {
            return false;  // no udev daemon: no events would ever come
        }
        m_udev = udev_new();
        m_monitor = m_udev != nullptr ? udev_monitor_new_from_netlink(m_udev, "udev") : nullptr;
        if (m_monitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0) {
            return false;
        }
        m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return m_stop >= 0;
    }

    void Close() {
        if (m_monitor != nullptr) {
            udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
        }
        if (m_udev != nullptr) {
            udev_unref(m_udev);
            m_udev = nullptr;
        }
        if (m_stop >= 0) {
            ::close(m_stop);
            m_stop = -1;
        }
    }

    void Run(const Callback& callback) {
        PortListDiff diff;
        ReportChanges(diff, ListSerialPorts(), callback);
        pollfd fds[2] = {{udev_monitor_get_fd(m_monitor), POLLIN, 0}, {m_stop, POLLIN, 0}};
        while (true) {
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return;
            }
            if ((fds[0].revents & POLLIN) == 0) {
                continue;
            }
            // Take every event waiting; one reading of the list covers them all.
            while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
                udev_device_unref(device);
            }
            ReportChanges(diff, ListSerialPorts(), callback);
        }
    }

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    int m_stop = -1;
    std::thread m_thread;
    std::unique_ptr<PollingPortMonitor> m_fallback;
};

}  // namespace

std::unique_ptr<IPortMonitor> MakePortMonitor() {
    return std::make_unique<UdevPortMonitor>();
}

}  // namespace velmora
