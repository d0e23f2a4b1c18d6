// The Windows process layer and the packer step over it, with a stand-in
// packer (xb2.exe in the folder "packer" beside this test program).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "sdx/PostProcess.h"
#include "sdx/ProcessLayer.h"
#include "tests/support/Recorders.h"
#include "tests/support/TempDir.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

std::string PackerFolder() {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / "packer").string();
}

// Sets a variable of the process environment, which the started program
// inherits and CreateProcessA searches, for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        char old[32768];
        const DWORD n = ::GetEnvironmentVariableA(name, old, sizeof old);
        m_had = n > 0 && n < sizeof old;
        if (m_had) {
            m_old.assign(old, n);
        }
        ::SetEnvironmentVariableA(name, value.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() { ::SetEnvironmentVariableA(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }
    const std::string& Old() const { return m_old; }

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

// Puts the stand-in packer's folder in front of PATH.
class PackerOnPath {
public:
    PackerOnPath() : m_path("PATH", PackerFolder() + ";" + CurrentPath()) {}

private:
    static std::string CurrentPath() {
        char value[32768] = {};
        ::GetEnvironmentVariableA("PATH", value, sizeof value);
        return value;
    }
    ScopedEnv m_path;
};

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Waits, with a deadline, until `path` holds a whole line.
std::string WaitForLine(const std::filesystem::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = ReadText(path);
        if (!text.empty() && text.back() == '\n') {
            return text;
        }
        std::this_thread::sleep_for(20ms);
    }
    return {};
}

TEST(Win32Process, TheToolRunsHiddenInTheWorkFolderWithTheCommandLineAsGiven) {
    TempDir dir;
    PackerOnPath path;
    ScopedEnv log("VELMORA_FAKE_XB2_LOG", dir.File("packer.log"));
    dir.Write("tmp.bin", {1, 2, 3});

    const ProcessRun run = RunHiddenProcess(kPackerCommandLine, dir.path().string(), {});
    ASSERT_EQ(run.status, ProcessRun::Status::Ended) << run.error;
    EXPECT_EQ(run.exitCode, 7) << "the tool's exit code comes back";
    EXPECT_EQ(test::ReadFileBytes(dir.File("db1.bin")),
              (std::vector<std::uint8_t>{0x71, 0x72, 0x73}));

    const std::string line = ReadText(dir.path() / "packer.log");
    EXPECT_NE(line.find("cmdline=[xb2.exe 0x70 tmp.bin db1.bin ]"), std::string::npos) << line;
    std::error_code ec;
    const std::string cwd = line.substr(line.find(" cwd=") + 5);
    EXPECT_TRUE(std::filesystem::equivalent(cwd.substr(0, cwd.find(" showflag=")), dir.path(), ec))
        << line;
    EXPECT_NE(line.find("showflag=1 show=0 "), std::string::npos) << "started hidden: " << line;
}

TEST(Win32Process, AToolThatCannotBeFoundIsNotStartedAndSaysWhy) {
    TempDir dir;
    const ProcessRun run = RunHiddenProcess(kPackerCommandLine, dir.path().string(), {});
    EXPECT_EQ(run.status, ProcessRun::Status::NotStarted);
    EXPECT_NE(run.error.find("cannot start xb2.exe"), std::string::npos) << run.error;
}

// A channel list downloaded into a folder may come with an xb2.exe beside it:
// with that folder current and the packer nowhere else, nothing is run.
TEST(Win32Process, AToolPlantedInTheCurrentFolderIsNeverRun) {
    TempDir dir;
    std::filesystem::copy_file(std::filesystem::path(PackerFolder()) / "xb2.exe",
                               dir.path() / "xb2.exe");
    ScopedEnv log("VELMORA_FAKE_XB2_LOG", dir.File("packer.log"));
    dir.Write("tmp.bin", {1, 2, 3});
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.path().string().c_str()));
    const ProcessRun run = RunHiddenProcess(kPackerCommandLine, {}, {});
    ::SetCurrentDirectoryA(previous);

    EXPECT_EQ(run.status, ProcessRun::Status::NotStarted);
    EXPECT_NE(run.error.find("cannot start xb2.exe"), std::string::npos) << run.error;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "packer.log")) << "the planted copy ran";
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "db1.bin"));
}

