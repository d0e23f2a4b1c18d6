#include "shop/JobQuery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

#include "base/TextFormat.h"
#include "shop/LogTail.h"
#include "shop/Odbc.h"
#include "shop/ShopPlatform.h"
#include "shop/ShopTable.h"

namespace velmora::shop {

namespace {

using Clock = std::chrono::system_clock;

// The seconds since 1970 of UTC civil time; nullopt when it is no date.
std::optional<std::time_t> FromUtcCivil(int y, int mo, int d, int h, int mi, int s) {
    using namespace std::chrono;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60) {
        return std::nullopt;
    }
    return Clock::to_time_t(sys_days{date} + hours{h} + minutes{mi} + seconds{s});
}

std::optional<std::time_t> FromLocalCivil(int y, int mo, int d, int h, int mi, int s) {
    if (!FromUtcCivil(y, mo, d, h, mi, s)) {
        return std::nullopt;
    }
    std::tm civil{};
    civil.tm_year = y - 1900;
    civil.tm_mon = mo - 1;
    civil.tm_mday = d;
    civil.tm_hour = h;
    civil.tm_min = mi;
    civil.tm_sec = s;
    civil.tm_isdst = -1;  // as the time zone has it on that day
    const std::time_t when = std::mktime(&civil);
    return when == static_cast<std::time_t>(-1) ? std::nullopt : std::optional(when);
}

std::optional<std::time_t> UtcSeconds(const std::string& utc) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) {
        return std::nullopt;
    }
    return FromUtcCivil(y, mo, d, h, mi, s);
}

std::string UtcText(std::time_t when) {
    return UtcTimestamp(Clock::from_time_t(when));
}

// Local midnight `daysBack` days before today.
std::time_t LocalMidnight(int daysBack) {
    std::tm civil = LocalCivilTime(std::time(nullptr));
    civil.tm_mday -= daysBack;
    civil.tm_hour = civil.tm_min = civil.tm_sec = 0;
    civil.tm_isdst = -1;
    return std::mktime(&civil);
}

// "12h", "7d": that long before now.
std::optional<std::time_t> Ago(const std::string& text) {
    if (text.size() < 2 || text.find_first_not_of("0123456789") != text.size() - 1) {
        return std::nullopt;
    }
    const long count = std::strtol(text.c_str(), nullptr, 10);
    const char unit = text.back();
    if (unit != 'h' && unit != 'd') {
        return std::nullopt;
    }
    return std::time(nullptr) - count * (unit == 'h' ? 3600L : 86400L);
}

// "2026-12-09", with " 08:30", "T08:30" or "T08:30:15" after it, and "Z" for UTC.
std::optional<std::time_t> CivilDate(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) {
        return std::nullopt;
    }
    std::string rest = text.substr(static_cast<std::size_t>(used));
    const bool utc = !rest.empty() && (rest.back() == 'z' || rest.back() == 'Z');
    if (utc) {
        rest.pop_back();
    }
    if (!rest.empty()) {
        int timeUsed = 0;
        const int read =
            std::sscanf(rest.c_str(), "%*1[ tT]%2d:%2d%n:%2d%n", &h, &mi, &timeUsed, &s, &timeUsed);
        if (read < 2 || static_cast<std::size_t>(timeUsed) != rest.size()) {
            return std::nullopt;
        }
    }
    return utc ? FromUtcCivil(y, mo, d, h, mi, s) : FromLocalCivil(y, mo, d, h, mi, s);
}

bool SameText(const std::string& a, const std::string& b) {
    return AsciiLower(a) == AsciiLower(b);
}

std::string LastPart(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Count(std::map<std::string, JobGroup>& groups, const std::string& name, const JobRecord& r) {
    JobGroup& g = groups[name];
    g.name = name;
    (r.outcome == "finished" ? g.finished : g.failed) += 1;
    if (g.firstStart.empty() || (!r.started.empty() && r.started < g.firstStart)) {
        g.firstStart = r.started;
    }
    g.lastEnd = std::max(g.lastEnd, r.ended);
}

std::vector<JobGroup> Values(const std::map<std::string, JobGroup>& groups) {
    std::vector<JobGroup> out;
    for (const auto& [name, group] : groups) {
        out.push_back(group);
    }
    return out;
}

}  // namespace

