#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>

#include "base/JobLog.h"
#include "tests/support/TempDir.h"

namespace velmora {
namespace {

// Sets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name); old != nullptr) {
            m_old = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(JobLog, TheDefaultLogIsInTheUsersDataFolder) {
    const ScopedEnv home("HOME", "/home/tech");
    {
        const ScopedEnv data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(DefaultJobLogPath(), "/data/velmora/jobs.jsonl");
    }
    const ScopedEnv relative("XDG_DATA_HOME", "relative/data");  // to be ignored
    EXPECT_EQ(DefaultJobLogPath(), "/home/tech/.local/share/velmora/jobs.jsonl");
}

TEST(JobLog, ALogThatIsNoPlainFileIsRefusedAndNeverWaitedFor) {
    test::TempDir dir;
    const std::string fifo = dir.File("jobs.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reads the FIFO: opening it to write would wait for a reader.
    auto append = std::async(std::launch::async, [&fifo] {
        std::string error;
        const bool written = AppendLineToFile(fifo, "{}\n", error);
        return std::make_pair(written, error);
    });
    if (append.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // lets it go
        append.wait();
        ::close(reader);
        FAIL() << "the log's open waited for a reader of the FIFO";
    }
    const auto [written, error] = append.get();
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("not a plain file"), std::string::npos) << error;
    // With a reader, and a device: refused all the same.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    std::string again;
    EXPECT_FALSE(AppendLineToFile(fifo, "{}\n", again));
    EXPECT_NE(again.find("not a plain file"), std::string::npos) << again;
    ::close(reader);
    EXPECT_FALSE(AppendLineToFile("/dev/null", "{}\n", again));
}

TEST(JobLog, ALineCutShortByAFullDiskIsTakenBackSoEveryLineStaysWhole) {
    test::TempDir dir;
    const std::string log = dir.File("jobs.jsonl");
    std::string error;
    ASSERT_TRUE(AppendLineToFile(log, "{\"job\":1}\n", error)) << error;
    // The file may grow by 100 bytes only, as on a disk that is nearly full.
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = 10 + 100;
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool written =
        AppendLineToFile(log, "{\"job\":\"" + std::string(750, '2') + "\"}\n", error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("taken back"), std::string::npos) << error;
    ASSERT_TRUE(AppendLineToFile(log, "{\"job\":3}\n", error)) << error;
    std::ifstream in(log, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "{\"job\":1}\n{\"job\":3}\n");
}

}  // namespace
}  // namespace velmora
