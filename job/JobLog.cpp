#include "job/JobLog.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0
// when its first byte does not begin one (overlong forms, surrogates and code
// points beyond U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// A JSON string. Well-formed UTF-8 is kept as it is; any other byte (a file
// name in a legacy code page) is written as the Latin-1 character of its
// value, \u00XX, so that the line stays valid JSON and the byte can be told.
std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = c < 0x80 ? 0 : Utf8SequenceLength(text.substr(i)); n > 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        ++i;
    }
    return out + "\"";
}

std::string JsonTextOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonText(text);
}

}  // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss time{ms - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string JobRecordJson(const JobRecord& r) {
    char offset[16] = "null";
    if (r.offset) {
        std::snprintf(offset, sizeof offset, "\"0x%08X\"", static_cast<unsigned>(*r.offset));
    }
    // to_chars: a point whatever the process's locale (a dialog sets one).
    char digits[32];
    const auto [end, failed] =
        std::to_chars(digits, digits + sizeof digits, r.seconds, std::chars_format::fixed, 3);
    const std::string seconds = failed == std::errc{} ? std::string(digits, end) : "null";
    return "{\"started\":" + JsonTextOrNull(r.started) + ",\"ended\":" + JsonTextOrNull(r.ended) +
           ",\"port\":" + JsonTextOrNull(r.port) + ",\"vendorId\":" + JsonTextOrNull(r.vendorId) +
           ",\"productId\":" + JsonTextOrNull(r.productId) +
           ",\"serial\":" + JsonTextOrNull(r.serial) + ",\"file\":" + JsonTextOrNull(r.file) +
           ",\"size\":" + (r.size ? std::to_string(*r.size) : "null") +
           ",\"sha256\":" + JsonTextOrNull(r.sha256) + ",\"list\":" + JsonTextOrNull(r.list) +
           ",\"listSha256\":" + JsonTextOrNull(r.listSha256) +
           ",\"type\":" + JsonTextOrNull(r.type) + ",\"offset\":" + offset +
           ",\"bytesSent\":" + std::to_string(r.bytesSent) + ",\"seconds\":" + seconds +
           ",\"outcome\":" + JsonTextOrNull(r.outcome) +
           ",\"message\":" + JsonTextOrNull(r.message) + "}";
}

bool AppendJobRecord(const std::string& path, const JobRecord& record, std::string& error) {
    return AppendLineToFile(path, JobRecordJson(record) + "\n", error);
}

}  // namespace velmora
