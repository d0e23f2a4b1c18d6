// The shop record against a real PostgreSQL server, started for each test in
// a folder of its own (scratch-postgres.sh), through psqlODBC and unixODBC,
// with velmora-cli upgrading emulated receivers. What the record holds is
// read with psql, not with the tool's own code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "base/JobLog.h"
#include "base/Json.h"
#include "emulator/ReceiverEmulator.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using emu::EmulatorOptions;
using emu::ReceiverEmulator;
using emu::TransferReport;
using test::ChildProcess;

const std::string kScript = VELMORA_SOURCE_DIR "/tests/shop/scratch-postgres.sh";
constexpr const char* kBenchUser = "bench_user";
constexpr const char* kBenchPassword = "bench-secret-7";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class ShopRecord : public ::testing::Test {
protected:
    void SetUp() override {
        ChildProcess start({"/bin/bash", kScript, "start", Server()}, dir.File("start.txt"));
        const int status = start.Wait(120s);
        if (status == 77) {
            GTEST_SKIP() << "PostgreSQL, psqlODBC or unixODBC is not installed: "
                            "./scripts/setup.sh postgresql odbc-postgresql";
        }
        ASSERT_EQ(status, 0) << start.Output();
        for (const std::string& line : Lines(start.Output())) {
            const auto equals = line.find('=');
            if (equals != std::string::npos) {
                facts[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        running = true;
    }
    void TearDown() override {
        if (running) {
            ChildProcess({"/bin/bash", kScript, "stop", Server()}, dir.File("stop.txt")).Wait(60s);
        }
    }

    std::string Server() const { return dir.File("pg"); }
    // A connection file that only its owner may read.
    std::string ConnectionFile(const std::string& name, const std::string& user,
                               const std::string& password) {
        const std::string path = dir.File(name);
        std::ofstream(path) << "# the shop's database\nDriver=" << facts["DRIVER"]
                            << ";Servername=" << facts["SOCKET_DIR"] << ";Port=" << facts["PORT"]
                            << ";Database=shop;UID=" << user << ";PWD=" << password << "\n";
        ::chmod(path.c_str(), 0600);
        return path;
    }
    std::string OwnerFile() {
        return ConnectionFile("owner.conn", facts["OWNER"], facts["OWNER_PASSWORD"]);
    }
    // Rows as "a|b" lines.
    std::vector<std::string> Sql(const std::string& sql) {
        ChildProcess psql({"/bin/bash", kScript, "psql", Server(), sql}, dir.File("psql.txt"));
        EXPECT_EQ(psql.Wait(60s), 0) << sql << ": " << psql.Output();
        return Lines(psql.Output());
    }
    void Server(const char* command) {
        ChildProcess pg({"/bin/bash", kScript, command, Server()}, dir.File("pg.txt"));
        ASSERT_EQ(pg.Wait(120s), 0) << pg.Output();
    }
    // velmora-cli with `args`; its exit status, and its output in `output`.
    int Cli(std::vector<std::string> args, std::string& output) {
        args.insert(args.begin(), VELMORA_CLI_PATH);
        ChildProcess cli(args, dir.File("cli.txt"));
        const int status = cli.Wait(120s);
        output = cli.Output();
        return status;
    }
    // One send to an emulated receiver; true when the receiver verified it.
    bool Send(const std::string& log, const std::string& connectionFile, const std::string& bench,
              std::string& output) {
        EmulatorOptions options;
        options.expectedData = image;
        ReceiverEmulator receiver(options);
        std::string error;
        EXPECT_TRUE(receiver.Start(error)) << error;
        EXPECT_EQ(Cli({"send", file, "--port", receiver.SlavePath(), "--quiet", "--log", log,
                       "--record-file", connectionFile, "--bench", bench},
                      output),
                  0)
            << output;
        TransferReport report;
        return receiver.WaitForReport(30s, report) && report.verified;
    }
    std::vector<std::string> LoggedIds(const std::string& log) {
        std::vector<std::string> ids;
        for (const std::string& line : Lines(ReadText(log))) {
            JobRecord record;
            EXPECT_TRUE(JobRecordFromJson(line, record)) << line;
            ids.push_back(record.jobId);
        }
        return ids;
    }

    test::TempDir dir;
    std::map<std::string, std::string> facts;
    bool running = false;
    std::vector<std::uint8_t> image = test::PatternBytes(3000);
    std::string file = dir.Write("fw.bin", image);
};

TEST_F(ShopRecord, TwoBenchesLogsReachOneTableOnceAndLogCountsThem) {
    // Bench A as the owner, who may create the table; bench B as a user
    // that may only insert and select, with an older line from before jobs
    // had ids in its log.
    std::string output;
    const std::string logA = dir.File("a/jobs.jsonl");
    ASSERT_TRUE(Send(logA, OwnerFile(), "bench-A", output)) << output;
    ASSERT_TRUE(Send(logA, OwnerFile(), "bench-A", output)) << output;
    Sql(std::string("CREATE ROLE ") + kBenchUser + " LOGIN PASSWORD '" + kBenchPassword +
        "'; GRANT SELECT, INSERT ON velmora_jobs TO " + kBenchUser);
    const std::string logB = dir.File("b/jobs.jsonl");
    std::filesystem::create_directories(dir.File("b"));
    std::ofstream(logB)
        << R"({"started":"2026-12-08T10:00:00.000Z","ended":"2026-12-08T10:01:00.000Z",)"
        << R"("port":"COM3","serial":"A10K3XYZ","outcome":"device lost"})"
        << "\n";
    const std::string benchFile = ConnectionFile("bench.conn", kBenchUser, kBenchPassword);
    ASSERT_TRUE(Send(logB, benchFile, "bench-B", output)) << output;
    EXPECT_EQ(output.find(kBenchPassword), std::string::npos) << output;

    EXPECT_EQ(Sql("SELECT bench, count(*), count(DISTINCT job_id) FROM velmora_jobs GROUP BY "
                  "bench ORDER BY bench"),
              (std::vector<std::string>{"bench-A|2|2", "bench-B|2|2"}));
    std::set<std::string> logged;
    for (const std::string& log : {logA, logB}) {
        for (const std::string& id : LoggedIds(log)) {
            logged.insert(id);
        }
    }
    // The old line got an id made from its bytes, the same every time.
    logged.erase("");
    EXPECT_EQ(logged.size(), 3U);
    for (const std::string& id : logged) {
        EXPECT_EQ(Sql("SELECT count(*) FROM velmora_jobs WHERE job_id = '" + id + "'"),
                  std::vector<std::string>{"1"});
    }

    // A state file lost (or another PC with a copy of the log): everything
    // is looked at again, and nothing goes in twice.
    std::filesystem::remove(logB + ".shop-state");
    ASSERT_TRUE(Send(logB, benchFile, "bench-B", output)) << output;
    EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT job_id) FROM velmora_jobs"),
              std::vector<std::string>{"5|5"});

    // log: the same counts from the record and from a bench's own log.
    ASSERT_EQ(Cli({"log", "--record-file", benchFile}, output), 0) << output;
    EXPECT_NE(output.find("5 jobs: 4 finished, 1 failed."), std::string::npos) << output;
    ASSERT_EQ(Cli({"log", "--record-file", benchFile, "--json"}, output), 0) << output;
    const Json summary = Json::parse(Lines(output).back())["summary"];
    ASSERT_EQ(summary["perBench"].size(), 2U) << output;
    for (const auto& [i, name, finished, failed] :
         {std::tuple{0U, "bench-A", 2, 0}, std::tuple{1U, "bench-B", 2, 1}}) {
        EXPECT_EQ(summary["perBench"][i]["name"], name);
        EXPECT_EQ(summary["perBench"][i]["finished"], finished);
        EXPECT_EQ(summary["perBench"][i]["failed"], failed);
    }
    EXPECT_EQ(summary["failures"], Json::parse(R"({"device lost":1})"));
    // What did the receiver on the adapter with serial A10K3XYZ get?
    ASSERT_EQ(Cli({"log", "--record-file", benchFile, "--serial", "a10k3xyz", "--json"}, output), 0)
        << output;
    ASSERT_EQ(Lines(output).size(), 2U) << output;
    EXPECT_NE(Lines(output)[0].find("\"port\":\"COM3\""), std::string::npos) << output;
    ASSERT_EQ(
        Cli({"log", "--log", logB, "--since", "2026-12-08T12:00Z", "--bench", "BENCH-b"}, output),
        0);
    EXPECT_NE(output.find("2 jobs: 2 finished, 0 failed."), std::string::npos) << output;
}

TEST_F(ShopRecord, AServerStoppedDuringAStationLosesNothingAndDuplicatesNothing) {
    EmulatorOptions options;
    options.expectedData = image;
    options.cycles = 8;
    options.throttleBaud = 38400;  // about a second a receiver
    std::vector<std::unique_ptr<ReceiverEmulator>> receivers;
    std::vector<std::string> args = {
        VELMORA_CLI_PATH,       "station",       file,        "--progress", "lines",  "--log",
        dir.File("jobs.jsonl"), "--record-file", OwnerFile(), "--bench",    "bench-S"};
    for (int i = 0; i < 2; ++i) {
        receivers.push_back(std::make_unique<ReceiverEmulator>(options));
        std::string error;
        ASSERT_TRUE(receivers.back()->Start(error)) << error;
        args.push_back("--port");
        args.push_back(receivers.back()->SlavePath());
    }
    ChildProcess station(args, dir.File("station.txt"));
    const auto logged = [&] { return Lines(ReadText(dir.File("jobs.jsonl"))).size(); };
    const auto waitForJobs = [&](std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (logged() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        return logged() >= count;
    };
    ASSERT_TRUE(waitForJobs(2)) << station.Output();
    Server("stop");
    const auto stopped = std::chrono::steady_clock::now();
    const std::size_t atStop = logged();
    ASSERT_TRUE(waitForJobs(atStop + 6)) << station.Output();
    ASSERT_TRUE(station.WaitForOutput("shop record cannot be reached", 60s)) << station.Output();
    Server("resume");
    const std::chrono::duration<double> outage = std::chrono::steady_clock::now() - stopped;
    const std::size_t atResume = logged();
    for (auto& receiver : receivers) {
        TransferReport last;
        ASSERT_TRUE(receiver->WaitForReport(120s, last)) << station.Output();
        for (const TransferReport& report : receiver->Reports()) {
            EXPECT_TRUE(report.verified) << report.problem;
        }
    }
    ASSERT_TRUE(waitForJobs(16)) << station.Output();
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(120s), 0) << station.Output();

    const std::string output = station.Output();
    EXPECT_EQ(Count(output, "shop record cannot be reached"), 1U) << output;
    EXPECT_EQ(Count(output, "shop record is reachable again"), 1U) << output;
    // The figures of the run, for whoever reads the test's output.
    std::printf("outage of %.1f s: %zu jobs logged before it, %zu during it, %zu in all\n",
                outage.count(), atStop, atResume - atStop, logged());
    for (const std::string& line : Lines(output)) {
        if (line.find("shop record") != std::string::npos) {
            std::printf("station: %s\n", line.c_str());
        }
    }
    EXPECT_NE(output.find("finished 16, failed 0"), std::string::npos) << output;
    EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT job_id) FROM velmora_jobs WHERE outcome = "
                  "'finished' AND bench = 'bench-S'"),
              std::vector<std::string>{"16|16"});
    std::set<std::string> ids;
    for (const std::string& id : LoggedIds(dir.File("jobs.jsonl"))) {
        ids.insert(id);
    }
    std::set<std::string> recorded;
    for (const std::string& id : Sql("SELECT job_id FROM velmora_jobs")) {
        recorded.insert(id);
    }
    EXPECT_EQ(recorded, ids);
}

TEST_F(ShopRecord, AWrongPasswordIsAWarningNeverAFailedUpgrade) {
    std::string output;
    const std::string wrong = ConnectionFile("wrong.conn", facts["OWNER"], "not-the-password");
    ASSERT_TRUE(Send(dir.File("jobs.jsonl"), wrong, "bench-W", output)) << output;
    EXPECT_NE(output.find("warning: The shop record cannot be reached"), std::string::npos)
        << output;
    EXPECT_NE(output.find("1 record waits in " + dir.File("jobs.jsonl")), std::string::npos)
        << output;
    EXPECT_EQ(output.find("not-the-password"), std::string::npos) << output;
    EXPECT_EQ(ReadText(dir.File("jobs.jsonl")).find("not-the-password"), std::string::npos);
    // Mended, the next run sends what waited.
    ASSERT_TRUE(Send(dir.File("jobs.jsonl"), OwnerFile(), "bench-W", output)) << output;
    EXPECT_EQ(Sql("SELECT count(*) FROM velmora_jobs"), std::vector<std::string>{"2"});
}

}  // namespace
}  // namespace velmora
