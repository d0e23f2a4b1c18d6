#include "sdx/VdrList.h"

namespace velmora {

namespace {

constexpr std::size_t kFields = 13;

enum Field : std::size_t {
    kName,
    kFrequency,
    kParameters,
    kSource,
    kRate,
    kVpid,
    kApid,
    kTpid,
    kCaid,
    kSid,
    kNid,
    kTid
};

// A PID field's number, 0 when empty; -1 when it is no PID.
std::int64_t PidNumber(std::string_view text) {
    const std::optional<std::int64_t> value = text.empty() ? 0 : DecimalNumber(text);
    return value && *value >= 0 && *value <= 0x1FFF ? *value : -1;
}

// The first PID of a list such as "6520=deu@3,6521=mis@3".
std::int64_t FirstPid(std::string_view list) {
    const std::string_view first = Fields(list, ',')[0];
    return PidNumber(first.substr(0, first.find('=')));
}

// '1' for H or L (in either case), '0' for V or R; 0 when none is given.
// Other parameters are a letter and digits ("C23", "M5").
char PolarisationOf(std::string_view parameters) {
    for (const char c : parameters) {
        switch (c) {
            case 'H':
            case 'h':
            case 'L':
            case 'l':
                return '1';
            case 'V':
            case 'v':
            case 'R':
            case 'r':
                return '0';
            default:
                break;
        }
    }
    return 0;
}

// The name: up to the first ',' or ';', with '|' read as ':'.
std::string NameOf(std::string_view field) {
    std::string name(field.substr(0, field.find_first_of(",;")));
    for (char& c : name) {
        c = c == '|' ? ':' : c;
    }
    return name;
}

// The first CA id that is not 0; 0 when there is none.
std::optional<std::uint32_t> CaidOf(std::string_view field) {
    for (const std::string_view item : Fields(field, ',')) {
        const auto caid = HexNumber(Trimmed(item));
        if (!caid) {
            return std::nullopt;
        }
        if (*caid != 0) {
            return caid;
        }
    }
    return 0U;
}

// Fills the PIDs and the service type; false when a PID is not a number.
bool TakePids(const std::vector<std::string_view>& f, ListedService& s) {
    const std::string_view vpid = f[kVpid];
    const std::size_t plus = vpid.find('+');
    const std::int64_t video = PidNumber(vpid.substr(0, vpid.find_first_of("+=")));
    const std::int64_t pcr =
        plus == std::string_view::npos
            ? video
            : PidNumber(vpid.substr(plus + 1, vpid.find('=', plus) - plus - 1));
    const std::size_t semicolon = f[kApid].find(';');
    const std::int64_t audio = FirstPid(f[kApid].substr(0, semicolon));
    const std::int64_t dolby =
        semicolon == std::string_view::npos ? 0 : FirstPid(f[kApid].substr(semicolon + 1));
    if (video < 0 || pcr < 0 || audio < 0 || dolby < 0) {
        return false;
    }
    s.videoPid = static_cast<std::int32_t>(video);
    s.audioPid = static_cast<std::int32_t>(audio != 0 ? audio : dolby);
    // The PCR after '+'; else the video PID; else (a radio channel) the audio PID.
    s.pcrPid =
        pcr != 0 || plus != std::string_view::npos ? static_cast<std::int32_t>(pcr) : s.audioPid;
    s.serviceType = s.videoPid != 0 ? 'T' : s.audioPid != 0 ? 'R' : 0;
    return true;
}

// Why the satellite channel in `f` cannot be read; empty when it was.
std::string ReadSatellite(const std::vector<std::string_view>& f, ListedService& s) {
    const auto position = ParseOrbitalPosition(f[kSource].substr(1));
    const auto frequency = DecimalNumber(f[kFrequency]);
    const auto rate = DecimalNumber(f[kRate]);
    s.polarisation = PolarisationOf(f[kParameters]);
    if (!position) {
        return "a source that is no orbital position (S19.2E, S30W)";
    }
    if (!frequency || *frequency < 0 || !rate || *rate <= 0 || s.polarisation == 0) {
        return "no frequency, symbol rate or polarisation (H, V, L or R) to read";
    }
    const auto sid = DecimalNumber(f[kSid]);
    const auto nid = DecimalNumber(f[kNid]);
    const auto tid = DecimalNumber(f[kTid]);
    const auto caid = CaidOf(f[kCaid]);
    const auto id = [](const std::optional<std::int64_t>& v) {
        return v && *v >= 0 && *v <= 0xFFFF;
    };
    if (!id(sid) || !id(nid) || !id(tid) || !caid || !TakePids(f, s)) {
        return "a PID, CA id, SID, NID or TID that is not a number of its range";
    }
    s.position = *position;
    s.frequency = *frequency > 100000 ? RoundedThousandths(*frequency)
                                      : static_cast<std::int32_t>(*frequency);
    s.symbolRate = static_cast<std::int32_t>(*rate);
    s.key = {0, static_cast<std::uint32_t>(*sid), static_cast<std::uint32_t>(*tid),
             static_cast<std::uint32_t>(*nid)};
    s.caSystemId = *caid == 0 ? 0 : CaSystemIdOfCaid(*caid);
    return {};
}

ListedService ReadChannel(const TextLine& line, ListedServices& out) {
    ListedService s;
    s.line = line.number;
    const std::vector<std::string_view> f = Fields(Trimmed(line.text), ':');
    std::string why;
    if (f.size() != kFields) {
        why = std::to_string(f.size()) + " fields, where VDR writes 13";
    } else if (f[kSource].empty() || f[kSource][0] != 'S') {
        s.skip = ServiceSkip::NotSatellite;  // cable, terrestrial, IPTV, ...
        return s;
    } else {
        why = ReadSatellite(f, s);
    }
    if (!why.empty()) {
        out.Unreadable(line.number, "channel with " + why);
        s.skip = ServiceSkip::Unreadable;
        return s;
    }
    s.skip = s.serviceType == 0 ? ServiceSkip::ServiceType : ServiceSkip::None;
    s.name = NameOf(f[kName]);
    return s;
}

}  // namespace

ListedServices ReadVdrServices(std::string_view text) {
    ListedServices out;
    for (const TextLine& line : Lines(text)) {
        const std::string_view trimmed = Trimmed(line.text);
        if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == ':') {
            continue;
        }
        out.services.push_back(ReadChannel(line, out));
    }
    return out;
}

}  // namespace velmora
