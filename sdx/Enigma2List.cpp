#include "sdx/Enigma2List.h"

#include <algorithm>
#include <map>
#include <set>

#include "sdx/ListFormat.h"

namespace velmora {

namespace {

// A transponder's delivery data, as far as a service needs it.
struct Transponder {
    bool readable = false;
    char delivery = 0;  // 's' satellite, 'c' cable, 't' terrestrial, ...
    std::int32_t position = 0;
    std::int32_t frequency = 0;
    std::int32_t symbolRate = 0;
    char polarisation = '0';
};

// Transponders are keyed like services, with service id 0.
using Transponders = std::map<ServiceKey, Transponder>;

// A service's entry before its transponder is looked up.
struct Entry {
    ListedService service;
    int type = 0;
    std::string_view data;
};

struct Parsed {
    Transponders transponders;
    std::vector<Entry> entries;
    ListedServices out;
};

std::optional<ServiceKey> TransponderKeyOf(std::string_view text) {
    const std::vector<std::string_view> f = Fields(Trimmed(text), ':');
    if (f.size() != 3) {
        return std::nullopt;
    }
    const auto ns = HexNumber(f[0]);
    const auto tsid = HexNumber(f[1]);
    const auto onid = HexNumber(f[2]);
    if (!ns || !tsid || !onid) {
        return std::nullopt;
    }
    return ServiceKey{*ns, 0, *tsid, *onid};
}

// "s 10719000:27500000:1:4:130:..." (or "s:..." in version 5). Empty when
// read; otherwise why not.
std::string ReadDelivery(std::string_view text, Transponder& tp) {
    text = Trimmed(text);
    if (text.size() < 2 || (text[1] != ' ' && text[1] != ':')) {
        return "no delivery data (\"s frequency:symbol rate:...\")";
    }
    tp.delivery = text[0];
    if (tp.delivery != 's') {
        tp.readable = true;  // cable or terrestrial: nothing more is needed
        return {};
    }
    std::vector<std::string_view> f = Fields(text.substr(2), ':');
    f.resize(std::max<std::size_t>(f.size(), 5));
    const std::int64_t frequency = DecimalNumber(f[0]).value_or(-1);
    const std::int64_t rate = DecimalNumber(f[1]).value_or(-1);
    const std::int64_t pol = DecimalNumber(f[2]).value_or(-1);
    const std::int64_t pos = DecimalNumber(f[4]).value_or(-9999);
    if (frequency < 0 || rate < 0 || pol < 0 || pos == -9999) {
        return "satellite data that is not \"frequency:symbol rate:polarisation:fec:position\"";
    }
    if (RoundedThousandths(rate) == 0 || pol > 3 || pos <= -1800 || pos >= 3600) {
        return "a symbol rate, polarisation or orbital position out of range";
    }
    tp.frequency = RoundedThousandths(frequency);
    tp.symbolRate = RoundedThousandths(rate);
    tp.polarisation = pol == 0 || pol == 2 ? '1' : '0';
    tp.position = static_cast<std::int32_t>(pos < 0 ? 3600 + pos : pos);
    tp.readable = true;
    return {};
}

void AddTransponder(Parsed& p, std::int64_t line, const ServiceKey& key, std::string_view data) {
    Transponder tp;
    if (const std::string why = ReadDelivery(data, tp); !why.empty()) {
        p.out.Unreadable(line, "transponder with " + why);
    }
    p.transponders.emplace(key, tp);
}

// Versions 3 and 4: the transponders from `i` to their "end"; returns the
// index after it.
std::size_t ReadTransponders(const std::vector<TextLine>& lines, std::size_t i, Parsed& p) {
    while (i < lines.size() && Trimmed(lines[i].text) != "end") {
        const std::string_view text = Trimmed(lines[i].text);
        const std::optional<ServiceKey> key = TransponderKeyOf(text);
        if (text.empty() || text == "/") {
            ++i;
            continue;
        }
        if (!key) {
            p.out.Unreadable(lines[i].number, "not a transponder (\"namespace:tsid:onid\")");
            ++i;
            continue;
        }
        const bool hasData = i + 1 < lines.size() && Trimmed(lines[i + 1].text) != "/" &&
                             Trimmed(lines[i + 1].text) != "end";
        if (hasData) {
            AddTransponder(p, lines[i + 1].number, *key, lines[i + 1].text);
        } else {
            p.out.Unreadable(lines[i].number, "transponder without its delivery data line");
            p.transponders.emplace(*key, Transponder{});
        }
        i += hasData ? 2 : 1;
    }
    return i + 1;
}

// "sid:namespace:tsid:onid:type:number[:...]".
std::optional<Entry> ServiceHeadOf(std::string_view text) {
    const std::vector<std::string_view> f = Fields(Trimmed(text), ':');
    if (f.size() < 6) {
        return std::nullopt;
    }
    const auto sid = HexNumber(f[0]);
    const auto ns = HexNumber(f[1]);
    const auto tsid = HexNumber(f[2]);
    const auto onid = HexNumber(f[3]);
    const auto type = DecimalNumber(f[4]);
    if (!sid || !ns || !tsid || !onid || !type || *sid > 0xFFFF || *tsid > 0xFFFF ||
        *onid > 0xFFFF) {
        return std::nullopt;
    }
    Entry entry;
    entry.service.key = ServiceKey{*ns, *sid, *tsid, *onid};
    entry.type = static_cast<int>(*type);
    return entry;
}

void AddUnreadableService(Parsed& p, std::int64_t line, const std::string& why) {
    p.out.Unreadable(line, why);
    ListedService s;
    s.line = line;
    s.skip = ServiceSkip::Unreadable;
    p.entries.push_back({s, 0, {}});
}

// Versions 3 and 4: the services from `i` to their "end", three lines each.
// After a line that is no service, lines are passed over up to the next one
// that is.
std::size_t ReadServices(const std::vector<TextLine>& lines, std::size_t i, Parsed& p) {
    bool lost = false;
    while (i < lines.size() && Trimmed(lines[i].text) != "end") {
        std::optional<Entry> entry = ServiceHeadOf(lines[i].text);
        if (!entry) {
            if (!lost && !Trimmed(lines[i].text).empty()) {
                AddUnreadableService(p, lines[i].number,
                                     "not a service (\"sid:namespace:tsid:onid:type:number\")");
                lost = true;
            }
            ++i;
            continue;
        }
        lost = false;
        if (i + 2 >= lines.size()) {
            AddUnreadableService(p, lines[i].number, "service without its name and data lines");
            return lines.size();
        }
        entry->service.line = lines[i].number;
        entry->service.name = std::string(lines[i + 1].text);
        entry->data = lines[i + 2].text;
        p.entries.push_back(std::move(*entry));
        i += 3;
    }
    return i + 1;
}

void ReadVersion4(const std::vector<TextLine>& lines, Parsed& p) {
    for (std::size_t i = 1; i < lines.size();) {
        const std::string_view text = Trimmed(lines[i].text);
        if (text == "transponders") {
            i = ReadTransponders(lines, i + 1, p);
        } else if (text == "services") {
            i = ReadServices(lines, i + 1, p);
        } else {
            ++i;  // between the sections (and the closing remark some lists have)
        }
    }
}

// Version 5: "s:sid:namespace:tsid:onid:type:number:source,"name",data".
void ReadServiceLine5(const TextLine& line, Parsed& p) {
    const std::string_view text = line.text;
    const std::size_t comma = text.find(',');
    std::optional<Entry> entry = ServiceHeadOf(text.substr(2, comma - 2));
    const std::size_t open = comma == std::string_view::npos ? comma : comma + 1;
    if (!entry || open >= text.size() || text[open] != '"') {
        AddUnreadableService(p, line.number,
                             "not a service (\"s:sid:namespace:tsid:onid:type:number,\"name\"\")");
        return;
    }
    std::size_t close = text.find("\",", open + 1);
    if (close == std::string_view::npos) {
        close = text.back() == '"' && text.size() > open + 1 ? text.size() - 1 : close;
    }
    if (close == std::string_view::npos) {
        AddUnreadableService(p, line.number, "service whose name has no closing quote");
        return;
    }
    entry->service.line = line.number;
    entry->service.name = std::string(text.substr(open + 1, close - open - 1));
    entry->data = close + 2 <= text.size() ? text.substr(close + 2) : std::string_view();
    p.entries.push_back(std::move(*entry));
}

void ReadVersion5(const std::vector<TextLine>& lines, Parsed& p) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view text = lines[i].text;
        if (text.rfind("s:", 0) == 0) {
            ReadServiceLine5(lines[i], p);
        } else if (text.rfind("t:", 0) == 0) {
            const std::size_t comma = text.find(',');
            const std::optional<ServiceKey> key = TransponderKeyOf(text.substr(2, comma - 2));
            if (!key || comma == std::string_view::npos) {
                p.out.Unreadable(lines[i].number,
                                 "not a transponder (\"t:namespace:tsid:onid,delivery data\")");
            } else {
                AddTransponder(p, lines[i].number, *key, text.substr(comma + 1));
            }
        } else if (!Trimmed(text).empty() && text.front() != '#') {
            p.out.Unreadable(lines[i].number, "neither a transponder (t:) nor a service (s:)");
        }
    }
}

