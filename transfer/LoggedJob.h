// A job's record as it goes into the job log, from send, the command line's
// station and the station window alike: stamped with its id, the bench and
// this program's version, with the USB adapter's ids of its port.
#pragma once

#include <string>
#include <vector>

#include "base/JobLog.h"
#include "serial/PortList.h"

namespace velmora {

// Fills in the USB adapter's vendor id, product id and serial number of the
// record's port, when one of `ports` is that device (links resolved).
void FillAdapter(JobRecord& record, const std::vector<SerialPortInfo>& ports);

// Appends `record` to the job log at `path`, stamped for `bench` (this
// computer's name when empty) and with its USB adapter's ids. False with
// `error` in plain words when the log could not be written; the job's outcome
// stays what it was.
bool AppendJobToLog(const std::string& path, JobRecord record, const std::string& bench,
                    std::string& error);

}  // namespace velmora
