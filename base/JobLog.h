// The job log: one JSON object per line for every job, appended to a file,
// so that a shop can read afterwards which receiver got what, when, and how
// it ended. Each record is written with a single append, so jobs that end at
// the same time never mix their lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "base/Json.h"

namespace velmora {

// One job. Texts left empty are unknown and written as null.
struct JobRecord {
    std::string started;  // UTC, "2026-12-09T08:15:02.123Z" (see UtcTimestamp)
    std::string ended;
    std::string port;      // the serial device the job used
    std::string vendorId;  // the USB adapter's ids ("0403", "6001") and serial number
    std::string productId;
    std::string serial;
    std::string file;                   // the file sent (a converted list's image)
    std::optional<std::uint64_t> size;  // its length and digest when the job got that far
    std::string sha256;
    std::string list;  // the channel list it was converted from, and that list's digest
    std::string listSha256;
    std::string type;                     // "Code", "Database", "Db Import/Export"
    std::optional<std::uint32_t> offset;  // flash offset, written as "0x001B0000"
    std::uint64_t bytesSent = 0;          // acknowledged by the receiver
    double seconds = 0;                   // from started to ended
    std::string outcome;                  // "finished", "timed out", "device lost", ...
    std::string message;                  // the last message the job showed
    // Who ran the job, stamped as it is logged: a UUID that names the job in
    // the shop record too, the bench (the PC or the name given for it) and
    // the version of the program.
    std::string jobId;
    std::string bench;
    std::string toolVersion;
};

// "2026-12-09T08:15:02.123Z": UTC with milliseconds.
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// The record as a JSON object, its keys in the order above, and as that
// object on one line, without the line end.
Json JobRecordObject(const JobRecord& record);
std::string JobRecordJson(const JobRecord& record);

// The record a log line (or such an object) holds. False when it is not a
// JSON object; fields that are missing or of another kind stay unknown.
bool JobRecordFromJson(const std::string& line, JobRecord& record);
bool JobRecordFromObject(const Json& object, JobRecord& record);

// Appends the record and a line end to the log at `path`, creating the file
// and its folders when missing. False, with `error` in plain words, when it
// could not be written.
bool AppendJobRecord(const std::string& path, const JobRecord& record, std::string& error);

// Appends `line` to the file with a single write in append mode, creating
// the file and its folders when missing. Never waits for a reader: anything
// but a plain file (a FIFO, a device) is refused with kNotPlainLog. A line
// cut short (a full disk) is taken back, so that every line stays whole.
// Per system.
bool AppendLineToFile(const std::string& path, const std::string& line, std::string& error);

// The warning for a line cut short: `why`, and whether the part written
// could be taken back (the per-system appends share it).
std::string CutLineText(const std::string& why, bool takenBack);

// The error of AppendLineToFile for a log that is not a plain file.
inline constexpr const char* kNotPlainLog = "it is not a plain file (a FIFO, a device or a folder)";

// The log in the user's data folder: $XDG_DATA_HOME/velmora/jobs.jsonl (by
// default ~/.local/share/velmora/jobs.jsonl), %LOCALAPPDATA%\Velmora\jobs.jsonl
// on Windows. Empty when the system names no such folder.
std::string DefaultJobLogPath();

}  // namespace velmora
