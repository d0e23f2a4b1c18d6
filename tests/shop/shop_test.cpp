// The shop record's own code, without a database: what the sender reads of
// the log, the connection string's secrecy, and reading jobs back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "shop/JobIdentity.h"
#include "shop/JobQuery.h"
#include "shop/LogTail.h"
#include "shop/Odbc.h"
#include "shop/ShopConnection.h"
#include "tests/support/TempDir.h"

namespace velmora::shop {
namespace {

JobRecord Job(const std::string& started, const std::string& bench, const std::string& outcome,
              const std::string& port = "/dev/ttyUSB0") {
    JobRecord r;
    r.started = started;
    r.ended = started.substr(0, 14) + "59:00.000Z";
    r.bench = bench;
    r.outcome = outcome;
    r.port = port;
    r.serial = "A10K3XYZ";
    r.size = 3000;
    r.offset = 0x10000;
    return r;
}

TEST(ShopLog, TheSenderReadsCompleteLinesFromWhereTheRecordStopped) {
    test::TempDir dir;
    const std::string log = dir.File("jobs.jsonl");
    JobRecord stamped = Job("2026-12-09T08:15:02.007Z", "", "finished");
    StampJob(stamped, "bench-1");
    const std::string oldLine = R"({"started":"2026-12-08T10:00:00.000Z","outcome":"timed out"})";
    std::ofstream(log, std::ios::binary) << oldLine << "\n"
                                         << JobRecordJson(stamped) << "\n"
                                         << "{\"started\":\"2026-12\n"       // cut short by a crash
                                         << R"({"started":"2026-12-09T09)";  // still being written

