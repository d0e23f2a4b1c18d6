#include "sdx/ListedService.h"

#include <cstring>
#include <tuple>

namespace velmora {

namespace {

// Satellite names are 18 bytes, channel names 20 (then 5 zero bytes).
constexpr std::size_t kSatNameLength = sizeof(SdxRecord::szSatName);
constexpr std::size_t kChannelNameLength = 20;

// CA systems the receiver tells apart, by the high byte of their ids.
constexpr std::uint32_t kKnownCaSystems[] = {0x01, 0x05, 0x06, 0x09, 0x0B, 0x0D, 0x0E};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool ServiceKey::operator<(const ServiceKey& other) const {
    return std::tie(nameSpace, serviceId, transportStreamId, networkId) <
           std::tie(other.nameSpace, other.serviceId, other.transportStreamId, other.networkId);
}

void ListedServices::Unreadable(std::int64_t line, std::string why) {
    ++unreadableCount;
    if (unreadable.size() < kMaxUnreadableShown) {
        unreadable.push_back({line, std::move(why)});
    }
}

std::optional<std::uint32_t> HexNumber(std::string_view text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        std::uint32_t digit = 0;
        if (IsDigit(c)) {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::optional<std::int64_t> DecimalNumber(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::vector<std::string_view> Fields(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t at = text.find(separator);
        fields.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return fields;
        }
        text.remove_prefix(at + 1);
    }
}

std::vector<TextLine> Lines(std::string_view text) {
    std::vector<TextLine> lines;
    std::int64_t number = 0;
    while (!text.empty()) {
        const std::size_t feed = text.find('\n');
        std::string_view line = text.substr(0, feed);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back({++number, line});
        if (feed == std::string_view::npos) {
            break;
        }
        text.remove_prefix(feed + 1);
    }
    return lines;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::int32_t RoundedThousandths(std::int64_t value) {
    return static_cast<std::int32_t>((value + 500) / 1000);
}

std::optional<std::int32_t> ParseOrbitalPosition(std::string_view text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    const char side = text.back();
    const bool west = side == 'W' || side == 'w';
    if (!west && side != 'E' && side != 'e') {
        return std::nullopt;
    }
    text.remove_suffix(1);
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view tenth = dot == std::string_view::npos ? "0" : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 3 || tenth.size() != 1 || !IsDigit(tenth[0])) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> degrees = DecimalNumber(whole);
    if (!degrees || *degrees < 0) {
        return std::nullopt;
    }
    const std::int64_t tenths = *degrees * 10 + (tenth[0] - '0');
    if (tenths > 1800) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(west ? (3600 - tenths) % 3600 : tenths);
}

std::string OrbitalPositionText(std::int32_t position) {
    const bool west = position > 1800;
    const std::int32_t tenths = west ? 3600 - position : position;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + (west ? "W" : "E");
}

std::int32_t CaSystemIdOfCaid(std::uint32_t caid) {
    const std::uint32_t system = caid >> 8;
    for (const std::uint32_t known : kKnownCaSystems) {
        if (system == known) {
            return static_cast<std::int32_t>(known << 8);
        }
    }
    return 1;
}

std::string WithoutEmphasisCodes(std::string_view name) {
    std::string out;
    for (std::size_t at = 0; at < name.size();) {
        char32_t codePoint = 0;
        const std::size_t length = Utf8SequenceAt(name, at, codePoint);
        const auto byte = static_cast<std::uint8_t>(name[at]);
        const bool emphasis =
            length > 0 ? (codePoint == 0x86 || codePoint == 0x87) : (byte == 0x86 || byte == 0x87);
        if (!emphasis) {
            out.append(name.substr(at, length > 0 ? length : 1));
        }
        at += length > 0 ? length : 1;
    }
    return out;
}

void FillSdxRecord(const ListedService& s, std::string_view satelliteName, SdxRecord& out,
                   NameTally& names) {
    out = SdxRecord{};
    out.nSpan = static_cast<std::int32_t>(kSdxRecordSize - 1);
    Utf8NameToCp1252(satelliteName, out.szSatName, kSatNameLength, names);
    out.chServiceType = s.serviceType;
    out.nFrequency = s.frequency;
    out.chPolarisation = s.polarisation;
    out.nOrbitalPosition = s.position;
    out.nSymbolRate = s.symbolRate;
    out.nVideoPid = s.videoPid;
    out.nAudioPid = s.audioPid;
    out.nPcrPid = s.pcrPid;
    out.nServiceId = static_cast<std::int32_t>(s.key.serviceId);
    out.nNetworkId = static_cast<std::int32_t>(s.key.networkId);
    out.nTransportStreamId = static_cast<std::int32_t>(s.key.transportStreamId);
    out.nCaSystemId = s.caSystemId;
    Utf8NameToCp1252(WithoutEmphasisCodes(s.name), out.szChannelName, kChannelNameLength, names);
    std::memcpy(out.szNetworkName, "NET", 3);
}

}  // namespace velmora
