// The transfer as the receiver sees it: exact bytes, pacing and progress,
// against a scripted boot loader on a simulated clock.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include "sdx/ListFormat.h"
#include "tests/support/Recorders.h"
#include "tests/support/ScriptedReceiver.h"
#include "tests/support/TempDir.h"
#include "transfer/UpgradeProtocol.h"
#include "transfer/UpgradeWorker.h"

namespace velmora {
namespace {

using test::Journal;
using test::PatternBytes;
using test::ReceiverScript;
using test::ScriptedDevice;
using test::SimClock;
using test::TempDir;

using Bytes = std::vector<std::uint8_t>;

struct JobRun {
    JobOutcome outcome = JobOutcome::NothingToDo;
    std::shared_ptr<ScriptedDevice::Record> record;
    std::vector<std::string> journal;
    bool busyAfter = true;

    // The message boxes the job showed, in order.
    std::vector<std::string> Messages() const {
        std::vector<std::string> m;
        for (const auto& e : journal) {
            if (e.rfind("message ", 0) == 0) {
                m.push_back(e);
            }
        }
        return m;
    }

    Bytes Written() const {
        Bytes out;
        for (const auto& w : record->written) {
            out.push_back(w.value);
        }
        return out;
    }
};

struct JobPlan {
    Bytes file;
    UpgradeType type = UpgradeType::Database;
    std::uint32_t offset = 0x1B0000;
    ReceiverScript script;
    std::chrono::milliseconds waitLimit{0};
    std::int64_t clockTickNs = 1000;
    std::function<void(const std::string& path)> prepare;  // e.g. remove the file
    bool withEvents = false;  // the job's events go into the journal too
    std::chrono::milliseconds silenceNotice = kSilenceNotice;
};

// The job's events in the journal, next to its bars and messages.
class JournalEvents final : public IJobEvents {
public:
    explicit JournalEvents(Journal& journal) : m_journal(journal) {}
    void OnPhase(JobPhase phase) override {
        m_journal.Add(phase == JobPhase::Converting           ? "phase converting"
                      : phase == JobPhase::WaitingForReceiver ? "phase waiting"
                                                              : "phase sending");
    }
    void OnPlan(const TransferPlan& p) override {
        m_journal.Add("plan " + std::to_string(p.length) + " " + std::to_string(p.checksum) + " " +
                      std::to_string(p.flashOffset));
    }
    void OnBytesSent(std::uint64_t sent, std::uint64_t total) override {
        m_journal.Add("bytes " + std::to_string(sent) + "/" + std::to_string(total));
    }
    void OnReceiverSilent(std::chrono::milliseconds /*silentFor*/) override {
        m_journal.Add("silent");
    }

private:
    Journal& m_journal;
};

JobRun RunJob(JobPlan plan, std::stop_source stop = {}) {
    TempDir dir;
    SimClock clock(plan.clockTickNs);
    CPacingLoop pacer(clock);  // the pacing that ships, on the simulated counter
    auto device = std::make_unique<ScriptedDevice>(clock, std::move(plan.script));
    JobRun run;
    run.record = device->record();
    CSerialPort port(std::move(device));
    EXPECT_EQ(port.OpenDevice("sim", 115200, 8, 0, 0), 1);

    JobSettings settings;
    settings.nUpgradeType = plan.type;
    settings.nOffset = plan.offset;
    settings.strFilePath = dir.Write("image.bin", plan.file);
    if (plan.prepare) {
        plan.prepare(settings.strFilePath);
    }
    Journal journal;
    JournalEvents events(journal);
    JobEnvironment env{port,  journal.analyse, journal.send,  journal.messages,
                       clock, pacer,           plan.waitLimit};
    env.events = plan.withEvents ? &events : nullptr;
    env.silenceNotice = plan.silenceNotice;
    std::atomic<bool> busy{true};
    run.outcome = UpgradeThreadProc(settings, env, stop.get_token(), busy);
    run.busyAfter = busy.load();
    run.journal = journal.Entries();
    EXPECT_FALSE(port.IsOpen()) << "the job must hand the port back on every path";
    return run;
}

const std::vector<std::string> kJobStart = {"send range 0 100", "send 0", "analyse range 0 100",
                                            "analyse 0", "analyse 100"};

std::vector<std::string> Expected(std::vector<std::string> middle) {
    std::vector<std::string> all = kJobStart;
    all.insert(all.end(), middle.begin(), middle.end());
    for (const char* tail : {"send 100", "message Data send finish !", "send 0", "analyse 0"}) {
        all.emplace_back(tail);
    }
    return all;
}

TEST(WordSum16, SumsLittleEndianWordsAndLeavesAnOddByteOut) {
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(WordSum16(abc.data(), 3), 0x6261U);
    EXPECT_EQ(WordSum16(abc.data(), 0), 0U);
    const Bytes ff(2 * 65538, 0xFF);
    EXPECT_EQ(WordSum16(ff.data(), static_cast<std::uint32_t>(ff.size())),
              static_cast<std::uint32_t>((65538ULL * 0xFFFFULL) & 0xFFFFFFFFULL));
}

TEST(IsSdxFileName, AcceptsADotSdxEndingInAnyCase) {
    EXPECT_TRUE(IsSdxFileName("list.sdx"));
    EXPECT_TRUE(IsSdxFileName("C:\\lists\\ASTRA.SdX"));
    EXPECT_TRUE(IsSdxFileName(".sdx"));
    EXPECT_FALSE(IsSdxFileName("list.sdxx"));
    EXPECT_FALSE(IsSdxFileName("list.sdx "));
    EXPECT_FALSE(IsSdxFileName("sdx"));
    EXPECT_FALSE(IsSdxFileName("listsdx"));
    EXPECT_FALSE(IsSdxFileName(""));
}

TEST(UpgradeHeader, IsTwelveBytesLeastSignificantFirst) {
    const UpgradeHeader h{0x001B0000, 0x01020304, 0xA0B0C0D0};
    const std::array<std::uint8_t, 12> want = {0x00, 0x00, 0x1B, 0x00, 0x04, 0x03,
                                               0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0};
    EXPECT_EQ(h.Bytes(), want);
}

TEST(TransferBytes, ThreeByteDatabaseFile) {
    JobPlan plan;
    plan.file = {'a', 'b', 'c'};
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::Finished);
    EXPECT_EQ(run.Written(), (Bytes{0x40, 0x00, 0x00, 0x1B, 0x00, 0x03, 0x00, 0x00, 0x00, 0x61,
                                    0x62, 0x00, 0x00, 'a', 'b', 'c'}));
    EXPECT_EQ(run.journal, Expected({"send 100"}));  // and 100 again at completion
    EXPECT_FALSE(run.busyAfter);
}

TEST(TransferBytes, CodeAlwaysTargetsTheProgramOffset) {
    JobPlan plan;
    plan.file = {1, 2};
    plan.type = UpgradeType::Code;
    plan.offset = 0x12345678;
    const Bytes written = RunJob(plan).Written();
    ASSERT_GE(written.size(), 5U);
    EXPECT_EQ(Bytes(written.begin() + 1, written.begin() + 5), (Bytes{0x00, 0x00, 0x01, 0x00}));

    plan.type = UpgradeType::DbImportExport;
    const Bytes other = RunJob(plan).Written();
    EXPECT_EQ(Bytes(other.begin() + 1, other.begin() + 5), (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST(TransferBytes, EmptyFileSendsOnlyTheHeader) {
    JobPlan plan;
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::Finished);
    EXPECT_EQ(run.Written(), (Bytes{0x40, 0x00, 0x00, 0x1B, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(run.journal, Expected({}));
}

TEST(TransferBytes, BlocksOf240WithAShortLastBlockAndExactProgress) {
    struct Case {
        std::size_t size;
        std::vector<std::string> progress;
    };
    const Case cases[] = {
        {480, {"send 50", "send 100"}},
        {481, {"send 49", "send 99", "send 100"}},
        {1000, {"send 24", "send 48", "send 72", "send 96", "send 100"}},
        {100000, {}},  // filled in below: every percentage from 1 to 100 once
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.size);
        if (c.progress.empty()) {
            for (int p = 1; p <= 100; ++p) {
                c.progress.push_back("send " + std::to_string(p));
            }
        }
        JobPlan plan;
        plan.file = PatternBytes(c.size);
        const JobRun run = RunJob(plan);
        EXPECT_EQ(run.outcome, JobOutcome::Finished);
        const Bytes written = run.Written();
        ASSERT_EQ(written.size(), 13 + c.size);
        EXPECT_EQ(Bytes(written.begin() + 13, written.end()), plan.file);
        EXPECT_EQ(run.journal, Expected(c.progress));
    }
}

TEST(TransferBytes, ChecksumCoversWholeChunksAndWraps) {
    // Exactly 2 MiB: the checksum pass ends with an empty read. All 0xFF words
    // make the sum pass 2^32, so only its low 32 bits may go out.
    JobPlan plan;
    plan.file = Bytes(kChecksumChunk, 0xFF);
    plan.clockTickNs = 200'000;  // pacing waits end at the first look
    const JobRun run = RunJob(plan);
    ASSERT_EQ(run.outcome, JobOutcome::Finished);
    const std::uint64_t words = kChecksumChunk / 2;
    const auto expected = static_cast<std::uint32_t>((words * 0xFFFFULL) & 0xFFFFFFFFULL);
    const Bytes written = run.Written();
    const std::uint32_t sent = static_cast<std::uint32_t>(written[9]) |
                               (static_cast<std::uint32_t>(written[10]) << 8) |
                               (static_cast<std::uint32_t>(written[11]) << 16) |
                               (static_cast<std::uint32_t>(written[12]) << 24);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(written.size(), 13 + kChecksumChunk);
    // The send bar got every percentage once: at most 101 updates.
    EXPECT_EQ(run.journal.size(), kJobStart.size() + 100 + 4);
}

TEST(TransferBytes, ChecksumSpanningTwoChunksEqualsOnePass) {
    JobPlan plan;
    plan.file = PatternBytes(kChecksumChunk + 3, 7);
    plan.clockTickNs = 200'000;
    const Bytes written = RunJob(plan).Written();
    const std::uint32_t one =
        WordSum16(plan.file.data(), static_cast<std::uint32_t>(plan.file.size()));
    EXPECT_EQ(Bytes(written.begin() + 9, written.begin() + 13),
              (Bytes{static_cast<std::uint8_t>(one), static_cast<std::uint8_t>(one >> 8),
                     static_cast<std::uint8_t>(one >> 16), static_cast<std::uint8_t>(one >> 24)}));
}

TEST(ReadySignal, NoiseLateAcAndStrayBytesAreDroppedUntilAGoodSignal) {
    JobPlan plan;
    plan.file = {9, 8, 7};
    plan.script.noise = {0x00, 0xAC, 0x40, 0x4F, 0xFF};
    plan.script.lateAcSignals = 2;
    plan.script.lonelyAbSignals = 2;
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::Finished);
    const Bytes written = run.Written();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), 0x40);
    EXPECT_EQ(std::count(written.begin(), written.end(), 0x40), 1) << "one start byte only";
    EXPECT_EQ(Bytes(written.end() - 3, written.end()), plan.file);
}

TEST(Acknowledgements, OtherBytesAreDroppedAndTheWaitGoesOn) {
    JobPlan plan;
    plan.file = PatternBytes(700);
    // AB directly followed by AC would be the ready signal of a restarted receiver.
    plan.script.junkBeforeAck = {0x00, 0x4E, 0x6F, 0xAB, 0x00, 0xAC};
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::Finished);
    EXPECT_EQ(run.Written().size(), 13U + 700U);
}

TEST(Pacing, HeaderBytesAtLeast101AndDataBytesAtLeast70MicrosecondsApart) {
    // Measured on the simulated counter that the job itself reads.
    JobPlan plan;
    plan.file = PatternBytes(300);
    const JobRun run = RunJob(plan);
    const auto& w = run.record->written;
    ASSERT_EQ(w.size(), 313U);
    for (std::size_t i = 2; i < w.size(); ++i) {
        const std::int64_t gapNs = w[i].simNs - w[i - 1].simNs;
        const std::int64_t floorNs = i <= 12 ? 101'000 : 70'000;
        ASSERT_GE(gapNs, floorNs) << "byte " << i;
    }
}

TEST(Pacing, RealClockHandsEachByteOverOnlyAfterTheGap) {
    // With the system's counter: each byte is handed over at least 70 us (data)
    // or 101 us (header) after the previous write returned.
    TempDir dir;
    SimClock receiverTime;
    ReceiverScript script;
    auto device = std::make_unique<ScriptedDevice>(receiverTime, std::move(script));
    auto record = device->record();
    CSerialPort port(std::move(device));
    ASSERT_EQ(port.OpenDevice("sim", 115200, 8, 0, 0), 1);
    JobSettings settings;
    settings.nUpgradeType = UpgradeType::Database;
    settings.strFilePath = dir.Write("f.bin", PatternBytes(500));
    Journal journal;
    JobEnvironment env{port,
                       journal.analyse,
                       journal.send,
                       journal.messages,
                       SystemPacingClock(),
                       SharedBytePacer()};
    std::atomic<bool> busy{true};
    std::stop_source stop;
    ASSERT_EQ(UpgradeThreadProc(settings, env, stop.get_token(), busy), JobOutcome::Finished);
    const auto& w = record->written;
    ASSERT_EQ(w.size(), 513U);
    for (std::size_t i = 2; i < w.size(); ++i) {
        const std::int64_t floorNs = i <= 12 ? 101'000 : 70'000;
        ASSERT_GE(w[i].realEntryNs - w[i - 1].realExitNs, floorNs) << "byte " << i;
    }
}

TEST(JobEnds, CustomSendsNothingTouchesNoBarAndHandsThePortBack) {
    JobPlan plan;
    plan.file = {1, 2, 3};
    plan.type = UpgradeType::Custom;
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::NothingToDo);
    EXPECT_TRUE(run.Written().empty());
    EXPECT_TRUE(run.journal.empty());
    EXPECT_FALSE(run.busyAfter);
    EXPECT_EQ(run.record->closes, 1);
}

