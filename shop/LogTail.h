// The part of a job log that the shop record does not have yet, and the
// small state file beside the log that remembers how far it has everything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/JobLog.h"

namespace velmora::shop {

struct LoggedJob {
    JobRecord record;
    std::uint64_t end = 0;  // the offset just past its line
};

struct LogTail {
    std::uint64_t start = 0;  // where reading began
    std::vector<LoggedJob> jobs;
    // Lines that hold no job record (cut short, or not JSON); passed over.
    std::uint64_t unreadable = 0;
    std::uint64_t end = 0;  // just past the last complete line
};

// The complete lines of the log from byte `offset` on, each as a job record.
// When the log no longer continues at `offset` (it was replaced or cut), it
// is read from the beginning. Lines logged before jobs had ids get one made
// from their bytes, and `bench` when they name none. A missing log has no
// lines.
LogTail ReadLogTail(const std::string& logPath, std::uint64_t offset, const std::string& bench);

struct SendState {
    std::string target;        // the database (TargetOf) that has everything up to offset
    std::uint64_t offset = 0;  // the log's bytes before it are all in that database
};

// "jobs.jsonl.shop-state" beside "jobs.jsonl".
std::string SendStatePath(const std::string& logPath);
// A missing or unreadable state means nothing has been sent yet.
SendState LoadSendState(const std::string& path);
// Replaces the state file in one step; false with `error` when it could not.
bool SaveSendState(const std::string& path, const SendState& state, std::string& error);

}  // namespace velmora::shop
