#include "base/CodePage.h"

#include <cstring>
#include <iterator>

namespace velmora {

namespace {

// Code page 1252 at 0x80..0x9F, where it differs from Latin-1; 0 marks the
// five undefined bytes. Every other byte is the code point of its value.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
    std::uint8_t low = 0x80;  // bounds of the second byte
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // not over-long
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // not over-long
        high = lead == 0xF4 ? 0x8F : 0xBF;  // not past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    char32_t value = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
        value = (value << 6) | (byte(at + i) & 0x3FU);
    }
    codePoint = value;
    return length;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t Cp1252CodePoint(std::uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0) {
        const char32_t cp = kCp1252High[byte - 0x80];
        return cp == 0 ? kReplacementCharacter : cp;
    }
    return byte;
}

std::uint8_t Cp1252ByteOf(char32_t codePoint) {
    if (codePoint >= 0xA0 && codePoint <= 0xFF) {
        return static_cast<std::uint8_t>(codePoint);
    }
    for (std::size_t i = 0; i < std::size(kCp1252High); ++i) {
        if (kCp1252High[i] != 0 && kCp1252High[i] == codePoint) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return 0;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        AppendUtf8(out, Cp1252CodePoint(static_cast<std::uint8_t>(c)));
    }
    return out;
}

std::string DisplayName(std::string_view stored) {
    while (!stored.empty() && (stored.back() == '\0' || stored.back() == ' ')) {
        stored.remove_suffix(1);
    }
    std::string out;
    for (const char c : stored) {
        const auto b = static_cast<std::uint8_t>(c);
        AppendUtf8(out, (b < 0x20 || b == 0x7F) ? kReplacementCharacter : Cp1252CodePoint(b));
    }
    return out;
}

void Utf8NameToCp1252(std::string_view utf8, char* out, std::size_t width, NameTally& tally) {
    std::size_t written = 0;
    bool converted = false;
    for (std::size_t at = 0; at < utf8.size() && written < width;) {
        char32_t codePoint = 0;
        const std::size_t length = Utf8SequenceAt(utf8, at, codePoint);
        if (length == 0) {
            out[written++] = utf8[at++];
            continue;
        }
        const std::uint8_t byte = Cp1252ByteOf(codePoint);
        out[written++] = byte != 0 ? static_cast<char>(byte) : '?';
        tally.charactersReplaced += byte != 0 ? 0 : 1;
        converted = true;
        at += length;
    }
    std::memset(out + written, ' ', width - written);
    tally.namesConverted += converted ? 1 : 0;
}

}  // namespace velmora