TEST(JobEnds, AFileThatCannotBeOpenedIsReportedNotSilent) {
    JobPlan plan;
    plan.file = {1, 2, 3};
    plan.prepare = [](const std::string& path) { std::filesystem::remove(path); };
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::FileError);
    EXPECT_TRUE(run.Written().empty());
    ASSERT_EQ(run.journal.size(), 7U);
    EXPECT_NE(run.journal[4].find("message Cannot open the file to send"), std::string::npos);
    EXPECT_EQ(run.journal[5], "send 0");
    EXPECT_FALSE(run.busyAfter);
}

TEST(JobEnds, AFileThatShrinksDuringTheTransferEndsWithAMessage) {
    TempDir holder;
    std::string path;
    JobPlan plan;
    plan.file = PatternBytes(2000);
    plan.prepare = [&path](const std::string& p) { path = p; };
    plan.script.afterBlock = [&path](int block) {
        if (block == 2) {
            std::filesystem::resize_file(path, 600);
        }
    };
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::FileShrank);
    EXPECT_EQ(run.Written().size(), 13U + 480U) << "no partial block may go out";
    const auto messages = run.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_NE(messages[0].find("became shorter during the transfer (480 of 2000 bytes sent)"),
              std::string::npos);
    EXPECT_FALSE(run.busyAfter);
}

