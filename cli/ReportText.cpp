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

Json ServicesJson(const ServiceTally& t) {
    return {{"read", t.read},
            {"converted", t.converted},
            {"withoutPids", t.withoutPids},
            {"skipped",
             {{"notSatellite", t.notSatellite},
              {"noTransponder", t.noTransponder},
              {"serviceType", t.serviceType},
              {"duplicate", t.duplicate},
              {"outsideChoice", t.outsideChoice},
              {"unreadable", t.unreadable}}}};
}

Json UnreadableLinesJson(const ListReport& list) {
    Json first = Json::array();
    for (const UnreadableLine& line : list.unreadableLines) {
        first.push_back({{"line", line.line}, {"why", line.why}});
    }
    return {{"count", list.unreadableLineCount}, {"first", first}};
}

}  // namespace

Json ConversionReportObject(const ConversionReport& r) {
    const ConversionReport::Dropped& d = r.dropped;
    const bool satcodx = r.list.format == ListFormat::Satcodx;
    Json out = {{"list", r.listPath}};
    if (satcodx) {
        out["version"] = DisplayName(r.version);
        out["recordLength"] = r.recordLength;
    } else {
        // An Enigma2 or VDR list: what became of its services comes first.
        const bool enigma2 = r.list.format == ListFormat::Enigma2;
        out["format"] = enigma2 ? "enigma2" : "vdr";
        out["version"] = enigma2 ? std::to_string(r.list.version) : "";
    }
    out["namesConverted"] = r.namesConverted;
    out["charactersReplaced"] = r.charactersReplaced;
    if (!satcodx) {
        out["services"] = ServicesJson(r.list.services);
        out["unreadableLines"] = UnreadableLinesJson(r.list);
        out["bouquetEntriesMissing"] = r.list.bouquetEntriesMissing;
    }
    out["records"] = r.records;
    out["kept"] = {{"satellites", r.kept.satellites},
                   {"transponders", r.kept.transponders},
                   {"tv", r.kept.tv},
                   {"radio", r.kept.radio}};
    out["dropped"] = {{"satelliteLimit", d.satelliteLimit},
                      {"transpondersPerSatellite", d.transpondersPerSatellite},
                      {"channelsPerTransponder", d.channelsPerTransponder},
                      {"maxTv", d.maxTv},
                      {"maxRadio", d.maxRadio},
                      {"serviceType", d.serviceType},
                      {"unreadable", d.unreadable}};
    out["transpondersWithoutRecord"] = {{"maxTp", r.transpondersBeyondMaxTp},
                                        {"noFrequency", r.transpondersWithoutFrequency}};
    out["image"] = {{"path", r.imagePath}, {"size", r.imageSize}};
    return out;
}

}  // namespace velmora::cli
