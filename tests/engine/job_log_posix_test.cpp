#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "base/JobLog.h"

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

}  // namespace
}  // namespace velmora
