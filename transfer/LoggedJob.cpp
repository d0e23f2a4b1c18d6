#include "transfer/LoggedJob.h"

#include "shop/JobIdentity.h"

namespace velmora {

void FillAdapter(JobRecord& record, const std::vector<SerialPortInfo>& ports) {
    if (record.port.empty()) {
        return;
    }
    if (const SerialPortInfo* p = FindPort(ports, record.port); p != nullptr && p->usb) {
        record.vendorId = p->vendorId;
        record.productId = p->productId;
        record.serial = p->serialNumber;
    }
}

bool AppendJobToLog(const std::string& path, JobRecord record, const std::string& bench,
                    std::string& error) {
    shop::StampJob(record, bench.empty() ? shop::BenchName("") : bench);
    FillAdapter(record, ListSerialPorts());
    return AppendJobRecord(path, record, error);
}

}  // namespace velmora
