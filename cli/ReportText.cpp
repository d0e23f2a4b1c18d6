#include "cli/ReportText.h"

#include <nlohmann/json.hpp>

#include "base/TextFormat.h"
#include "sdx/ImageDecode.h"

namespace velmora::cli {

namespace {

std::string Count(std::int64_t n, const char* one, const char* many) {
    const auto count = static_cast<std::uint64_t>(n);
    return GroupedDigits(count) + " " + Plural(count, one, many);
}

}  // namespace

std::vector<std::string> ConversionReportLines(const ConversionReport& r, const JobSettings& s) {
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
    lines.push_back("The receiver gets " + Count(r.kept.satellites, "satellite", "satellites") +
                    ", " + Count(r.kept.transponders, "transponder", "transponders") + ", " +
                    Count(r.kept.tv, "TV channel", "TV channels") + " and " +
                    Count(r.kept.radio, "radio channel", "radio channels") + ".");
    const ConversionReport::Dropped& d = r.dropped;
    if (d.Total() == 0) {
        lines.emplace_back("Nothing was left out.");
    } else {
        lines.push_back("Left out: " + Count(d.Total(), "record", "records") + ":");
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
                lines.push_back("  " + GroupedDigits(static_cast<std::uint64_t>(cause.count)) +
                                " " + cause.why);
            }
        }
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

Json ConversionReportObject(const ConversionReport& r) {
    const ConversionReport::Dropped& d = r.dropped;
    return {
        {"list", r.listPath},
        {"version", DisplayName(r.version)},
        {"recordLength", r.recordLength},
        {"namesConverted", r.namesConverted},
        {"charactersReplaced", r.charactersReplaced},
        {"records", r.records},
        {"kept",
         {{"satellites", r.kept.satellites},
          {"transponders", r.kept.transponders},
          {"tv", r.kept.tv},
          {"radio", r.kept.radio}}},
        {"dropped",
         {{"satelliteLimit", d.satelliteLimit},
          {"transpondersPerSatellite", d.transpondersPerSatellite},
          {"channelsPerTransponder", d.channelsPerTransponder},
          {"maxTv", d.maxTv},
          {"maxRadio", d.maxRadio},
          {"serviceType", d.serviceType},
          {"unreadable", d.unreadable}}},
        {"transpondersWithoutRecord",
         {{"maxTp", r.transpondersBeyondMaxTp}, {"noFrequency", r.transpondersWithoutFrequency}}},
        {"image", {{"path", r.imagePath}, {"size", r.imageSize}}},
    };
}

}  // namespace velmora::cli
