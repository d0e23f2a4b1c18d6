// A service of an Enigma2 or VDR channel list as its reader found it, and
// what the readers of both formats share: the numbers they parse, orbital
// positions, CA ids, and the SdxRecord a service becomes. That record holds
// what a SATCODX record of the same channel gives (its carried fields and
// CA code stay empty: nothing reads them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/CodePage.h"
#include "base/JobEvents.h"
#include "sdx/SdxReader.h"

namespace velmora {

// A PID the list does not give: the null PID, which no stream uses.
inline constexpr std::int32_t kNoPid = 8191;

// Why a service of a list does not go in, as far as its reader can tell.
enum class ServiceSkip {
    None,
    Unreadable,     // its lines could not be read
    Duplicate,      // held before in the list: the first entry goes in
    NotSatellite,   // on a cable or terrestrial transponder
    NoTransponder,  // on a transponder the list does not hold, or cannot read
    ServiceType,    // neither TV nor radio
};

// A service as the lists name it: Enigma2 namespace, SID, TSID and ONID (a
// VDR list has no namespace: 0).
struct ServiceKey {
    std::uint32_t nameSpace = 0;
    std::uint32_t serviceId = 0;
    std::uint32_t transportStreamId = 0;
    std::uint32_t networkId = 0;
    bool operator==(const ServiceKey&) const = default;
    bool operator<(const ServiceKey& other) const;
};

struct ListedService {
    std::int64_t line = 0;  // the line its entry begins on
    ServiceSkip skip = ServiceSkip::None;
    ServiceKey key;
    char serviceType = 0;         // 'T' or 'R'
    std::int32_t position = 0;    // tenths of a degree east, 0..3599
    std::int32_t frequency = 0;   // MHz
    char polarisation = '0';      // '1' horizontal or circular left, '0' the others
    std::int32_t symbolRate = 0;  // kS/s
    std::int32_t videoPid = kNoPid;
    std::int32_t audioPid = kNoPid;
    std::int32_t pcrPid = kNoPid;
    bool withoutPids = false;     // the list gives neither its video nor its audio PID
    std::int32_t caSystemId = 0;  // 0 free, 1 scrambled, else the CA system's first id
    std::string name;             // as the list writes it
};

// What a reader found in a list: its services in the list's order, and the
// lines it could not read.
struct ListedServices {
    std::vector<ListedService> services;
    std::vector<UnreadableLine> unreadable;  // the first kMaxUnreadableShown
    std::int64_t unreadableCount = 0;
    void Unreadable(std::int64_t line, std::string why);
};
inline constexpr std::size_t kMaxUnreadableShown = 100;

// Numbers as the lists write them; nothing when the text is not one (or
// longer than 8 hexadecimal or 9 decimal digits).
std::optional<std::uint32_t> HexNumber(std::string_view text);
std::optional<std::int64_t> DecimalNumber(std::string_view text);  // an optional leading '-'

// The text between separators: "a:b:c" split at ':' gives "a", "b", "c".
std::vector<std::string_view> Fields(std::string_view text, char separator);

// The lines of a text with their numbers (from 1), without their line ends
// (LF or CR LF).
struct TextLine {
    std::int64_t number = 0;
    std::string_view text;
};
std::vector<TextLine> Lines(std::string_view text);

// A line without blanks (spaces, tabs) at either end.
std::string_view Trimmed(std::string_view text);

// A value in thousandths to whole units, rounded half up (kHz to MHz).
std::int32_t RoundedThousandths(std::int64_t value);

// An orbital position as technicians write it ("19.2E", "13E", "30W",
// "0.8W", one decimal at most), in tenths of a degree east: 192, 130, 3300,
// 3592. Nothing for any other text or a position beyond 180 degrees.
std::optional<std::int32_t> ParseOrbitalPosition(std::string_view text);

// Tenths of a degree east as text with one decimal: "19.2E", "13.0E";
// above 180.0 degrees west: "30.0W", "0.8W".
std::string OrbitalPositionText(std::int32_t position);

// The CA system id of a CA system id as a list gives it: the first id of its
// range where the receiver knows the system (0x01xx gives 0x0100, and so for
// 05, 06, 09, 0B, 0D, 0E), else 1 (scrambled, system not told apart).
std::int32_t CaSystemIdOfCaid(std::uint32_t caid);

// The name without the DVB emphasis codes U+0086 and U+0087 (and the single
// bytes 86 and 87 outside UTF-8 sequences).
std::string WithoutEmphasisCodes(std::string_view name);

// The record a service gives: its numbers, the satellite name mapped to code
// page 1252 and cut to 18 bytes, the channel name mapped to code page 1252 in
// 20 bytes then 5 zero bytes, both padded with spaces.
void FillSdxRecord(const ListedService& service, std::string_view satelliteName, SdxRecord& out,
                   NameTally& names);

}  // namespace velmora