TEST(JobEnds, AFileThatGrowsIsSentOnlyUpToTheAnnouncedLength) {
    std::string path;
    JobPlan plan;
    plan.file = PatternBytes(500);
    plan.prepare = [&path](const std::string& p) { path = p; };
    plan.script.afterBlock = [&path](int block) {
        if (block == 1) {
            std::ofstream(path, std::ios::app | std::ios::binary) << std::string(1000, 'x');
        }
    };
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::Finished);
    EXPECT_EQ(run.Written().size(), 13U + 500U);
}

TEST(JobEnds, AFileThatChangesIsNeverSentAsASuccess) {
    // Grown or replaced while the receiver is awaited: nothing at all goes
    // out. Rewritten during the data, even by swapping two words (which
    // leaves the word sum as it was): the last block is held back.
    enum class Change { Grow, Replace, RewriteDuringData, SwapWordsDuringData };
    for (const Change change :
         {Change::Grow, Change::Replace, Change::RewriteDuringData, Change::SwapWordsDuringData}) {
        SCOPED_TRACE(static_cast<int>(change));
        std::string path;
        bool replaced = false;
        JobPlan plan;
        plan.file = PatternBytes(1000);
        plan.prepare = [&path](const std::string& p) { path = p; };
        const auto rewrite = [&path](std::streamoff at, const std::string& bytes) {
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(at) << bytes;
        };
        const bool duringData =
            change == Change::RewriteDuringData || change == Change::SwapWordsDuringData;
        if (duringData) {
            const auto& f = plan.file;
            const std::string swapped = {static_cast<char>(f[602]), static_cast<char>(f[603]),
                                         static_cast<char>(f[600]), static_cast<char>(f[601])};
            plan.script.afterBlock = [&, swapped, change](int block) {
                if (block == 1) {
                    change == Change::RewriteDuringData ? rewrite(900, "rewritten")
                                                        : rewrite(600, swapped);
                }
            };
        } else {
            plan.script.readyGate = [&path, &replaced, change, done = false]() mutable {
                if (!done && change == Change::Grow) {
                    std::ofstream(path, std::ios::app | std::ios::binary) << std::string(500, 'x');
                } else if (!done) {
                    std::ofstream(path + ".new", std::ios::binary) << std::string(1000, 'n');
                    std::error_code ec;
                    std::filesystem::rename(path + ".new", path, ec);
                    replaced = !ec;
                }
                done = true;
                return true;
            };
        }
        const JobRun run = RunJob(plan);
        if (change == Change::Replace && !replaced) {
            // Windows refuses to replace a file that the job holds open: the
            // file sent is the one that was checked.
            EXPECT_EQ(run.outcome, JobOutcome::Finished);
            continue;
        }
        EXPECT_EQ(run.outcome, JobOutcome::FileChanged);
        EXPECT_EQ(run.Written().size(), duringData ? 13U + 960U : 0U);
        const auto messages = run.Messages();
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_NE(
            messages[0].find(duringData ? "changed during the transfer (960 of 1000 bytes sent)"
                                        : "changed while waiting for the receiver"),
            std::string::npos)
            << messages[0];
        EXPECT_FALSE(run.busyAfter);
    }
}

