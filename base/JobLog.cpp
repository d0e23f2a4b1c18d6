#include "base/JobLog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    object["jobId"] = TextOrNull(r.jobId);
    object["bench"] = TextOrNull(r.bench);
    object["toolVersion"] = TextOrNull(r.toolVersion);
    return object;
}

namespace {

std::string TextField(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

template <typename Number>
std::optional<Number> NumberField(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) {
        return std::nullopt;
    }
    return it->get<Number>();
}

// "0x001B0000" as the log writes an offset.
std::optional<std::uint32_t> OffsetField(const Json& object) {
    const std::string text = TextField(object, "offset");
    if (text.size() < 3 || text.size() > 10 || (text.compare(0, 2, "0x") != 0)) {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
    return *end == '\0' ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(value))
                        : std::nullopt;
}

}  // namespace

bool JobRecordFromObject(const Json& o, JobRecord& r) {
    if (!o.is_object()) {
        return false;
    }
    r = JobRecord{};
    r.started = TextField(o, "started");
    r.ended = TextField(o, "ended");
    r.port = TextField(o, "port");
    r.vendorId = TextField(o, "vendorId");
    r.productId = TextField(o, "productId");
    r.serial = TextField(o, "serial");
    r.file = TextField(o, "file");
    r.size = NumberField<std::uint64_t>(o, "size");
    r.sha256 = TextField(o, "sha256");
    r.list = TextField(o, "list");
    r.listSha256 = TextField(o, "listSha256");
    r.type = TextField(o, "type");
    r.offset = OffsetField(o);
    r.bytesSent = NumberField<std::uint64_t>(o, "bytesSent").value_or(0);
    r.seconds = NumberField<double>(o, "seconds").value_or(0.0);
    r.outcome = TextField(o, "outcome");
    r.message = TextField(o, "message");
    r.jobId = TextField(o, "jobId");
    r.bench = TextField(o, "bench");
    r.toolVersion = TextField(o, "toolVersion");
    return true;
}

bool JobRecordFromJson(const std::string& line, JobRecord& record) {
    const Json object = Json::parse(line, nullptr, false);
    return !object.is_discarded() && JobRecordFromObject(object, record);
}

std::string JobRecordJson(const JobRecord& record) {
    return JsonLine(JobRecordObject(record));
}

bool AppendJobRecord(const std::string& path, const JobRecord& record, std::string& error) {
    return AppendLineToFile(path, JobRecordJson(record) + "\n", error);
}

std::string CutLineText(const std::string& why, bool takenBack) {
    return takenBack ? why + "; the part written was taken back"
                     : why +
                           "; the part written could not be taken back, so the log's last line "
                           "is cut short";
}

}  // namespace velmora
