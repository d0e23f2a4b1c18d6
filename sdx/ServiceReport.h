// What a conversion made of a list, in words: what became of the services of
// an Enigma2 or VDR list (the lines that come before the report of the
// database limits, and the causes a refusal names), and what the receiver
// gets.
#pragma once

#include <string>
#include <vector>

#include "base/JobEvents.h"

namespace velmora {

// One phrase per cause that has any, such as "182 listed twice (the first
// entry goes in)".
std::vector<std::string> SkippedServiceCauses(const ServiceTally& services);

// What was read and converted, why services were skipped, and the lines
// that could not be read: "Read 1,871 services from lamedb (Enigma2 list,
// version 4).", "Converted 1,689 services, 20 of them without PIDs.", ...
std::vector<std::string> ServiceReportLines(const ConversionReport& report);

// "The receiver gets 2 satellites, 142 transponders, 500 TV channels and 1
// radio channel.": what the image holds, for every list.
std::string ReceiverGetsLine(const ConversionReport& report);

// The report of an Enigma2 or VDR list for a window's box: the lines of
// ServiceReportLines, what the receiver gets, and how many services the
// database limits left out. Empty for a SATCODX list, which leaves nothing
// out by design.
std::string ListReportText(const ConversionReport& report);

}  // namespace velmora
