// The file to send is opened without ever blocking, and only a regular file
// is taken.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/support/TempDir.h"
#include "base/InputFile.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

TEST(InputFile, APipeADeviceOrAFolderIsRefusedAtOnceAndAFileIsTaken) {
    test::TempDir dir;
    const std::string fifo = dir.File("image.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path().string()}) {
        SCOPED_TRACE(path);
        InputFile file;
        auto opened = std::async(std::launch::async, [&] { return file.Open(path); });
        if (opened.wait_for(5s) != std::future_status::ready) {
            // Let a blocked open of the pipe go, so that the test can end.
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            opened.wait();
            ::close(writer);
            FAIL() << "opening blocked";
        }
        EXPECT_FALSE(opened.get());
        EXPECT_EQ(file.Error(), kNotRegularFile);
    }
    InputFile file;
    ASSERT_TRUE(file.Open(dir.Write("real.bin", {1, 2, 3})));
    EXPECT_EQ(file.Length(), 3U);
}

}  // namespace
}  // namespace velmora
