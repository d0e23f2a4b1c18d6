#include "cli/ReportText.h"

#include <nlohmann/json.hpp>

#include "base/TextFormat.h"
#include "sdx/ImageDecode.h"
#include "sdx/ServiceReport.h"

namespace velmora::cli {

namespace {

std::string Count(std::int64_t n, const char* one, const char* many) {
    const auto count = static_cast<std::uint64_t>(n);
    return GroupedDigits(count) + " " + Plural(count, one, many);
}

// What was read: records and version of a SATCODX list, or what became of
// the services of an Enigma2 or VDR list.
std::vector<std::string> ReadLines(const ConversionReport& r) {
    if (r.list.format != ListFormat::Satcodx) {
        return ServiceReportLines(r);
    }
    std::vector<std::string> lines;
    lines.push_back("Read " + Count(r.records, "record", "records") + " from " + r.listPath + ".");
    if (!r.version.empty()) {
        std::string read = "Version " + DisplayName(r.version) + " list, " +
                           std::to_string(r.recordLength) + "-byte records";
        if (r.version == "105" || r.recordLength != 128 || r.namesConverted != 0) {
            read += ": " + Count(r.namesConverted, "name", "names") + " converted from UTF-8, " +
                    Count(r.charactersReplaced, "character", "characters") + " replaced by '?'";
        }
        lines.push_back(read + ".");
    }
    return lines;
}

// What the records (or converted services) left out, and why.
void AddLeftOut(std::vector<std::string>& lines, const ConversionReport& r, const JobSettings& s) {
    const ConversionReport::Dropped& d = r.dropped;
    const bool services = r.list.format != ListFormat::Satcodx;
    lines.push_back("Left out: " +
                    (services ? Count(d.Total(), "service", "services")
                              : Count(d.Total(), "record", "records")) +
                    ":");
    const struct {
        std::int64_t count;
        std::string why;
    } causes[] = {
        {d.satelliteLimit, "from the first record of a satellite beyond --max-sat " +
                               std::to_string(s.nMaxSat) + " on (the grouping stops there)"},
        {d.transpondersPerSatellite, "on a satellite that already had 200 transponders"},
        {d.channelsPerTransponder, "on a transponder that already had 50 channels"},
        {d.maxTv,
         std::string(Plural(static_cast<std::uint64_t>(d.maxTv), "TV channel", "TV channels")) +
             " beyond --max-tv " + std::to_string(s.nMaxTv)},
        {d.maxRadio, std::string(Plural(static_cast<std::uint64_t>(d.maxRadio), "radio channel",
                                        "radio channels")) +
                         " beyond --max-radio " + std::to_string(s.nMaxRadio)},
        {d.serviceType, "services that are neither TV nor radio"},
        {d.unreadable, "unreadable (symbol rate 0, or a last piece too short for a record)"},
    };
    for (const auto& cause : causes) {
        if (cause.count != 0) {
            lines.push_back("  " + GroupedDigits(static_cast<std::uint64_t>(cause.count)) + " " +
                            cause.why);
        }
    }
}

}  // namespace

std::vector<std::string> ConversionReportLines(const ConversionReport& r, const JobSettings& s) {
    std::vector<std::string> lines = ReadLines(r);
    lines.push_back(ReceiverGetsLine(r));
    if (r.dropped.Total() == 0) {
        lines.emplace_back("Nothing was left out.");
    } else {
        AddLeftOut(lines, r, s);
    }
    if (r.transpondersBeyondMaxTp != 0) {
        lines.push_back(Count(r.transpondersBeyondMaxTp, "transponder", "transponders") +
                        " beyond --max-tp " + std::to_string(s.nMaxTp) +
                        " have no record in the image; their channels are kept.");
    }
    if (r.transpondersWithoutFrequency != 0) {
        lines.push_back(Count(r.transpondersWithoutFrequency, "transponder", "transponders") +
                        " with frequency or symbol rate 0 have no record in the image; their "
                        "channels are kept.");
    }
    return lines;
}

namespace {

using Json = nlohmann::ordered_json;

Json ServicesJson(const ServiceTally& t) {
    return Json{{"read", t.read},
                {"converted", t.converted},
                {"withoutPids", t.withoutPids},
                {"skipped", Json{{"notSatellite", t.notSatellite},
                                 {"noTransponder", t.noTransponder},
                                 {"serviceType", t.serviceType},
                                 {"duplicate", t.duplicate},
                                 {"outsideChoice", t.outsideChoice},
                                 {"unreadable", t.unreadable}}}};
}

Json UnreadableLinesJson(const ListReport& list) {
    Json first = Json::array();
    for (const UnreadableLine& line : list.unreadableLines) {
        first.push_back(Json{{"line", line.line}, {"why", line.why}});
    }
    return Json{{"count", list.unreadableLineCount}, {"first", first}};
}

// The report of an Enigma2 or VDR list: the keys of a SATCODX list's report
// that apply to it, and what became of its services.
std::string ServiceListReportJson(const ConversionReport& r) {
    const ConversionReport::Dropped& d = r.dropped;
    const Json out{
        {"list", r.listPath},
        {"format", r.list.format == ListFormat::Enigma2 ? "enigma2" : "vdr"},
        {"version", r.list.format == ListFormat::Enigma2 ? std::to_string(r.list.version) : ""},
        {"namesConverted", r.namesConverted},
        {"charactersReplaced", r.charactersReplaced},
        {"services", ServicesJson(r.list.services)},
        {"unreadableLines", UnreadableLinesJson(r.list)},
        {"bouquetEntriesMissing", r.list.bouquetEntriesMissing},
        {"records", r.records},
        {"kept", Json{{"satellites", r.kept.satellites},
                      {"transponders", r.kept.transponders},
                      {"tv", r.kept.tv},
                      {"radio", r.kept.radio}}},
        {"dropped", Json{{"satelliteLimit", d.satelliteLimit},
                         {"transpondersPerSatellite", d.transpondersPerSatellite},
                         {"channelsPerTransponder", d.channelsPerTransponder},
                         {"maxTv", d.maxTv},
                         {"maxRadio", d.maxRadio},
                         {"serviceType", d.serviceType},
                         {"unreadable", d.unreadable}}},
        {"transpondersWithoutRecord", Json{{"maxTp", r.transpondersBeyondMaxTp},
                                           {"noFrequency", r.transpondersWithoutFrequency}}},
        {"image", Json{{"path", r.imagePath}, {"size", r.imageSize}}}};
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string ConversionReportJson(const ConversionReport& r) {
    if (r.list.format != ListFormat::Satcodx) {
        return ServiceListReportJson(r);
    }
    auto n = [](std::int64_t v) { return std::to_string(v); };
    const ConversionReport::Dropped& d = r.dropped;
    return "{\"list\":" + JsonString(r.listPath) +
           ",\"version\":" + JsonString(DisplayName(r.version)) +
           ",\"recordLength\":" + n(r.recordLength) + ",\"namesConverted\":" + n(r.namesConverted) +
           ",\"charactersReplaced\":" + n(r.charactersReplaced) + ",\"records\":" + n(r.records) +
           ",\"kept\":{\"satellites\":" + n(r.kept.satellites) +
           ",\"transponders\":" + n(r.kept.transponders) + ",\"tv\":" + n(r.kept.tv) +
           ",\"radio\":" + n(r.kept.radio) +
           "},\"dropped\":{\"satelliteLimit\":" + n(d.satelliteLimit) +
           ",\"transpondersPerSatellite\":" + n(d.transpondersPerSatellite) +
           ",\"channelsPerTransponder\":" + n(d.channelsPerTransponder) +
           ",\"maxTv\":" + n(d.maxTv) + ",\"maxRadio\":" + n(d.maxRadio) +
           ",\"serviceType\":" + n(d.serviceType) + ",\"unreadable\":" + n(d.unreadable) +
           "},\"transpondersWithoutRecord\":{\"maxTp\":" + n(r.transpondersBeyondMaxTp) +
           ",\"noFrequency\":" + n(r.transpondersWithoutFrequency) +
           "},\"image\":{\"path\":" + JsonString(r.imagePath) +
           ",\"size\":" + std::to_string(r.imageSize) + "}}";
}

}  // namespace velmora::cli
