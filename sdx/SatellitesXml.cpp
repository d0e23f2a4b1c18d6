#include "sdx/SatellitesXml.h"

#include <optional>

#include "base/CodePage.h"
#include "sdx/ListedService.h"

namespace velmora {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Text with the XML entities &amp; &lt; &gt; &quot; &apos; &#N; &#xH; decoded.
std::string Unescaped(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t end = text[at] == '&' ? text.find(';', at) : std::string_view::npos;
        if (end == std::string_view::npos || end - at > 10) {
            out += text[at];
            continue;
        }
        const std::string_view entity = text.substr(at + 1, end - at - 1);
        std::optional<std::uint32_t> code;
        if (entity.size() > 2 && entity.substr(0, 2) == "#x") {
            code = HexNumber(entity.substr(2));
        } else if (entity.size() > 1 && entity[0] == '#') {
            const auto decimal = DecimalNumber(entity.substr(1));
            code = decimal && *decimal > 0 ? std::optional<std::uint32_t>(*decimal) : std::nullopt;
        }
        for (const auto& [name, c] : kNamed) {
            code = entity == name ? std::optional<std::uint32_t>(c) : code;
        }
        if (!code || *code == 0 || *code > 0x10FFFF) {
            out += text[at];
            continue;
        }
        AppendUtf8(out, *code);
        at = end;
    }
    return out;
}

// The value of attribute `name` in the text of a start tag.
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos;
         at = tag.find(name, at + 1)) {
        std::size_t i = at + name.size();
        const bool starts = at > 0 && IsBlank(tag[at - 1]);
        while (i < tag.size() && IsBlank(tag[i])) {
            ++i;
        }
        if (!starts || i >= tag.size() || tag[i] != '=') {
            continue;
        }
        ++i;
        while (i < tag.size() && IsBlank(tag[i])) {
            ++i;
        }
        const char quote = i < tag.size() ? tag[i] : '\0';
        const std::size_t close =
            quote == '"' || quote == '\'' ? tag.find(quote, i + 1) : std::string_view::npos;
        if (close != std::string_view::npos) {
            return tag.substr(i + 1, close - i - 1);
        }
    }
    return std::nullopt;
}

// "19.2E", "19.2°E", "19,2 E" at the start of a name: its length, 0 when none.
std::size_t LeadingPosition(std::string_view name) {
    std::size_t i = 0;
    while (i < name.size() &&
           ((name[i] >= '0' && name[i] <= '9') || name[i] == '.' || name[i] == ',')) {
        ++i;
    }
    if (i == 0) {
        return 0;
    }
    while (i < name.size() && name[i] == ' ') {
        ++i;
    }
    if (name.substr(i, 2) == "\xC2\xB0") {  // the degree sign
        i += 2;
    }
    if (i >= name.size() ||
        (name[i] != 'E' && name[i] != 'W' && name[i] != 'e' && name[i] != 'w')) {
        return 0;
    }
    ++i;
    return i == name.size() || IsBlank(name[i]) ? i : 0;
}

std::string CleanName(std::string_view name) {
    name = Trimmed(name);
    name.remove_prefix(LeadingPosition(name));
    name = Trimmed(name);
    if (!name.empty() && name.back() == ')') {
        const std::size_t open = name.rfind('(');
        name = Trimmed(name.substr(0, open == std::string_view::npos ? name.size() : open));
    }
    return std::string(name);
}

}  // namespace

SatelliteNames ReadSatelliteNames(std::string_view xml) {
    SatelliteNames names;
    for (std::size_t at = 0; (at = xml.find('<', at)) != std::string_view::npos;) {
        if (xml.substr(at, 4) == "<!--") {
            const std::size_t end = xml.find("-->", at + 4);
            at = end == std::string_view::npos ? xml.size() : end + 3;
            continue;
        }
        const std::size_t end = xml.find('>', at);
        const std::string_view tag = xml.substr(at, end - at);
        at = end == std::string_view::npos ? xml.size() : end + 1;
        if (tag.size() < 5 || tag.substr(0, 4) != "<sat" || !IsBlank(tag[4])) {
            continue;
        }
        const auto name = Attribute(tag, "name");
        const auto position = Attribute(tag, "position");
        const auto tenths = position ? DecimalNumber(Trimmed(*position)) : std::nullopt;
        if (name && tenths && *tenths > -1800 && *tenths < 3600) {
            names.emplace(static_cast<std::int32_t>(*tenths < 0 ? 3600 + *tenths : *tenths),
                          Unescaped(*name));
        }
    }
    return names;
}

std::string SatelliteNameOf(std::int32_t position, const SatelliteNames& names) {
    std::string text = OrbitalPositionText(position);
    const auto found = names.find(position);
    if (found != names.end()) {
        const std::string name = CleanName(found->second);
        text += name.empty() ? "" : " " + name;
    }
    return text;
}

}  // namespace velmora
