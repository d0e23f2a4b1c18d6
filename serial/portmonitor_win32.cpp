// Windows sends no plug event to a program without a window, so the monitor
// reads SetupAPI's list again every 1.5 s.
#include "serial/PortMonitor.h"

namespace velmora {

std::unique_ptr<IPortMonitor> MakePortMonitor() {
    return std::make_unique<PollingPortMonitor>([] { return ListSerialPorts(); },
                                                std::chrono::milliseconds(1500));
}

}  // namespace velmora