// The PIDs and the CA of a service from its data: "c:TTPPPP" cached PIDs
// (00 video, 01 audio, 03 PCR, 04 AC-3), "C:caid".
void TakeServiceData(std::string_view data, ListedService& s) {
    std::map<std::uint32_t, std::int32_t> pids;  // type to the first PID given
    bool anyCa = false;
    std::optional<std::uint32_t> caid;  // the first that is not 0000
    for (const std::string_view item : Fields(data, ',')) {
        const std::string_view value = item.size() > 2 ? item.substr(2) : std::string_view();
        if (item.rfind("c:", 0) == 0 && value.size() > 2) {
            const auto type = HexNumber(value.substr(0, 2));
            const auto pid = HexNumber(value.substr(2));
            if (type && pid && *pid < static_cast<std::uint32_t>(kNoPid)) {
                pids.emplace(*type, static_cast<std::int32_t>(*pid));
            }
        } else if (item.rfind("C:", 0) == 0) {
            anyCa = true;
            const auto id = HexNumber(Fields(value, ':')[0]);
            if (!caid && id && *id != 0) {
                caid = id;
            }
        }
    }
    const auto given = [&pids](std::uint32_t type) {
        const auto found = pids.find(type);
        return found == pids.end() ? std::optional<std::int32_t>() : found->second;
    };
    const auto video = given(0x00);
    const auto audio = given(0x01) ? given(0x01) : given(0x04);
    s.videoPid = video.value_or(kNoPid);
    s.audioPid = audio.value_or(kNoPid);
    s.pcrPid = given(0x03).value_or(video.value_or(audio.value_or(kNoPid)));
    s.withoutPids = !video && !audio;  // nothing to play, whatever PCR it gives
    // Only C:0000 entries: scrambled, with a CA system the list does not know.
    s.caSystemId = !anyCa ? 0 : caid ? CaSystemIdOfCaid(*caid) : 1;
}

