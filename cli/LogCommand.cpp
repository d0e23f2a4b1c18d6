// velmora-cli log: the jobs of the local log or of the shop record, as a
// table and a summary, or as JSON lines.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "base/JobLog.h"
#include "base/Json.h"
#include "base/TextFormat.h"
#include "cli/Arguments.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/ShopRecordHost.h"
#include "shop/JobQuery.h"
#include "shop/Odbc.h"

namespace velmora::cli {

namespace {

constexpr int kReadTimeoutSeconds = 30;

struct LogOptions {
    JobOptions source;  // log, record and recordFile
    std::string since;
    std::string until;
    shop::JobFilter filter;
    bool json = false;
};

using Row = std::vector<std::string>;

// Rows in columns as wide as their widest cell; the columns from `firstNumber`
// on are numbers, set to the right.
std::string Columns(const std::vector<Row>& rows, std::size_t firstNumber, const char* indent) {
    std::vector<std::size_t> widths;
    for (const Row& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string out;
    for (const Row& row : rows) {
        std::string line = indent;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - row[c].size(), ' ');
            line += (c == 0 ? "" : "  ") + (c >= firstNumber ? pad + row[c] : row[c] + pad);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    return out;
}

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Dash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string JobsTable(const std::vector<JobRecord>& jobs) {
    std::vector<Row> rows = {
        {"started", "bench", "port", "serial", "type", "outcome", "file", "seconds"}};
    for (const JobRecord& r : jobs) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
        rows.push_back({Dash(shop::LocalTimeText(r.started)), Dash(r.bench), Dash(r.port),
                        Dash(r.serial), Dash(r.type), Dash(r.outcome), Dash(FileName(r.file)),
                        seconds});
    }
    return Columns(rows, 7, "");
}

std::string Rate(const shop::JobGroup& group) {
    const double rate = group.ReceiversPerHour();
    if (rate < 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", rate);
    return text;
}

std::string GroupTable(const char* title, const std::vector<shop::JobGroup>& groups, bool rate) {
    std::vector<Row> rows = {{title, "finished", "failed"}};
    if (rate) {
        rows[0].emplace_back("receivers/hour");
    }
    for (const shop::JobGroup& g : groups) {
        rows.push_back({g.name, std::to_string(g.finished), std::to_string(g.failed)});
        if (rate) {
            rows.back().push_back(Rate(g));
        }
    }
    return Columns(rows, 1, "") + "\n";
}

std::string SummaryText(const std::vector<JobRecord>& jobs) {
    const shop::JobSummary s = shop::Summarize(jobs);
    std::string text = std::to_string(jobs.size()) + Plural(jobs.size(), " job", " jobs") + ": " +
                       std::to_string(s.finished) + " finished, " + std::to_string(s.failed) +
                       " failed.\n";
    if (jobs.empty()) {
        return text;
    }
    text += "\n" + GroupTable("day", s.perDay, true) + GroupTable("hour", s.perHour, false) +
            GroupTable("bench", s.perBench, true);
    if (!s.failures.empty()) {
        std::vector<Row> rows = {{"failure", "jobs"}};
        for (const auto& [cause, count] : s.failures) {
            rows.push_back({cause, std::to_string(count)});
        }
        text += Columns(rows, 1, "");
    }
    return text;
}

Json GroupsJson(const std::vector<shop::JobGroup>& groups) {
    Json array = Json::array();
    for (const shop::JobGroup& g : groups) {
        const double rate = g.ReceiversPerHour();
        array.push_back({{"name", g.name},
                         {"finished", g.finished},
                         {"failed", g.failed},
                         {"receiversPerHour", rate < 0 ? Json(nullptr) : Json(rate)}});
    }
    return array;
}

void PrintJson(const std::vector<JobRecord>& jobs) {
    for (const JobRecord& r : jobs) {
        std::printf("%s\n", JobRecordJson(r).c_str());
    }
    const shop::JobSummary s = shop::Summarize(jobs);
    Json failures = Json::object();
    for (const auto& [cause, count] : s.failures) {
        failures[cause] = count;
    }
    const Json summary = {{"summary",
                           {{"jobs", jobs.size()},
                            {"finished", s.finished},
                            {"failed", s.failed},
                            {"perDay", GroupsJson(s.perDay)},
                            {"perHour", GroupsJson(s.perHour)},
                            {"perBench", GroupsJson(s.perBench)},
                            {"failures", failures}}}};
    std::printf("%s\n", JsonLine(summary).c_str());
}

// The jobs the options name, or the exit status of a failure (said on `console`).
int ReadJobs(Console& console, const LogOptions& o, std::vector<JobRecord>& jobs) {
    std::string connection;
    if (const int refused = RecordConnection(console, o.source, connection); refused != kExitOk) {
        return refused;
    }
    if (!connection.empty()) {
        try {
            jobs = shop::ReadRecordedJobs(connection, o.filter, kReadTimeoutSeconds);
        } catch (const shop::OdbcFailure& failure) {
            console.Error(std::string("The shop record could not be read: ") + failure.what() +
                          ". Check the connection string, or read the local log without "
                          "--record.");
            return kExitJobFailed;
        }
        return kExitOk;
    }
    const std::string path = o.source.log.empty() ? DefaultJobLogPath() : o.source.log;
    if (std::string error; !shop::ReadLoggedJobs(path, o.filter, jobs, error)) {
        console.Error(error);
        return kExitFileMissing;
    }
    return kExitOk;
}

int RunLog(LogOptions& o) {
    Console console(ProgressStyle::Quiet);
    for (auto [typed, utc, name] : {std::tuple{&o.since, &o.filter.sinceUtc, "--since"},
                                    std::tuple{&o.until, &o.filter.untilUtc, "--until"}}) {
        if (std::string error; !typed->empty() && !shop::ParseWhen(*typed, *utc, error)) {
            throw UsageProblem("log", "velmora-cli log: " + std::string(name) + ": " + error +
                                          ", for example " + name + " today");
        }
    }
    std::vector<JobRecord> jobs;
    if (const int failed = ReadJobs(console, o, jobs); failed != kExitOk) {
        return failed;
    }
    if (o.json) {
        PrintJson(jobs);
    } else {
        std::printf("%s%s", jobs.empty() ? "" : (JobsTable(jobs) + "\n").c_str(),
                    SummaryText(jobs).c_str());
    }
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace

void SetupLogCommand(CLI::App& app, int& status) {
    auto o = std::make_shared<LogOptions>();
    CLI::App* command = AddCommand(app, "log");
    command
        ->add_option("--log", o->source.log,
                     "The job log to read (default: jobs.jsonl in the user's data folder)")
        ->type_name("TEXT:FILE");
    AddRecordOptions(*command, o->source, false);
    command->add_option("--since", o->since,
                        "Jobs started at or after this: 2026-12-09, \"2026-12-09 08:30\", today, "
                        "yesterday, 12h, 7d (local time)");
    command->add_option("--until", o->until, "Jobs started before this (as --since)");
    command->add_option("--serial", o->filter.serial,
                        "Jobs through the adapter of this serial number");
    command
        ->add_option("--outcome", o->filter.outcome, "finished, failed (any other), or one outcome")
        ->transform(
            OneOf({"finished", "failed", "timed out", "device lost", "file shrank", "file changed",
                   "file error", "conversion failed", "receiver restarted", "refused", "cancelled"},
                  "an outcome", "--outcome failed", true));
    command->add_option("--bench", o->filter.bench, "Jobs of this bench");
    command->add_option("--port", o->filter.port,
                        "Jobs on this port (/dev/ttyUSB0, ttyUSB0, COM3)");
    command->add_flag("--json", o->json, "One JSON line per job, then one with the summary");
    OnRun(*command, status, [o] { return RunLog(*o); });
}

}  // namespace velmora::cli