    LogTail tail = ReadLogTail(log, 0, "this-bench");
    ASSERT_EQ(tail.jobs.size(), 2U);
    EXPECT_EQ(tail.unreadable, 1U);
    // A line from before jobs had ids: an id from its bytes, the same every
    // time, and this bench.
    EXPECT_TRUE(
        std::regex_match(tail.jobs[0].record.jobId,
                         std::regex("[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                    "[0-9a-f]{12}")))
        << tail.jobs[0].record.jobId;
    EXPECT_EQ(tail.jobs[0].record.jobId, JobIdOfLine(oldLine));
    EXPECT_EQ(tail.jobs[0].record.bench, "this-bench");
    // A stamped line reads back as it was written.
    EXPECT_EQ(JobRecordJson(tail.jobs[1].record), JobRecordJson(stamped));
    EXPECT_TRUE(std::regex_match(stamped.jobId, std::regex("[0-9a-f-]{14}4[0-9a-f-]{21}")));
    EXPECT_NE(NewJobId(), NewJobId());
    EXPECT_EQ(tail.end, static_cast<std::uint64_t>(std::filesystem::file_size(log)) - 25);

    // From the end of the first line on; from the start when the offset is
    // not at a line's start (the log was replaced).
    EXPECT_EQ(ReadLogTail(log, tail.jobs[0].end, "").jobs.size(), 1U);
    EXPECT_EQ(ReadLogTail(log, tail.jobs[0].end - 3, "").jobs.size(), 2U);
    EXPECT_EQ(ReadLogTail(log, 1U << 30, "").jobs.size(), 2U);
    EXPECT_TRUE(ReadLogTail(dir.File("none.jsonl"), 0, "").jobs.empty());

    std::string error;
    ASSERT_TRUE(SaveSendState(SendStatePath(log), SendState{"abc", 477}, error)) << error;
    EXPECT_EQ(LoadSendState(SendStatePath(log)).offset, 477U);
    EXPECT_EQ(LoadSendState(dir.File("none")).offset, 0U);
}

TEST(ShopConnection, APasswordNeverShowsAndItsFileMustBePrivate) {
    EXPECT_EQ(MaskedConnection("Driver={PostgreSQL Unicode};Server=db;PWD={a;b}}c};UID=x"),
              "Driver={PostgreSQL Unicode};Server=db;PWD=***;UID=x");
    EXPECT_EQ(MaskedConnection("DSN=shop; password = s3cret"), "DSN=shop; password =***");
    EXPECT_EQ(MaskedConnection("DSN=shop;UID=bench"), "DSN=shop;UID=bench");
    EXPECT_EQ(TargetOf("DSN=shop;PWD=old"), TargetOf("DSN=shop;PWD=new"));
    EXPECT_NE(TargetOf("DSN=shop"), TargetOf("DSN=other"));
    EXPECT_EQ(CommandLineConnectionProblem("DSN=shop;UID=bench"), "");
    EXPECT_NE(CommandLineConnectionProblem("DSN=shop;Pwd=x").find("--record-file"),
              std::string::npos);

    test::TempDir dir;
    const std::string file = dir.File("shop.conn");
    std::ofstream(file) << "# the shop's database\n\n  DSN=shop;PWD=s3cret\r\n";
    ::chmod(file.c_str(), 0644);
    std::string connection;
    EXPECT_NE(ConnectionFromFile(file, connection).find("chmod 600 " + file), std::string::npos);
    EXPECT_EQ(connection, "");
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(ConnectionFromFile(file, connection), "");
    EXPECT_EQ(connection, "DSN=shop;PWD=s3cret");
    EXPECT_NE(ConnectionFromFile(dir.File("absent.conn"), connection), "");
}

TEST(ShopQuery, FiltersAndTheSummaryCountWhatAShopAsks) {
    const std::vector<JobRecord> jobs = {
        Job("2026-12-09T08:00:00.000Z", "bench-1", "finished"),
        Job("2026-12-09T08:30:00.000Z", "bench-1", "device lost", "/dev/ttyUSB1"),
        Job("2026-12-09T09:10:00.000Z", "bench-2", "finished", "COM3"),
        Job("2026-12-09T09:20:00.000Z", "bench-2", "timed out", "COM3"),
        Job("2026-12-09T09:40:00.000Z", "bench-2", "device lost", "COM3"),
    };
    JobFilter filter;
    filter.outcome = "failed";
    filter.port = "com3";
    int matched = 0;
    for (const JobRecord& job : jobs) {
        matched += filter.Matches(job) ? 1 : 0;
    }
    EXPECT_EQ(matched, 2);
    filter = JobFilter{};
    filter.sinceUtc = "2026-12-09T08:30:00.000Z";
    filter.untilUtc = "2026-12-09T09:20:00.000Z";
    filter.bench = "BENCH-2";
    EXPECT_FALSE(filter.Matches(jobs[1]));
    EXPECT_TRUE(filter.Matches(jobs[2]));
    EXPECT_FALSE(filter.Matches(jobs[3]));

    const JobSummary summary = Summarize(jobs);
    EXPECT_EQ(summary.finished, 2);
    EXPECT_EQ(summary.failed, 3);
    ASSERT_EQ(summary.perBench.size(), 2U);
    EXPECT_EQ(summary.perBench[1].name, "bench-2");
    EXPECT_EQ(summary.perBench[1].failed, 2);
    // bench-2: one finished from 09:10 to 09:59, 1.2 an hour.
    EXPECT_NEAR(summary.perBench[1].ReceiversPerHour(), 60.0 / 49.0, 0.01);
    ASSERT_EQ(summary.failures.size(), 2U);
    EXPECT_EQ(summary.failures[0], (std::pair<std::string, int>{"device lost", 2}));

    std::string utc;
    std::string error;
    ASSERT_TRUE(ParseWhen("2026-12-09T08:30Z", utc, error)) << error;
    EXPECT_EQ(utc, "2026-12-09T08:30:00.000Z");
    ASSERT_TRUE(ParseWhen("2026-12-09 08:30:15z", utc, error)) << error;
    EXPECT_EQ(utc, "2026-12-09T08:30:15.000Z");
    std::string today;
    std::string yesterday;
    ASSERT_TRUE(ParseWhen("today", today, error));
    ASSERT_TRUE(ParseWhen("Yesterday", yesterday, error));
    ASSERT_TRUE(ParseWhen("12h", utc, error));
    EXPECT_LT(yesterday, today);
    EXPECT_FALSE(ParseWhen("2026-13-01", utc, error));
    EXPECT_FALSE(ParseWhen("banana", utc, error));
    EXPECT_NE(error.find("today"), std::string::npos);
}

}  // namespace
}  // namespace velmora::shop
