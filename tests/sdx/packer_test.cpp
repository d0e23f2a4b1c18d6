#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "sdx/ConversionChain.h"
#include "sdx/PostProcess.h"
#include "sdx/ProcessLayer.h"
#include "sdx/process_posix.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

Bytes Xor(Bytes b, std::uint8_t key) {
    for (auto& x : b) {
        x = static_cast<std::uint8_t>(x ^ key);
    }
    return b;
}

std::string Canonical(const std::filesystem::path& p) {
    return std::filesystem::canonical(p).string();
}

// A conversion of a small list into a folder of its own.
class PackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteAll(m_dir / "list.sdx", List({Rec{}, Rec{}}));
        m_settings = DefaultSettings((m_dir / "list.sdx").string(), m_dir.Path().string());
        m_settings.bPackedModel = 1;
    }
    ChainResult Convert(std::stop_token stop = {}) {
        return RunConversionChain(m_settings, m_bar, m_messages, std::move(stop));
    }
    // The unpacked image of the same list, made in another folder.
    Bytes PlainImage() {
        TempDir other;
        JobSettings s = m_settings;
        s.bPackedModel = 0;
        s.strWorkDir = other.Path().string();
        NullProgressBar bar;
        RecordingMessages quiet;
        EXPECT_EQ(RunConversionChain(s, bar, quiet, {}).status, ChainStatus::Continue);
        return ReadAll(other / "db1.bin");
    }

    TempDir m_dir;
    JobSettings m_settings;
    RecordingBar m_bar;
    RecordingMessages m_messages;
};

TEST_F(PackerTest, UnpackedModelSendsDb1AndMakesNoOtherFile) {
    m_settings.bPackedModel = 0;
    const ChainResult r = Convert();
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
    EXPECT_STREQ(m_settings.szImageName, "db1.bin");
    EXPECT_FALSE(m_dir.Has("tmp.bin"));
    EXPECT_FALSE(m_dir.Has("db.bin"));
    EXPECT_EQ(r.imagePath, (m_dir / "db1.bin").string());
    EXPECT_EQ(r.imageSize, 65535U);
}

TEST_F(PackerTest, PackedImageIsTheToolsOutputFromByteOffsetOn) {
    const Bytes image = PlainImage();
    ASSERT_EQ(image.size(), 65535U);
    ScopedEnv path("PATH", PathWithFakePacker());
    ScopedEnv keep("VELMORA_FAKE_XB2_KEEP", (m_dir / "seen.bin").string());
    ScopedEnv log("VELMORA_FAKE_XB2_LOG", (m_dir / "xb2.log").string());

    for (const std::uint32_t offset : {0U, 0x1B0000U}) {
        SCOPED_TRACE(offset);
        std::filesystem::remove(m_dir / "xb2.log");
        m_settings.nOffset = offset;
        const ChainResult r = Convert();
        ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
        EXPECT_TRUE(m_messages.shown.empty());
        EXPECT_STREQ(m_settings.szImageName, "db.bin");
        EXPECT_EQ(m_settings.bConverted, 1);
        EXPECT_EQ(r.imagePath, (m_dir / "db.bin").string());
        EXPECT_EQ(r.imageSize, image.size());

        // tmp.bin: offset zero bytes, then the image.
        const Bytes seen = ReadAll(m_dir / "seen.bin");
        ASSERT_EQ(seen.size(), offset + image.size());
        EXPECT_TRUE(
            std::all_of(seen.begin(), seen.begin() + offset, [](auto b) { return b == 0; }));
        EXPECT_TRUE(std::equal(image.begin(), image.end(), seen.begin() + offset));
        // db.bin: the tool's output (the XOR with 0x70) without the prefix.
        EXPECT_EQ(ReadAll(m_dir / "db.bin"), Xor(image, 0x70));
        EXPECT_FALSE(m_dir.Has("tmp.bin"));
        EXPECT_FALSE(m_dir.Has("db1.bin"));

        // The call: arguments, working folder, no terminal, no input or output.
        const Bytes log_ = ReadAll(m_dir / "xb2.log");
        EXPECT_EQ(std::string(log_.begin(), log_.end()),
                  "args=0x70|tmp.bin|db1.bin cwd=" + Canonical(m_dir.Path()) +
                      " stdin_null=1 stdout_null=1 own_session=1\n");
    }
    EXPECT_EQ(m_bar.Positions().back(), 100);
}