char TypeLetter(int type) {
    switch (type) {
        case 1:
        case 17:
        case 22:
        case 25:
        case 31:
            return 'T';
        case 2:
        case 10:
            return 'R';
        default:
            return 0;
    }
}

// Looks up each entry's transponder, and hands the services on.
ListedServices Resolve(Parsed& p) {
    std::set<ServiceKey> seen;
    for (Entry& entry : p.entries) {
        ListedService& s = entry.service;
        if (s.skip != ServiceSkip::None) {
            p.out.services.push_back(std::move(s));
            continue;
        }
        const ServiceKey tpKey{s.key.nameSpace, 0, s.key.transportStreamId, s.key.networkId};
        const auto tp = p.transponders.find(tpKey);
        if (!seen.insert(s.key).second) {
            s.skip = ServiceSkip::Duplicate;
        } else if (tp == p.transponders.end() || !tp->second.readable) {
            s.skip = ServiceSkip::NoTransponder;
        } else if (tp->second.delivery != 's') {
            s.skip = ServiceSkip::NotSatellite;
        } else if ((s.serviceType = TypeLetter(entry.type)) == 0) {
            s.skip = ServiceSkip::ServiceType;
        } else {
            s.position = tp->second.position;
            s.frequency = tp->second.frequency;
            s.symbolRate = tp->second.symbolRate;
            s.polarisation = tp->second.polarisation;
            TakeServiceData(entry.data, s);
        }
        p.out.services.push_back(std::move(s));
    }
    return std::move(p.out);
}

}  // namespace

ListedServices ReadEnigma2Services(std::string_view text, int version) {
    const std::vector<TextLine> lines = Lines(text);
    // A version the reader does not know is read in the layout it shows.
    const bool sections = IsKnownEnigma2Version(version)
                              ? version < 5
                              : std::any_of(lines.begin(), lines.end(), [](const TextLine& line) {
                                    return Trimmed(line.text) == "transponders";
                                });
    Parsed parsed;
    if (sections) {
        ReadVersion4(lines, parsed);
    } else {
        ReadVersion5(lines, parsed);
    }
    return Resolve(parsed);
}

std::vector<ServiceKey> ReadBouquetServices(std::string_view text) {
    std::vector<ServiceKey> keys;
    for (const TextLine& line : Lines(text)) {
        std::string_view entry = Trimmed(line.text);
        if (entry.rfind("#SERVICE ", 0) != 0 && entry.rfind("#SERVICE: ", 0) != 0) {
            continue;
        }
        entry.remove_prefix(entry.find(' ') + 1);
        const std::vector<std::string_view> f = Fields(entry, ':');
        if (f.size() < 7 || f[0] != "1" || f[1] != "0") {
            continue;  // a marker, another bouquet, a stream
        }
        const auto sid = HexNumber(f[3]);
        const auto tsid = HexNumber(f[4]);
        const auto onid = HexNumber(f[5]);
        const auto ns = HexNumber(f[6]);
        if (sid && tsid && onid && ns && *sid != 0) {
            keys.push_back({*ns, *sid, *tsid, *onid});
        }
    }
    return keys;
}

}  // namespace velmora
