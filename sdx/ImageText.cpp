#include "sdx/ImageText.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "base/Json.h"
#include "base/TextFormat.h"

namespace velmora {

namespace {

std::string Num(std::uint64_t v) {
    return std::to_string(v);
}

std::string Hex4(std::uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFU);
    return buf;
}

const char* BandName(std::uint8_t bandByte) {
    switch (bandByte) {
        case kBandByteC:
            return "C";
        case kBandByteKu:
            return "Ku";
        default:
            return "?";
    }
}

// Number of characters (code points) in UTF-8 text, for column alignment.
std::size_t Width(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Pad(std::string_view text, std::size_t width, bool right = false) {
    const std::size_t w = Width(text);
    const std::string fill(w < width ? width - w : 0, ' ');
    return right ? fill + std::string(text) : std::string(text) + fill;
}

// A table: header row, then rows, columns padded to their widest cell.
class Table {
public:
    Table(std::vector<std::string> header, std::vector<bool> rightAligned)
        : m_header(std::move(header)), m_right(std::move(rightAligned)) {}
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    std::string Render() const {
        std::vector<std::size_t> widths(m_header.size());
        for (std::size_t c = 0; c < m_header.size(); ++c) {
            widths[c] = Width(m_header[c]);
            for (const auto& row : m_rows) {
                widths[c] = std::max(widths[c], Width(row[c]));
            }
        }
        std::string out;
        auto line = [&](const std::vector<std::string>& cells) {
            std::string text;
            for (std::size_t c = 0; c < cells.size(); ++c) {
                text += "  ";
                text += Pad(cells[c], widths[c], m_right[c]);
            }
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            out += text + "\n";
        };
        line(m_header);
        for (const auto& row : m_rows) {
            line(row);
        }
        return out;
    }

private:
    std::vector<std::string> m_header;
    std::vector<bool> m_right;
    std::vector<std::vector<std::string>> m_rows;
};

std::string ChannelTable(const char* title, const std::vector<DecodedChannel>& channels,
                         std::int64_t capacity, bool withCa) {
    std::string out = std::string(title) + " (" + Num(channels.size()) + " of " +
                      Num(static_cast<std::uint64_t>(capacity)) + ")\n";
    if (channels.empty()) {
        return out + "  none\n";
    }
    std::vector<std::string> header = {"#",   "name", "tp",   "sid", "tsid",
                                       "nid", "vpid", "apid", "pcr", "scrambled"};
    std::vector<bool> right = {true, false, true, true, true, true, true, true, true, false};
    if (withCa) {
        header.emplace_back("ca");
        right.push_back(false);
    }
    Table table(header, right);
    for (const auto& ch : channels) {
        std::vector<std::string> row = {Num(static_cast<std::uint64_t>(ch.index)),
                                        DisplayName(ch.name),
                                        Num(ch.tpNumber),
                                        Num(ch.serviceId),
                                        Num(ch.transportStreamId),
                                        Num(ch.networkId),
                                        Num(ch.videoPid),
                                        Num(ch.audioPid),
                                        Num(ch.pcrPid),
                                        ch.scrambled ? "yes" : "no"};
        if (withCa) {
            row.push_back(Hex4(ch.caSystemId));
        }
        table.Add(std::move(row));
    }
    return out + table.Render();
}

// The layout inspect has always printed: one line per member of the object,
// and one per item of a non-empty array.
std::string Lines(const Json& object) {
    std::string out = "{";
    const char* between = "\n  ";
    for (const auto& [key, value] : object.items()) {
        out += between + JsonLine(key) + ": ";
        between = ",\n  ";
        if (!value.is_array() || value.empty()) {
            out += JsonLine(value);
            continue;
        }
        for (std::size_t i = 0; i < value.size(); ++i) {
            out += (i == 0 ? "[\n    " : ",\n    ") + JsonLine(value[i]);
        }
        out += "\n  ]";
    }
    return out + "\n}\n";
}

Json ImageJson(const DecodedImage& image) {
    const ImageLayout& l = image.layout;
    return Json{{"size", image.imageSize},
                {"terrestrial", image.terrestrial},
                {"transponderRecordSize", l.nTpRecordSize},
                {"maxSat", l.nSatellites},
                {"maxTp", l.nTransponders},
                {"maxTv", l.nTv},
                {"maxRadio", l.nRadio},
                {"satelliteOffset", l.satelliteOffset},
                {"transponderOffset", l.transponderOffset},
                {"tvOffset", l.tvOffset},
                {"radioOffset", l.radioOffset},
                {"fillOffset", l.fillOffset},
                {"nonZeroFillBytes", image.nonZeroFillBytes}};
}

Json SatelliteJson(const DecodedSatellite& s) {
    return Json{{"index", s.index},
                {"band", BandName(s.bandByte)},
                {"bandByte", s.bandByte},
                {"lnbHigh", s.lnbHigh},
                {"lnbLow", s.lnbLow},
                {"name", DisplayName(s.name)},
                {"position", s.position},
                {"direction", s.west ? "W" : "E"},
                {"positionText", PositionText(s)}};
}

Json TransponderJson(const DecodedTransponder& t) {
    return Json{{"index", t.index},
                {"number", t.tpNumber},
                {"satellite", t.satIndex},
                {"frequency", t.frequency},
                {"symbolRate", t.symbolRate},
                {"polarisation", t.polarisation},
                {"network", DisplayName(t.network)}};
}

// Radio records carry no CA system id.
Json ChannelJson(const DecodedChannel& ch, bool withCa) {
    Json out{{"index", ch.index},
             {"name", DisplayName(ch.name)},
             {"transponder", ch.tpNumber},
             {"serviceId", ch.serviceId},
             {"transportStreamId", ch.transportStreamId},
             {"networkId", ch.networkId},
             {"videoPid", ch.videoPid},
             {"audioPid", ch.audioPid},
             {"pcrPid", ch.pcrPid},
             {"scrambled", ch.scrambled}};
    if (withCa) {
        out["caSystemId"] = ch.caSystemId;
    }
    return out;
}

template <typename T, typename F>
Json JsonArray(const std::vector<T>& items, F&& one) {
    Json out = Json::array();
    for (const T& item : items) {
        out.push_back(one(item));
    }
    return out;
}

}  // namespace

std::string PositionText(const DecodedSatellite& sat) {
    const std::int64_t p = sat.position;
    const std::int64_t a = p < 0 ? -p : p;
    return std::string(p < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10) +
           (sat.west ? "W" : "E");
}

std::string FormatImageTables(const DecodedImage& image) {
    const ImageLayout& l = image.layout;
    std::string out = "Database image: " + Num(image.imageSize) + " bytes, " +
                      (image.terrestrial ? "32" : "30") + "-byte transponder records\n\n";

    out += "Satellites (" + Num(image.satellites.size()) + " of " +
           Num(static_cast<std::uint64_t>(l.nSatellites)) + ")\n";
    if (image.satellites.empty()) {
        out += "  none\n";
    } else {
        Table table({"#", "band", "LNB high", "LNB low", "name", "position"},
                    {true, false, true, true, false, true});
        for (const auto& sat : image.satellites) {
            table.Add({Num(static_cast<std::uint64_t>(sat.index)), BandName(sat.bandByte),
                       Num(sat.lnbHigh), Num(sat.lnbLow), DisplayName(sat.name),
                       PositionText(sat)});
        }
        out += table.Render();
    }

    out += "\nTransponders (" + Num(image.transponders.size()) + " of " +
           Num(static_cast<std::uint64_t>(l.nTransponders)) + ")\n";
    if (image.transponders.empty()) {
        out += "  none\n";
    } else {
        Table table({"#", "number", "satellite", "frequency", "symbol rate", "pol", "network"},
                    {true, true, true, true, true, true, false});
        for (const auto& tp : image.transponders) {
            table.Add({Num(static_cast<std::uint64_t>(tp.index)), Num(tp.tpNumber),
                       Num(tp.satIndex), Num(tp.frequency), Num(tp.symbolRate),
                       Num(tp.polarisation), DisplayName(tp.network)});
        }
        out += table.Render();
    }

    out += "\n" + ChannelTable("TV channels", image.tv, l.nTv, true);
    out += "\n" + ChannelTable("Radio channels", image.radio, l.nRadio, false);

    const auto count = [](std::size_t n, const char* one, const char* many) {
        return Num(n) + " " + Plural(n, one, many);
    };
    out += "\nTotals: " + count(image.satellites.size(), "satellite", "satellites") + ", " +
           count(image.transponders.size(), "transponder", "transponders") + ", " +
           count(image.tv.size(), "TV channel", "TV channels") + ", " +
           count(image.radio.size(), "radio channel", "radio channels") + "\n";
    if (image.nonZeroFillBytes != 0) {
        out += "Note: " + Num(image.nonZeroFillBytes) +
               " bytes after the radio section are not zero: the limits given are probably not "
               "the ones the image was written with.\n";
    }
    return out;
}

std::string FormatImageJson(const DecodedImage& image) {
    Json out;
    out["image"] = ImageJson(image);
    out["satellites"] = JsonArray(image.satellites, SatelliteJson);
    out["transponders"] = JsonArray(image.transponders, TransponderJson);
    out["tv"] = JsonArray(image.tv, [](const DecodedChannel& c) { return ChannelJson(c, true); });
    out["radio"] =
        JsonArray(image.radio, [](const DecodedChannel& c) { return ChannelJson(c, false); });
    out["totals"] = Json{{"satellites", image.satellites.size()},
                         {"transponders", image.transponders.size()},
                         {"tv", image.tv.size()},
                         {"radio", image.radio.size()}};
    return Lines(out);
}

}  // namespace velmora
