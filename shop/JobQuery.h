// Reading the jobs back, from a local log or from the shop record: which to
// show (a filter) and what they add up to (finished, failed and receivers per
// hour, per day and per bench, failures by cause). Hours and days are local
// time; the records keep UTC.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/JobLog.h"

namespace velmora::shop {

struct JobFilter {
    std::string sinceUtc;  // jobs that started at or after this; empty: any
    std::string untilUtc;  // ... and before this
    std::string serial;    // the adapter's serial number, in any case
    std::string outcome;   // "finished", "failed" (anything else), or one outcome
    std::string bench;
    std::string port;  // the device, or its last part ("ttyUSB0", "COM3")

    bool Matches(const JobRecord& record) const;
};

// A moment as technicians type it, in local time unless it ends in Z:
// "2026-12-09", "2026-12-09 08:30", "2026-12-09T08:30:15", "today",
// "yesterday", "now", or a time ago: "12h", "7d". Writes it as the log's UTC
// text; false with `error` in plain words.
bool ParseWhen(const std::string& text, std::string& utc, std::string& error);

// The moment of a log timestamp in local time, "2026-12-09 09:15:02";
// `length` cuts it ("2026-12-09" is 10). Empty for an empty timestamp.
std::string LocalTimeText(const std::string& utc, std::size_t length = 19);

// The jobs of the log at `path` that pass the filter, oldest first. False
// with `error` when the log cannot be read.
bool ReadLoggedJobs(const std::string& path, const JobFilter& filter, std::vector<JobRecord>& jobs,
                    std::string& error);

// The jobs of the shop record that pass the filter, oldest first. Throws
// OdbcFailure when it cannot be read.
std::vector<JobRecord> ReadRecordedJobs(const std::string& connection, const JobFilter& filter,
                                        int timeoutSeconds);

struct JobGroup {
    std::string name;  // the hour, the day or the bench
    int finished = 0;
    int failed = 0;
    std::string firstStart;  // UTC
    std::string lastEnd;
    // Finished jobs per hour of the group's span (first start to last end);
    // negative when the span is under a minute.
    double ReceiversPerHour() const;
};

struct JobSummary {
    int finished = 0;
    int failed = 0;
    std::vector<JobGroup> perHour;  // in time order
    std::vector<JobGroup> perDay;
    std::vector<JobGroup> perBench;                     // by name
    std::vector<std::pair<std::string, int>> failures;  // cause, count: most first
};

JobSummary Summarize(const std::vector<JobRecord>& jobs);

}  // namespace velmora::shop