TEST_F(PackerTest, MissingToolShowsPromptAndEndsWithoutImage) {
    ScopedEnv path("PATH", PathWithoutPacker());
    m_settings.nUpgradeType = UpgradeType::Database;
    const ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Failed);
    ASSERT_EQ(m_messages.shown.size(), 1U);
    EXPECT_EQ(m_messages.shown[0].first, "Open Xb2.exe fail!");
    EXPECT_EQ(m_messages.shown[0].second, MessageCaption::Prompt);
    EXPECT_NE(r.message.find("xb2.exe could not be started"), std::string::npos) << r.message;
    EXPECT_FALSE(m_dir.Has("tmp.bin"));
    EXPECT_FALSE(m_dir.Has("db1.bin"));
    ASSERT_TRUE(m_dir.Has("db.bin"));
    EXPECT_EQ(std::filesystem::file_size(m_dir / "db.bin"), 0U);
    EXPECT_EQ(m_settings.bConverted, 0);
    EXPECT_STREQ(m_settings.szImageName, "");
}

TEST_F(PackerTest, ToolThatWritesNothingOrTooLittle) {
    ScopedEnv path("PATH", PathWithFakePacker());
    m_settings.nOffset = 1000;
    {
        ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "nothing");
        const ChainResult r = Convert();
        EXPECT_EQ(r.status, ChainStatus::Failed);
        EXPECT_NE(r.message.find("ended without writing " + (m_dir / "db1.bin").string()),
                  std::string::npos)
            << r.message;
        EXPECT_TRUE(m_messages.shown.empty());
    }
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "short");
    {
        // Exactly nOffset bytes: nothing is left to send.
        ScopedEnv size("VELMORA_FAKE_XB2_SHORT", "1000");
        const ChainResult r = Convert();
        EXPECT_EQ(r.status, ChainStatus::Failed);
        EXPECT_NE(r.message.find("wrote only 1000 bytes"), std::string::npos) << r.message;
        EXPECT_EQ(std::filesystem::file_size(m_dir / "db.bin"), 0U);
        EXPECT_FALSE(m_dir.Has("db1.bin"));
        EXPECT_EQ(m_settings.bConverted, 0);
    }
    {
        ScopedEnv size("VELMORA_FAKE_XB2_SHORT", "1003");
        const ChainResult r = Convert();
        ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
        EXPECT_EQ(std::filesystem::file_size(m_dir / "db.bin"), 3U);
    }
}

TEST_F(PackerTest, WorkingFileThatCannotBeRemovedEndsTheJob) {
    ScopedEnv path("PATH", PathWithFakePacker());
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "rmtmp");
    const ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_NE(r.message.find("Cannot remove the working file " + (m_dir / "tmp.bin").string()),
              std::string::npos)
        << r.message;
}

TEST_F(PackerTest, WorkingFileThatCannotBeCreatedEndsTheJob) {
    ScopedEnv path("PATH", PathWithFakePacker());
    std::filesystem::create_directory(m_dir / "tmp.bin");  // in the way of the working file
    const ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_NE(r.message.find("Cannot create the working file " + (m_dir / "tmp.bin").string()),
              std::string::npos)
        << r.message;
    EXPECT_EQ(m_settings.bConverted, 0);
    EXPECT_TRUE(m_dir.Has("db1.bin")) << "the unpacked image stays, as nothing was packed";
}

// Blocks until the stand-in packer in "hang" mode reports its pid on `fifo`.
pid_t WaitForHangingTool(int fifo) {
    pollfd p{fifo, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kDeadline).count())) != 1) {
        return -1;
    }
    char buf[32] = {};
    const ssize_t n = read(fifo, buf, sizeof buf - 1);
    return n > 0 ? static_cast<pid_t>(std::atol(buf)) : -1;
}

TEST_F(PackerTest, StopEndsTheWaitKillsAndReapsTheTool) {
    const std::string fifoPath = (m_dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifoPath.c_str(), 0600), 0);
    const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    ScopedEnv path("PATH", PathWithFakePacker());
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "hang");
    ScopedEnv where("VELMORA_FAKE_XB2_FIFO", fifoPath);

    std::stop_source stop;
    auto job = std::async(std::launch::async, [&] { return Convert(stop.get_token()); });
    const pid_t tool = WaitForHangingTool(fifo);
    close(fifo);
    ASSERT_GT(tool, 0) << "the stand-in packer did not start";
    EXPECT_EQ(kill(tool, 0), 0) << "the tool runs while the chain waits";

    stop.request_stop();
    ASSERT_EQ(job.wait_for(kDeadline), std::future_status::ready);
    const ChainResult r = job.get();
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(kill(tool, 0), -1) << "killed and reaped, not a zombie";
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(m_dir.Has("tmp.bin"));
}

