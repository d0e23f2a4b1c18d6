#include "sdx/ServiceReport.h"

#include <algorithm>
#include <cstdint>

#include "base/TextFormat.h"
#include "sdx/ListFormat.h"

namespace velmora {

namespace {

// The unreadable lines a report names one by one.
constexpr std::size_t kLinesNamed = 10;

std::string Count(std::int64_t n, const char* one, const char* many) {
    const auto count = static_cast<std::uint64_t>(n);
    return GroupedDigits(count) + " " + Plural(count, one, many);
}

}  // namespace

std::vector<std::string> SkippedServiceCauses(const ServiceTally& t) {
    const struct {
        std::int64_t count;
        const char* why;
    } causes[] = {
        {t.duplicate, "listed twice (the first entry goes in)"},
        {t.notSatellite, "not on a satellite (cable or terrestrial)"},
        {t.noTransponder, "on a transponder the list does not hold or cannot read"},
        {t.serviceType, "neither TV nor radio"},
        {t.outsideChoice, "outside the choice of satellites, bouquets or free services"},
        {t.unreadable, "unreadable"},
    };
    std::vector<std::string> out;
    for (const auto& cause : causes) {
        if (cause.count != 0) {
            out.push_back(GroupedDigits(static_cast<std::uint64_t>(cause.count)) + " " + cause.why);
        }
    }
    return out;
}

std::vector<std::string> ServiceReportLines(const ConversionReport& r) {
    const ServiceTally& t = r.list.services;
    std::vector<std::string> lines;
    lines.push_back("Read " + Count(t.read, "service", "services") + " from " + r.listPath + " (" +
                    ListFormatText(r.list.format, r.list.version) + ").");
    lines.push_back("Converted " + Count(t.converted, "service", "services") +
                    (t.withoutPids == 0
                         ? std::string()
                         : ", " + GroupedDigits(static_cast<std::uint64_t>(t.withoutPids)) +
                               " of them without PIDs (written as 8191)") +
                    ".");
    if (r.namesConverted != 0) {
        lines.push_back(
            "Names: " + Count(r.namesConverted, "name", "names") + " converted from UTF-8, " +
            Count(r.charactersReplaced, "character", "characters") + " replaced by '?'.");
    }
    if (t.Skipped() != 0) {
        lines.push_back("Skipped " + Count(t.Skipped(), "service", "services") + ":");
        for (const std::string& cause : SkippedServiceCauses(t)) {
            lines.push_back("  " + cause);
        }
    }
    if (r.list.unreadableLineCount != 0) {
        lines.push_back(Count(r.list.unreadableLineCount, "line", "lines") + " could not be read:");
        const std::size_t named = std::min(kLinesNamed, r.list.unreadableLines.size());
        for (std::size_t i = 0; i < named; ++i) {
            const UnreadableLine& u = r.list.unreadableLines[i];
            lines.push_back("  line " + std::to_string(u.line) + ": " + u.why);
        }
        if (r.list.unreadableLineCount > static_cast<std::int64_t>(named)) {
            lines.push_back("  and " +
                            GroupedDigits(static_cast<std::uint64_t>(
                                r.list.unreadableLineCount - static_cast<std::int64_t>(named))) +
                            " more");
        }
    }
    if (r.list.bouquetEntriesMissing != 0) {
        lines.push_back(
            Count(r.list.bouquetEntriesMissing, "bouquet entry names", "bouquet entries name") +
            " a service the list does not hold.");
    }
    return lines;
}

std::string ReceiverGetsLine(const ConversionReport& r) {
    return "The receiver gets " + Count(r.kept.satellites, "satellite", "satellites") + ", " +
           Count(r.kept.transponders, "transponder", "transponders") + ", " +
           Count(r.kept.tv, "TV channel", "TV channels") + " and " +
           Count(r.kept.radio, "radio channel", "radio channels") + ".";
}

std::string ListReportText(const ConversionReport& report) {
    if (report.list.format == ListFormat::Satcodx) {
        return {};
    }
    std::string text;
    for (const std::string& line : ServiceReportLines(report)) {
        text += line + "\n";
    }
    text += ReceiverGetsLine(report);
    if (const std::int64_t left = report.dropped.Total(); left != 0) {
        text += "\n" + GroupedDigits(static_cast<std::uint64_t>(left)) + " more " +
                Plural(static_cast<std::uint64_t>(left), "service does", "services do") +
                " not fit the database limits (Max Sat No., Max TP No., Max TV No., Max Radio "
                "No.).";
    }
    return text;
}

}  // namespace velmora
