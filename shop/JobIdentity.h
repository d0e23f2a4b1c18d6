// Who ran a job: the id that names it in the local log and in the shop
// record, the bench and the program's version. Stamped on each record as it
// is logged.
#pragma once

#include <string>

#include "base/JobLog.h"

namespace velmora::shop {

// A random UUID (version 4), "1b4e28ba-2fa1-4d2c-883f-0016d3cca427".
std::string NewJobId();

// A UUID made from the bytes of a log line, the same for the same line, for
// lines logged before jobs had ids: sending such a line twice never makes two
// rows. Version 8 (its own kind), from SHA-256.
std::string JobIdOfLine(const std::string& line);

// `given` (--bench NAME), or else this computer's name.
std::string BenchName(const std::string& given);

// Gives the record a new id (unless it has one), the bench and this
// program's version.
void StampJob(JobRecord& record, const std::string& bench);

}  // namespace velmora::shop
