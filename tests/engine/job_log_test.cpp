#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/JobLog.h"
#include "base/Sha256.h"
#include "tests/support/TempDir.h"

namespace velmora {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(JobLog, EachJobIsOneLineOfValidJsonAppendedToTheLog) {
    using namespace std::chrono;
    JobRecord r;
    r.started = UtcTimestamp(sys_days{2026y / 12 / 9} + 8h + 15min + 2s + 7ms);
    r.ended = UtcTimestamp(sys_days{2026y / 12 / 9} + 8h + 16min + 37s + 123ms);
    r.port = "/dev/ttyUSB0";
    r.vendorId = "0403";
    r.productId = "6001";
    // A Latin-1 name that is not UTF-8, next to one that is.
    r.file = "/tmp/caf\xE9.bin";
    r.size = 65535;
    r.sha256 = "ab12";
    r.list = "/tmp/\xD0\xBA\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBB.sdx";
    r.listSha256 = "cd34";
    r.type = "Db Import/Export";
    r.offset = 0x1B0000;
    r.bytesSent = 65535;
    r.seconds = 95.1164;
    r.outcome = "finished";
    r.message = "said \"done\"\\\n\x01";
    const std::string line = JobRecordJson(r);
    EXPECT_EQ(line,
              "{\"started\":\"2026-12-09T08:15:02.007Z\",\"ended\":\"2026-12-09T08:16:37.123Z\","
              "\"port\":\"/dev/ttyUSB0\",\"vendorId\":\"0403\",\"productId\":\"6001\","
              "\"serial\":null,\"file\":\"/tmp/caf\\ufffd.bin\",\"size\":65535,"
              "\"sha256\":\"ab12\",\"list\":\"/tmp/\xD0\xBA\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBB.sdx\","
              "\"listSha256\":\"cd34\",\"type\":\"Db Import/Export\",\"offset\":\"0x001B0000\","
              "\"bytesSent\":65535,\"seconds\":95.116,\"outcome\":\"finished\","
              "\"message\":\"said \\\"done\\\"\\\\\\n\\u0001\",\"jobId\":null,"
              "\"bench\":null,\"toolVersion\":null}");
    // What a job that ended early leaves unknown is null.
    const std::string early = JobRecordJson(JobRecord{});
    EXPECT_NE(early.find("\"size\":null,\"sha256\":null"), std::string::npos) << early;
    EXPECT_NE(early.find("\"offset\":null,\"bytesSent\":0"), std::string::npos) << early;
    // Bytes that only begin a UTF-8 sequence, and an overlong '/', stay valid JSON.
    r.file = "\xE2\x82 \xC0\xAF";
    EXPECT_NE(JobRecordJson(r).find("\"file\":\"\\ufffd\\ufffd \\ufffd\\ufffd\""),
              std::string::npos);

    // Two jobs, two lines, in a folder that is made on the way.
    test::TempDir dir;
    const std::string log = dir.File("velmora/logs/jobs.jsonl");
    std::string error;
    ASSERT_TRUE(AppendJobRecord(log, JobRecord{}, error)) << error;
    ASSERT_TRUE(AppendJobRecord(log, r, error)) << error;
    EXPECT_EQ(ReadText(log), early + "\n" + JobRecordJson(r) + "\n");
    // A folder in the way of the log is a failure in words, not a crash.
    EXPECT_FALSE(AppendJobRecord(dir.File("velmora/logs/jobs.jsonl/x.jsonl"), r, error));
    EXPECT_FALSE(error.empty());
}

TEST(JobLog, JobsThatEndTogetherNeverMixTheirLines) {
    test::TempDir dir;
    const std::string log = dir.File("jobs.jsonl");
    const auto appendMany = [&log](char fill) {
        JobRecord r;
        r.message = std::string(10000, fill);  // longer than a stdio buffer
        std::string error;
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(AppendJobRecord(log, r, error)) << error;
        }
    };
    std::thread a(appendMany, 'a');
    std::thread b(appendMany, 'b');
    a.join();
    b.join();
    JobRecord r;
    r.message = std::string(10000, 'a');
    const std::string lineA = JobRecordJson(r);
    r.message = std::string(10000, 'b');
    const std::string lineB = JobRecordJson(r);
    std::istringstream lines(ReadText(log));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_TRUE(line == lineA || line == lineB) << "line " << count << " is mixed";
    }
    EXPECT_EQ(count, 2000);
}

TEST(Sha256, KnownDigestsOfTextAndOfAFileReadInPieces) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    test::TempDir dir;
    const std::string file = dir.File("million-a.bin");
    std::ofstream(file, std::ios::binary) << std::string(1'000'000, 'a');
    std::string error;
    EXPECT_EQ(Sha256OfFile(file, error),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(Sha256OfFile(dir.File("absent.bin"), error), "");
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace velmora
