// The Start command and the life of the job it starts.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "sdx/DatabaseImage.h"
#include "tests/support/Recorders.h"
#include "tests/support/ScriptedReceiver.h"
#include "tests/support/TempDir.h"
#include "transfer/UpgradeController.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Journal;
using test::PatternBytes;
using test::ReceiverScript;
using test::ScriptedDevice;
using test::SimClock;
using test::TempDir;

// A controller over a scripted receiver on a simulated clock.
struct Rig {
    explicit Rig(ReceiverScript script = {}) {
        auto device = std::make_unique<ScriptedDevice>(clock, std::move(script));
        record = device->record();
        controller = std::make_unique<CUpgradeController>(journal.analyse, journal.send,
                                                          journal.messages, std::move(device));
        controller->SetClock(clock);
        controller->SetPacer(pacer);
    }
    StartResult Start(const std::string& path, const DialogValues& values = {}) {
        controller->Settings().strFilePath = path;
        return controller->Start(path, values);
    }
    bool WaitBusy() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!controller->IsBusy()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }
    std::vector<std::uint8_t> Data() const {
        std::lock_guard lock(record->mutex);
        std::vector<std::uint8_t> out;
        for (std::size_t i = 13; i < record->written.size(); ++i) {
            out.push_back(record->written[i].value);
        }
        return out;
    }

    SimClock clock;
    CPacingLoop pacer{clock};
    Journal journal;
    std::shared_ptr<ScriptedDevice::Record> record;
    std::unique_ptr<CUpgradeController> controller;
    TempDir dir;
};

TEST(StartCommand, WithoutAFileItSaysSoAndTouchesNothing) {
    Rig rig;
    bool controlsRead = false;
    EXPECT_EQ(rig.controller->Start("",
                                    [&] {
                                        controlsRead = true;
                                        return DialogValues{};
                                    }),
              StartResult::FileMissing);
    EXPECT_EQ(rig.controller->Start(rig.dir.File("absent.bin"), DialogValues{}),
              StartResult::FileMissing);
    EXPECT_EQ(rig.controller->Start(rig.dir.path().string(), DialogValues{}),
              StartResult::FileMissing);  // a folder is not a file to send
    EXPECT_FALSE(controlsRead);
    EXPECT_EQ(rig.journal.MessagesShown(),
              std::vector<std::string>(3, "message Transferred file is not exist!"));
    EXPECT_EQ(rig.record->opens, 0);
}

TEST(StartCommand, ADatabaseImageAsCodeIsRefusedWithABoxUnlessForced) {
    Rig rig;
    JobSettings defaults;
    LineParams line;
    ConvertDialogValues(DialogValues{}, defaults, line);
    std::vector<std::uint8_t> image(
        static_cast<std::size_t>(LayoutOf(ImageLimitsOf(defaults)).totalLength), 0);
    image[4] = 1;  // the database header 00 00 00 00 01 00 00 00
    const std::string path = rig.dir.Write("db1.bin", image);
    EXPECT_EQ(rig.Start(path), StartResult::ImageRefused);
    EXPECT_EQ(rig.record->opens, 0) << "nothing sent";
    const auto shown = rig.journal.MessagesShown();
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_NE(shown[0].find("is a channel database image"), std::string::npos) << shown[0];
    DialogValues database;
    database.strUpgradeType = "Database";
    ASSERT_EQ(rig.Start(path, database), StartResult::Started);
    rig.controller->Wait();
    rig.controller->SetForce(true);
    ASSERT_EQ(rig.Start(path), StartResult::Started);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::Finished);
}

TEST(StartCommand, DefaultsOpenCom1At115200And8N1AndTheJobFinishes) {
    Rig rig;
    const auto file = PatternBytes(1000);
    ASSERT_EQ(rig.Start(rig.dir.Write("image.bin", file)), StartResult::Started);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::Finished);
    EXPECT_EQ(rig.record->openedDevice, ResolvePortName(1));
    EXPECT_EQ(rig.record->config.nBaudRate, 115200U);
    EXPECT_EQ(rig.record->config.nDataBits, 8);
    EXPECT_EQ(rig.record->config.nParity, 0);
    EXPECT_EQ(rig.record->config.nStopBits, 0);
    EXPECT_EQ(rig.Data(), file);
    EXPECT_EQ(rig.journal.MessagesShown(), std::vector<std::string>{"message Data send finish !"});
    EXPECT_FALSE(rig.controller->IsBusy());
    EXPECT_FALSE(rig.record->open);
    const JobSettings& s = rig.controller->Settings();
    EXPECT_EQ(s.nUpgradeType, UpgradeType::Code);
    EXPECT_EQ(s.nOffset, 0x1B0000U);

    // The port is free again for the next job.
    ASSERT_EQ(rig.Start(rig.controller->Settings().strFilePath), StartResult::Started);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::Finished);
}

TEST(StartCommand, SatelliteLimitAbove200AndNegativeLimitsAreRefusedBeforeThePortOpens) {
    Rig rig;
    const std::string path = rig.dir.Write("image.bin", {1, 2, 3});
    DialogValues v;
    v.nMaxSat = 201;
    EXPECT_EQ(rig.Start(path, v), StartResult::LimitRefused);
    v.nMaxSat = 32;
    v.nMaxTv = -1;
    EXPECT_EQ(rig.Start(path, v), StartResult::LimitRefused);
    EXPECT_EQ(rig.record->opens, 0);
    const auto shown = rig.journal.MessagesShown();
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_NE(shown[0].find("at most 200 satellites"), std::string::npos) << shown[0];
    EXPECT_NE(shown[1].find("Max TV No. is -1"), std::string::npos) << shown[1];
    EXPECT_EQ(rig.controller->Settings().nMaxTv, -1) << "settings are rewritten before the checks";

    v.nMaxTv = 500;
    v.nMaxSat = 200;
    EXPECT_EQ(rig.Start(path, v), StartResult::Started);
    rig.controller->Wait();
}