TEST(Win32Process, AStopRequestEndsTheWaitAndTheTool) {
    TempDir dir;
    PackerOnPath path;
    ScopedEnv log("VELMORA_FAKE_XB2_LOG", dir.File("packer.log"));
    ScopedEnv mode("VELMORA_FAKE_XB2_MODE", "hang");

    std::stop_source stopSource;
    auto running = std::async(std::launch::async, [&] {
        return RunHiddenProcess(kPackerCommandLine, dir.path().string(), stopSource.get_token());
    });
    // Whatever fails below, the wait is ended before the test returns.
    struct StopAtExit {
        std::stop_source& source;
        ~StopAtExit() { source.request_stop(); }
    } stopAtExit{stopSource};
    const std::string line = WaitForLine(dir.path() / "packer.log");
    ASSERT_FALSE(line.empty()) << "the stand-in packer did not start";
    EXPECT_EQ(running.wait_for(200ms), std::future_status::timeout) << "the wait has no limit";
    const DWORD pid = static_cast<DWORD>(std::stoul(line.substr(line.find("pid=") + 4)));

    stopSource.request_stop();
    ASSERT_EQ(running.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(running.get().status, ProcessRun::Status::Stopped);

    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process != nullptr) {
        EXPECT_EQ(::WaitForSingleObject(process, 0), WAIT_OBJECT_0) << "the tool was left running";
        ::CloseHandle(process);
    }

    // A stop requested before the start starts nothing.
    const std::size_t lines = ReadText(dir.path() / "packer.log").size();
    EXPECT_EQ(
        RunHiddenProcess(kPackerCommandLine, dir.path().string(), stopSource.get_token()).status,
        ProcessRun::Status::Stopped);
    EXPECT_EQ(ReadText(dir.path() / "packer.log").size(), lines);
}

JobSettings PackedSettings(const TempDir& dir) {
    JobSettings settings;
    settings.nUpgradeType = UpgradeType::Database;
    settings.bPackedModel = 1;
    settings.nOffset = 16;
    settings.strWorkDir = dir.path().string();
    return settings;
}

TEST(Win32Packer, ThePackedImageIsTheToolsOutputBehindTheOffset) {
    TempDir dir;
    PackerOnPath path;
    const std::vector<std::uint8_t> image = test::PatternBytes(1000, 7);
    dir.Write("db1.bin", image);
    JobSettings settings = PackedSettings(dir);
    test::Journal journal;

    const ChainResult r = PostProcessImage(settings, journal.analyse, journal.messages, {});
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
    EXPECT_STREQ(settings.szImageName, "db.bin");
    std::vector<std::uint8_t> expected = image;
    for (auto& b : expected) {
        b = static_cast<std::uint8_t>(b ^ 0x70);
    }
    EXPECT_EQ(test::ReadFileBytes(dir.File("db.bin")), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "tmp.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "db1.bin"));
}

TEST(Win32Packer, AMissingToolIsShownWithThePromptCaptionAndNothingIsSent) {
    TempDir dir;
    dir.Write("db1.bin", test::PatternBytes(100));
    JobSettings settings = PackedSettings(dir);
    test::Journal journal;

    const ChainResult r = PostProcessImage(settings, journal.analyse, journal.messages, {});
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_NE(r.message.find("xb2.exe"), std::string::npos) << r.message;
    EXPECT_EQ(settings.szImageName[0], '\0');
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "tmp.bin"));
    EXPECT_EQ(journal.Only("prompt "), std::vector<std::string>{"prompt Open Xb2.exe fail!"});
}

}  // namespace
}  // namespace velmora