bool JobFilter::Matches(const JobRecord& r) const {
    if ((!sinceUtc.empty() && r.started < sinceUtc) ||
        (!untilUtc.empty() && r.started >= untilUtc)) {
        return false;
    }
    if (!serial.empty() && !SameText(serial, r.serial)) {
        return false;
    }
    if (!bench.empty() && !SameText(bench, r.bench)) {
        return false;
    }
    if (!port.empty() && !SameText(port, r.port) && !SameText(port, LastPart(r.port))) {
        return false;
    }
    if (SameText(outcome, "failed")) {
        return r.outcome != "finished";
    }
    return outcome.empty() || SameText(outcome, r.outcome);
}

bool ParseWhen(const std::string& typed, std::string& utc, std::string& error) {
    const std::string text = AsciiLower(typed);
    std::optional<std::time_t> when;
    if (text == "now") {
        when = std::time(nullptr);
    } else if (text == "today" || text == "yesterday") {
        when = LocalMidnight(text == "today" ? 0 : 1);
    } else {
        when = Ago(text);
        if (!when) {
            when = CivilDate(text);
        }
    }
    if (!when) {
        error = "\"" + typed +
                "\" is not a time: give a date and time (2026-12-09, \"2026-12-09 08:30\"), "
                "today, yesterday, now, or a time ago (12h, 7d)";
        return false;
    }
    utc = UtcText(*when);
    return true;
}

std::string LocalTimeText(const std::string& utc, std::size_t length) {
    const std::optional<std::time_t> when = UtcSeconds(utc);
    if (!when) {
        return utc.substr(0, std::min(length, utc.size()));
    }
    const std::tm t = LocalCivilTime(*when);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return std::string(text).substr(0, length);
}

bool ReadLoggedJobs(const std::string& path, const JobFilter& filter, std::vector<JobRecord>& jobs,
                    std::string& error) {
    if (!std::ifstream(path, std::ios::binary)) {
        error = "The job log " + path +
                " cannot be read: no job has been logged there yet, or it is not yours. Name "
                "the log with --log FILE.";
        return false;
    }
    for (LoggedJob& job : ReadLogTail(path, 0, "").jobs) {
        if (filter.Matches(job.record)) {
            jobs.push_back(std::move(job.record));
        }
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const JobRecord& a, const JobRecord& b) { return a.started < b.started; });
    return true;
}

std::vector<JobRecord> ReadRecordedJobs(const std::string& connection, const JobFilter& filter,
                                        int timeoutSeconds) {
    OdbcConnection database(connection, timeoutSeconds);
    ShopTable table(database);
    std::vector<JobRecord> jobs;
    if (!table.Exists()) {
        return jobs;
    }
    for (JobRecord& record : table.Read(filter.sinceUtc, filter.untilUtc)) {
        if (filter.Matches(record)) {
            jobs.push_back(std::move(record));
        }
    }
    return jobs;
}

double JobGroup::ReceiversPerHour() const {
    const auto first = UtcSeconds(firstStart);
    const auto last = UtcSeconds(lastEnd);
    if (!first || !last || *last - *first < 60) {
        return -1;
    }
    return finished * 3600.0 / static_cast<double>(*last - *first);
}

JobSummary Summarize(const std::vector<JobRecord>& jobs) {
    JobSummary summary;
    std::map<std::string, JobGroup> hours, days, benches;
    std::map<std::string, int> causes;
    for (const JobRecord& r : jobs) {
        const std::string local = LocalTimeText(r.started.empty() ? r.ended : r.started);
        Count(hours, local.substr(0, std::min<std::size_t>(13, local.size())) + ":00", r);
        Count(days, local.substr(0, std::min<std::size_t>(10, local.size())), r);
        Count(benches, r.bench.empty() ? "(no bench)" : r.bench, r);
        if (r.outcome == "finished") {
            ++summary.finished;
        } else {
            ++summary.failed;
            ++causes[r.outcome.empty() ? "(unknown)" : r.outcome];
        }
    }
    summary.perHour = Values(hours);
    summary.perDay = Values(days);
    summary.perBench = Values(benches);
    summary.failures.assign(causes.begin(), causes.end());
    std::stable_sort(summary.failures.begin(), summary.failures.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return summary;
}

}  // namespace velmora::shop