TEST(StartCommand, APortThatCannotBeOpenedIsNamedByItsNumber) {
    Rig rig;
    rig.record->failOpen = true;
    const std::string path = rig.dir.Write("image.bin", {1});
    DialogValues v;
    v.strPort = "COM3";
    EXPECT_EQ(rig.Start(path, v), StartResult::PortFailed);
    v.strPort = "COMX";
    EXPECT_EQ(rig.Start(path, v), StartResult::PortFailed);
    EXPECT_EQ(rig.record->openedDevice, ResolvePortName(0)) << "port 0 is tried as such";
    EXPECT_EQ(rig.journal.MessagesShown(),
              (std::vector<std::string>{"message UART3 is already Opened Or not Exist!",
                                        "message UART0 is already Opened Or not Exist!"}));
    EXPECT_FALSE(rig.controller->IsBusy());
}

TEST(StartCommand, AChosenDeviceIsOpenedExactlyAndItsFailureSaysWhy) {
    Rig rig;
    rig.record->failOpen = true;
    const std::string path = rig.dir.Write("image.bin", {1});
    // A path: the box says why, since "UART0" would mean nothing.
    rig.controller->SetDeviceOverride("/dev/ttyUSB0");
    EXPECT_EQ(rig.Start(path), StartResult::PortFailed);
    EXPECT_EQ(rig.record->openedDevice, "/dev/ttyUSB0");
    EXPECT_EQ(rig.controller->LastPortFailure().reason, "scripted open failure");
    // A COM name beyond the last-character rule: COM11, never COM1.
    rig.controller->SetDeviceOverride("com11");
    EXPECT_EQ(rig.Start(path), StartResult::PortFailed);
    EXPECT_EQ(rig.record->openedDevice, ResolvePortName(11));
    EXPECT_EQ(rig.journal.MessagesShown(),
              (std::vector<std::string>{"message scripted open failure",
                                        "message UART11 is already Opened Or not Exist!"}));
}

TEST(StartCommand, WhileBusyStartIsIgnoredAndTheJobKeepsItsOwnFile) {
    std::atomic<bool> gate{false};
    ReceiverScript script;
    script.readyGate = [&gate] { return gate.load(); };
    Rig rig(script);
    const auto first = PatternBytes(700, 1);
    ASSERT_EQ(rig.Start(rig.dir.Write("first.bin", first)), StartResult::Started);
    ASSERT_TRUE(rig.WaitBusy());

    // Select File chooses another file, and Start is pressed again.
    const std::string second = rig.dir.Write("second.bin", PatternBytes(300, 2));
    rig.controller->Settings().strFilePath = second;
    DialogValues v;
    v.strOffset = "abc";
    EXPECT_EQ(rig.controller->Start(second, v), StartResult::Busy);
    EXPECT_EQ(rig.controller->Settings().nOffset, 0xABCU) << "Start rewrites the settings first";
    EXPECT_TRUE(rig.journal.MessagesShown().empty()) << "a busy Start says nothing";
    EXPECT_EQ(rig.record->opens, 1);

    gate.store(true);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::Finished);
    EXPECT_EQ(rig.Data(), first);
}

TEST(StartCommand, CancelEndsAWaitingJobPromptlyAndClosesThePort) {
    ReceiverScript script;
    script.sendReady = false;
    Rig rig(script);
    // The real counter: the job waits in real time here.
    rig.controller->SetClock(SystemPacingClock());
    ASSERT_EQ(rig.Start(rig.dir.Write("image.bin", {1, 2})), StartResult::Started);
    ASSERT_TRUE(rig.WaitBusy());
    const auto before = std::chrono::steady_clock::now();
    rig.controller->Cancel();
    ASSERT_TRUE(rig.controller->WaitFor(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::Cancelled);
    EXPECT_FALSE(rig.record->open);
    EXPECT_FALSE(rig.controller->IsBusy());
    EXPECT_TRUE(rig.journal.MessagesShown().empty());
}

TEST(StartCommand, DestroyingTheControllerEndsARunningJob) {
    ReceiverScript script;
    script.sendReady = false;
    auto rig = std::make_unique<Rig>(script);
    rig->controller->SetClock(SystemPacingClock());
    ASSERT_EQ(rig->Start(rig->dir.Write("image.bin", {1})), StartResult::Started);
    ASSERT_TRUE(rig->WaitBusy());
    auto record = rig->record;
    auto done = std::async(std::launch::async, [&rig] { rig->controller.reset(); });
    ASSERT_EQ(done.wait_for(5s), std::future_status::ready) << "the controller must not hang";
    EXPECT_FALSE(record->open);
}

TEST(StartCommand, CustomHandsThePortBackAtOnce) {
    Rig rig;
    DialogValues v;
    v.strUpgradeType = "Custom";
    ASSERT_EQ(rig.Start(rig.dir.Write("image.bin", {1}), v), StartResult::Started);
    rig.controller->Wait();
    EXPECT_EQ(rig.controller->LastOutcome(), JobOutcome::NothingToDo);
    EXPECT_FALSE(rig.record->open);
    EXPECT_TRUE(rig.journal.Entries().empty());
    v.strUpgradeType = "Code";
    EXPECT_EQ(rig.Start(rig.controller->Settings().strFilePath, v), StartResult::Started);
    rig.controller->Wait();
}

}  // namespace
}  // namespace velmora
