// What is refused before the port opens, and why.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"
#include "transfer/JobChecks.h"

namespace velmora {
namespace {

using test::TempDir;

JobSettings Job(const std::string& path, UpgradeType type = UpgradeType::Database) {
    JobSettings s;
    LineParams unused;
    ConvertDialogValues(DialogValues{}, s, unused);
    s.nUpgradeType = type;
    s.strFilePath = path;
    return s;
}

std::vector<JobProblem> Problems(const JobSettings& settings) {
    std::vector<JobProblem> out;
    for (const JobCheck& c : CheckJob(settings)) {
        out.push_back(c.problem);
    }
    return out;
}

std::vector<std::uint8_t> Text(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(JobChecks, WrongFilesAreCaughtBeforeThePortOpens) {
    TempDir dir;
    const std::string record = "SATCODX103" + std::string(118, ' ');
    const std::string list = dir.Write("list.bin", Text(record));
    const std::string json = dir.Write("json.sdx", Text("{\"channels\": []}"));
    const std::string empty = dir.Write("empty.sdx", {});
    const std::string image = dir.Write("fw.bin", {1, 2, 3});
    std::filesystem::create_directory(dir.path() / "lists.sdx");

    EXPECT_EQ(Problems(Job(image)), std::vector<JobProblem>{});
    EXPECT_EQ(Problems(Job(dir.File("gone.bin"))),
              std::vector<JobProblem>{JobProblem::FileMissing});
    EXPECT_EQ(Problems(Job(dir.File("lists.sdx"))), std::vector<JobProblem>{JobProblem::IsFolder});
    EXPECT_EQ(Problems(Job(image, UpgradeType::Custom)),
              std::vector<JobProblem>{JobProblem::NothingToSend});
    // A list sent as a program image could leave the receiver without a program.
    const auto asCode = CheckJob(Job(list, UpgradeType::Code));
    ASSERT_EQ(asCode.size(), 1U);
    EXPECT_EQ(asCode[0].problem, JobProblem::ListAsImage);
    EXPECT_TRUE(asCode[0].Forceable());
    EXPECT_NE(asCode[0].fact.find("not a program image"), std::string::npos);
    EXPECT_EQ(Problems(Job(json)), std::vector<JobProblem>{JobProblem::NotSatcodx});
    EXPECT_EQ(Problems(Job(empty)), std::vector<JobProblem>{JobProblem::NotSatcodx});
    // The same list named .sdx is what a conversion expects.
    EXPECT_EQ(Problems(Job(dir.Write("list.sdx", Text(record)))), std::vector<JobProblem>{});
    // A conversion on its own takes the file for a list whatever its name.
    EXPECT_TRUE(CheckConversionJob(Job(list)).empty());
}

TEST(JobChecks, ImpossibleImagesAreRefusedBeforeAByteIsWritten) {
    TempDir dir;
    JobSettings s = Job(dir.Write("list.sdx", Text("SATCODX103" + std::string(118, ' '))));
    s.strWorkDir = dir.path().string();
    s.nMaxTv = 2147483647;  // 133 GB of TV records
    auto checks = CheckJob(s);
    ASSERT_EQ(checks.size(), 1U);
    EXPECT_EQ(checks[0].conversion, ConversionProblem::ImageTooLarge);
    EXPECT_NE(checks[0].fact.find("133,144,002,440 bytes"), std::string::npos) << checks[0].fact;

    s.nMaxTv = 500;
    const ConversionCheck room = CheckConversionRoom(s, 65534);
    EXPECT_EQ(room.problem, ConversionProblem::NoSpace);
    EXPECT_NE(room.message.find(s.strWorkDir), std::string::npos) << "names the folder";
    EXPECT_EQ(CheckConversionRoom(s, 65535).problem, ConversionProblem::None);
    // The packed model also needs room for the packer's input: the prefix and the image.
    s.bPackedModel = 1;
    EXPECT_EQ(CheckConversionRoom(s, 65535 * 2).problem, ConversionProblem::NoSpace);
    EXPECT_EQ(CheckConversionRoom(s, 65535 * 2 + 0x1B0000).problem, ConversionProblem::None);

    s.strWorkDir = dir.File("no-such-folder");
    ASSERT_EQ(CheckJob(s).size(), 1U);
    EXPECT_EQ(CheckJob(s)[0].conversion, ConversionProblem::WorkFolderMissing);
}

}  // namespace
}  // namespace velmora