TEST(JobEnds, DeviceLossEndsTheJobWithAMessageAndNoSuccess) {
    JobPlan plan;
    plan.file = PatternBytes(2400);
    plan.script.loseDeviceAfterBlocks = 3;
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::DeviceLost);
    bool reportedLoss = false;
    for (const auto& e : run.journal) {
        EXPECT_EQ(e.find("Data send finish"), std::string::npos);
        EXPECT_NE(e, "send 100");
        reportedLoss = reportedLoss || e.find("went away") != std::string::npos;
    }
    EXPECT_TRUE(reportedLoss);
    EXPECT_FALSE(run.busyAfter);
}

TEST(JobEnds, SilentReceiverTimesOutOnlyWhenALimitIsSet) {
    JobPlan plan;
    plan.file = {1};
    plan.script.ackHeader = false;
    plan.waitLimit = std::chrono::milliseconds(50);
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::TimedOut);
    EXPECT_EQ(run.Written().size(), 13U);
    const auto shown = run.Messages();
    const auto messages = std::count_if(shown.begin(), shown.end(), [](const std::string& e) {
        return e.find("did not answer within") != std::string::npos;
    });
    EXPECT_EQ(messages, 1);
}

TEST(JobEnds, CancelAtEachWaitClosesThePortWithoutAMessage) {
    // Ready signal, header acknowledgement, block acknowledgement.
    for (int where = 0; where < 3; ++where) {
        SCOPED_TRACE(where);
        std::stop_source stop;
        JobPlan plan;
        plan.file = PatternBytes(1000);
        plan.script.sendReady = where != 0;
        plan.script.ackHeader = where != 1;
        if (where == 2) {
            plan.script.loseDeviceAfterBlocks = -1;
            plan.script.junkBeforeAck = {};
            plan.script.afterBlock = [stop](int block) mutable {
                if (block == 2) {
                    stop.request_stop();
                }
            };
        } else {
            plan.script.onIdleWait = [stop]() mutable { stop.request_stop(); };
        }
        const JobRun run = RunJob(plan, stop);
        EXPECT_EQ(run.outcome, JobOutcome::Cancelled);
        for (const auto& e : run.journal) {
            EXPECT_EQ(e.rfind("message", 0), std::string::npos) << e;
        }
        EXPECT_FALSE(run.busyAfter);
    }
}

