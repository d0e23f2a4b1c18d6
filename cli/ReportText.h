// The conversion report as velmora-cli shows it: readable lines, and one
// JSON object for scripts.
#pragma once

#include <string>
#include <vector>

#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "base/Json.h"

namespace velmora::cli {

// What the receiver gets and what was left out, and why; `settings` gives
// the limits the causes name.
std::vector<std::string> ConversionReportLines(const ConversionReport& report,
                                               const JobSettings& settings);

// {"list":...,"version":"105","recordLength":133,"namesConverted":n,
//  "charactersReplaced":n,"records":n,"kept":{...},"dropped":{cause:n,...},
//  "transpondersWithoutRecord":{...},"image":{"path":...,"size":n}}
// An Enigma2 or VDR list has "format" ("enigma2", "vdr") and "version" ("4",
// "" for VDR) in place of "version" and "recordLength", and "services" (read,
// converted, withoutPids, skipped by cause), "unreadableLines" (count, first)
// and "bouquetEntriesMissing" before "records", which counts the services
// converted.
Json ConversionReportObject(const ConversionReport& report);

}  // namespace velmora::cli