TEST_F(PackerTest, SecondConversionWaitsForTheFirst) {
    const std::string fifoPath = (m_dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifoPath.c_str(), 0600), 0);
    const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    ScopedEnv path("PATH", PathWithFakePacker());
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "hang");
    ScopedEnv where("VELMORA_FAKE_XB2_FIFO", fifoPath);

    TempDir other;
    JobSettings s = m_settings;  // taken before the first conversion writes its own
    s.bPackedModel = 0;
    s.strWorkDir = other.Path().string();

    std::stop_source stopFirst;
    auto first = std::async(std::launch::async, [&] { return Convert(stopFirst.get_token()); });
    const pid_t tool = WaitForHangingTool(fifo);
    close(fifo);
    ASSERT_GT(tool, 0);

    // The first conversion holds the shared table while its packer runs.
    RecordingBar otherBar;
    RecordingMessages otherMessages;
    std::stop_source stopSecond;
    auto second = std::async(std::launch::async, [&] {
        return RunConversionChain(s, otherBar, otherMessages, stopSecond.get_token());
    });
    EXPECT_FALSE(otherBar.WaitForAny(300ms)) << "the second conversion did not wait";
    stopSecond.request_stop();
    ASSERT_EQ(second.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(second.get().status, ChainStatus::Failed);
    EXPECT_FALSE(other.Has("db1.bin"));

    stopFirst.request_stop();
    ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(first.get().status, ChainStatus::Failed);

    // The table is free again.
    EXPECT_EQ(RunConversionChain(s, otherBar, otherMessages, {}).status, ChainStatus::Continue);
}

// Copies the stand-in packer into `dir` under the tool's name.
void PlantTool(const std::filesystem::path& dir) {
    std::filesystem::copy_file(std::filesystem::path(VELMORA_FAKE_PACKER_DIR) / "xb2.exe",
                               dir / "xb2.exe");
}

TEST(SdxProcessLayer, LookupOrder) {
    TempDir exeDir, pathDir, neither;
    PlantTool(exeDir.Path());
    PlantTool(pathDir.Path());
    const std::string pathVar = "/nonexistent:" + pathDir.Path().string();
    EXPECT_EQ(posix::LocateProgram("xb2.exe", exeDir.Path().string(), pathVar),
              Canonical(exeDir / "xb2.exe"));
    EXPECT_EQ(posix::LocateProgram("xb2.exe", neither.Path().string(), pathVar),
              Canonical(pathDir / "xb2.exe"));
    // A file that may not be executed does not count.
    std::filesystem::permissions(exeDir / "xb2.exe", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_write);
    if (geteuid() != 0) {
        EXPECT_EQ(posix::LocateProgram("xb2.exe", exeDir.Path().string(), pathVar),
                  Canonical(pathDir / "xb2.exe"));
    }
    EXPECT_EQ(posix::LocateProgram("xb2.exe", "", "/nonexistent"), std::nullopt);
    EXPECT_EQ(posix::SplitCommandLine("xb2.exe 0x70 tmp.bin db1.bin "),
              (std::vector<std::string>{"xb2.exe", "0x70", "tmp.bin", "db1.bin"}));
}

// Changes the current directory for the life of the object.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir) : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;
    ~ScopedCwd() { std::filesystem::current_path(m_old); }

private:
    std::filesystem::path m_old;
};

TEST(SdxProcessLayer, NeverRunsAToolPlantedInTheCurrentFolder) {
    TempDir dir;
    PlantTool(dir.Path());
    ScopedCwd cwd(dir.Path());
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "nothing");
    {
        ScopedEnv path("PATH", PathWithoutPacker());
        const ProcessRun run = RunHiddenProcess(kPackerCommandLine, dir.Path().string(), {});
        EXPECT_EQ(run.status, ProcessRun::Status::NotStarted);
        EXPECT_NE(run.error.find("xb2.exe"), std::string::npos);
    }
    {
        // An empty PATH entry names the current folder: then it is used.
        ScopedEnv path("PATH", std::string(":") + PathWithoutPacker());
        const ProcessRun run = RunHiddenProcess(kPackerCommandLine, dir.Path().string(), {});
        EXPECT_EQ(run.status, ProcessRun::Status::Ended) << run.error;
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST(SdxProcessLayer, StopBeforeStartRunsNothing) {
    std::stop_source stop;
    stop.request_stop();
    ScopedEnv path("PATH", PathWithFakePacker());
    EXPECT_EQ(RunHiddenProcess(kPackerCommandLine, "", stop.get_token()).status,
              ProcessRun::Status::Stopped);
}

}  // namespace
}  // namespace velmora::test
