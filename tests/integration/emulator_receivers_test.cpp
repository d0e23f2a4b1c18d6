// The emulator playing several receivers at once, each its own line, with
// velmora-cli sending to every port: the verdict names each receiver's boxes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::PatternBytes;
using test::TempDir;

// The command the emulator runs: `sends` jobs one after the other on each
// port, the ports side by side.
std::string SendOnEveryPort(const std::string& image, int ports, int sends) {
    std::string script;
    for (int k = 1; k <= ports; ++k) {
        script += "for i in $(seq " + std::to_string(sends) + "); do " + VELMORA_CLI_PATH +
                  " send " + image + " --port {port" + std::to_string(k) + "} --quiet; done & ";
    }
    return script + "wait";
}

TEST(EmulatorReceivers, EachReceiverVerifiesItsOwnBoxesAndOneFaultFailsTheRun) {
    TempDir dir;
    const std::string image = dir.Write("image.bin", PatternBytes(1500, 7));

    // Two clean lines, each upgrading two boxes in a row; the third line is
    // pulled during its first box, so its second is never played.
    ChildProcess faulty({VELMORA_EMULATOR_PATH, "--receivers", "3", "--cycles", "2", "--expect",
                         image, "--throttle", "115200", "--fault", "3:hangup-after=2", "--", "sh",
                         "-c", SendOnEveryPort(image, 3, 2)},
                        dir.File("faulty.txt"));
    EXPECT_EQ(faulty.Wait(120s), 1) << faulty.Output();
    const std::string out = faulty.Output();
    for (const char* line : {"receiver 1 (/dev/pts/", "receiver 2 (/dev/pts/"}) {
        for (const char* box : {"), box 1: verified: 1500 bytes", "), box 2: verified: 1500 bytes"}) {
            const auto at = out.find(line);
            ASSERT_NE(at, std::string::npos) << out;
            EXPECT_NE(out.find(box, at), std::string::npos) << line << box << "\n" << out;
        }
    }
    EXPECT_NE(out.find("), box 1: NOT verified: hung up after 2 blocks, as asked"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("), box 2: NOT verified: never played"), std::string::npos) << out;
    EXPECT_NE(out.find("velmora-emulator: 4 of 6 transfers verified"), std::string::npos) << out;

    // Without the fault every line verifies and the run succeeds; the
    // environment names the ports as well.
    ChildProcess clean({VELMORA_EMULATOR_PATH, "--receivers", "2", "--expect", image, "--", "sh",
                        "-c",
                        std::string(VELMORA_CLI_PATH) + " send " + image +
                            " --port \"$VELMORA_COM1\" --quiet & " + VELMORA_CLI_PATH + " send " +
                            image + " --port \"$VELMORA_COM2\" --quiet; wait"},
                       dir.File("clean.txt"));
    EXPECT_EQ(clean.Wait(120s), 0) << clean.Output();
    EXPECT_NE(clean.Output().find("velmora-emulator: 2 of 2 transfers verified"), std::string::npos)
        << clean.Output();
}

}  // namespace
}  // namespace velmora