TEST(JobEvents, ThePlanComesBeforeTheWaitAndMatchesTheHeader) {
    JobPlan plan;
    plan.file = PatternBytes(481);
    plan.withEvents = true;
    const JobRun run = RunJob(plan);
    ASSERT_EQ(run.outcome, JobOutcome::Finished);
    const std::uint32_t sum = WordSum16(plan.file.data(), 481);
    std::vector<std::string> events;
    for (const auto& e : run.journal) {
        if (e.rfind("plan", 0) == 0 || e.rfind("phase", 0) == 0 || e.rfind("bytes", 0) == 0) {
            events.push_back(e);
        }
    }
    EXPECT_EQ(events, (std::vector<std::string>{"plan 481 " + std::to_string(sum) + " 1769472",
                                                "phase waiting", "phase sending", "bytes 240/481",
                                                "bytes 480/481", "bytes 481/481"}));
    const Bytes sent = run.Written();
    ASSERT_GE(sent.size(), 13U);
    const std::uint32_t announced =
        static_cast<std::uint32_t>(sent[9]) | static_cast<std::uint32_t>(sent[10]) << 8 |
        static_cast<std::uint32_t>(sent[11]) << 16 | static_cast<std::uint32_t>(sent[12]) << 24;
    EXPECT_EQ(announced, sum) << "the header's checksum is the one announced";
}

TEST(JobEvents, ASilentReceiverIsReportedOnceAndTheWaitGoesOn) {
    JobPlan plan;
    plan.file = {1, 2, 3};
    plan.script.ackHeader = false;
    plan.withEvents = true;
    plan.silenceNotice = std::chrono::milliseconds(10);
    plan.waitLimit = std::chrono::milliseconds(150);
    const JobRun run = RunJob(plan);
    EXPECT_EQ(run.outcome, JobOutcome::TimedOut) << "the notice does not end the wait";
    EXPECT_EQ(std::count(run.journal.begin(), run.journal.end(), "silent"), 1);
}

}  // namespace
}  // namespace velmora
