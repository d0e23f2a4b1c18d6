// Reading whichever channel list a job converts: a SATCODX list record by
// record (sdx/SdxReader.h), an Enigma2 or VDR list service by service. Each
// service of the latter becomes the record a SATCODX list of the same channel
// gives, so that everything after the reader (grouping, limits, image) is the
// same for all of them. The choice of satellites, bouquets and free services,
// and the satellite names from satellites.xml, apply here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "sdx/ListFormat.h"
#include "sdx/ListedService.h"
#include "sdx/SatellitesXml.h"
#include "sdx/SdxReader.h"

namespace velmora {

struct ChannelListRead {
    // The records in the order they go in. For an Enigma2 or VDR list nCount
    // and nPieces are the services converted, and `names` tells what the
    // mapping to code page 1252 changed.
    SdxReadResult records;
    ListReport report;
    // Why no service of the list can be converted; the list is refused then,
    // and nothing is written. Empty otherwise.
    std::string refusal;
};

// What a choice needs besides the list: the names of its satellites'
// positions and the services of each bouquet, in the bouquets' order.
struct ListSources {
    SatelliteNames satelliteNames;
    std::vector<std::vector<ServiceKey>> bouquets;
};

// Why `choice` cannot be used with the list at `path`; `version` is set when
// the only problem is an Enigma2 version the reader does not know (read all
// the same with choice.anyVersion). Empty when it can be used.
struct ListChoiceCheck {
    std::string fact;
    bool version = false;
};
ListChoiceCheck CheckListChoice(const std::string& path, const ListChoice& choice);

// Reads the list at `path`: a SATCODX list as ReadSdxFile does (`faults`
// apply to it), an Enigma2 or VDR list with `choice`, its satellites.xml and
// bouquets. Shows 10 on the analyse bar before and 20 after.
ChannelListRead ReadChannelList(const std::string& path, const ListChoice& choice,
                                IProgressBar& analyse, const SdxReadFaults* faults = nullptr);

// An Enigma2 or VDR list in memory, with what its choice needs already read.
// `displayName` names the list in a refusal.
ChannelListRead ReadServiceList(std::string_view text, const ListKind& kind,
                                const ListChoice& choice, const ListSources& sources,
                                std::string_view displayName);

}  // namespace velmora
