#include "base/JobLog.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/TextFormat.h"

namespace velmora {

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

Json JobRecordObject(const JobRecord& r) {
    Json object;
    object["started"] = TextOrNull(r.started);
    object["ended"] = TextOrNull(r.ended);
    object["port"] = TextOrNull(r.port);
    object["vendorId"] = TextOrNull(r.vendorId);
    object["productId"] = TextOrNull(r.productId);
    object["serial"] = TextOrNull(r.serial);
    object["file"] = TextOrNull(r.file);
    object["size"] = r.size ? Json(*r.size) : Json(nullptr);
    object["sha256"] = TextOrNull(r.sha256);
    object["list"] = TextOrNull(r.list);
    object["listSha256"] = TextOrNull(r.listSha256);
    object["type"] = TextOrNull(r.type);
    object["offset"] = r.offset ? Json(HexWord(*r.offset)) : Json(nullptr);
    object["bytesSent"] = r.bytesSent;
    // To the millisecond, as the timestamps.
    object["seconds"] = std::round(r.seconds * 1000.0) / 1000.0;
    object["outcome"] = TextOrNull(r.outcome);
    object["message"] = TextOrNull(r.message);
    return object;
}

std::string JobRecordJson(const JobRecord& record) {
    return JsonLine(JobRecordObject(record));
}

bool AppendJobRecord(const std::string& path, const JobRecord& record, std::string& error) {
    return AppendLineToFile(path, JobRecordJson(record) + "\n", error);
}

}  // namespace velmora
