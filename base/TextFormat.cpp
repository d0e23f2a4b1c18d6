#include "base/TextFormat.h"

#include <cstdio>

#include "base/CodePage.h"

namespace velmora {

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto b = static_cast<std::uint8_t>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(b));
                    out += buf;
                } else if (b < 0x80) {
                    out += c;
                } else if (char32_t cp = 0; const std::size_t n = Utf8SequenceAt(utf8, i, cp)) {
                    out.append(utf8.substr(i, n));
                    i += n - 1;
                } else {
                    out += "\\ufffd";
                }
        }
    }
    return out + "\"";
}

std::string HexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string GroupedDigits(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

const char* Plural(std::uint64_t count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

}  // namespace velmora
