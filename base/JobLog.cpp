#include "base/JobLog.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "base/TextFormat.h"

namespace velmora {

namespace {

std::string JsonTextOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
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
    const std::string offset = r.offset ? "\"" + HexWord(*r.offset) + "\"" : "null";
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
