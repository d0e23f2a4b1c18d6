// The station's board: the station's events in, the rows and totals every
// view shows out, with no window and no terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "transfer/StationBoard.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

StationJobEnd Ended(const std::string& port, JobOutcome outcome, const std::string& message = {},
                    bool cutShort = false) {
    StationJobEnd end;
    end.port = port;
    end.outcome = outcome;
    end.cutShort = cutShort;
    end.record.message = message;
    end.record.bytesSent = outcome == JobOutcome::Finished ? 1000 : 480;
    return end;
}

// Counts what reaches the view's own host behind the board.
class CountingHost final : public IStationHost {
public:
    void OnWaiting(const std::string&) override { ++events; }
    void OnSending(const std::string&, std::uint64_t) override { ++events; }
    void OnBytesSent(const std::string&, std::uint64_t, std::uint64_t) override { ++events; }
    void OnJobEnded(const StationJobEnd&) override { ++events; }
    void OnPortDropped(const std::string&, const std::string&) override { ++events; }
    void OnWaitingForFile(const std::string&, const std::string&) override { ++events; }
    int events = 0;
};

TEST(StationBoard, EventsBecomeRowsAndTotalsThatEveryViewShows) {
    CStationBoard::Clock::time_point now{};
    CountingHost host;
    CStationBoard board(
        &host,
        [](const std::string& device) {
            return CStationBoard::PortLabel{device + "-by-id", "FT232R USB UART"};
        },
        [&now] { return now; });
    // Rows keep the order the ports were given in, whatever their names.
    board.AddPort("/dev/ttyUSB1");
    board.AddPort("/dev/ttyUSB0");
    const std::uint64_t before = board.Version();

    board.OnWaiting("/dev/ttyUSB1");
    board.OnSending("/dev/ttyUSB1", 1000);
    board.OnBytesSent("/dev/ttyUSB1", 240, 1000);  // too soon for a rate
    BoardRow row = board.Snapshot().rows[0];
    EXPECT_EQ(row.port, "/dev/ttyUSB1");
    EXPECT_EQ(row.name, "/dev/ttyUSB1-by-id");
    EXPECT_EQ(row.description, "FT232R USB UART");
    EXPECT_EQ(row.state, PortState::Sending);
    EXPECT_EQ(row.Percent(), 24);
    EXPECT_FALSE(row.bytesPerSecond);
    now += 2s;
    board.OnBytesSent("/dev/ttyUSB1", 480, 1000);
    row = board.Snapshot().rows[0];
    EXPECT_DOUBLE_EQ(*row.bytesPerSecond, 240.0);
    EXPECT_NEAR(*row.secondsLeft, 520.0 / 240.0, 1e-9);

    board.OnJobEnded(Ended("/dev/ttyUSB1", JobOutcome::Finished));
    board.OnWaiting("/dev/ttyUSB0");
    board.OnJobEnded(Ended("/dev/ttyUSB0", JobOutcome::TimedOut,
                           "The receiver did not answer within 5 s while sending. Check the cable "
                           "and that the receiver is in its boot loader, then press Start again."));
    board.OnWaitingForFile("/dev/ttyUSB1", "image.bin is missing");
    BoardSnapshot shot = board.Snapshot();
    ASSERT_EQ(shot.rows.size(), 2U);
    EXPECT_EQ(shot.rows[0].state, PortState::WaitingForFile);
    EXPECT_EQ(shot.rows[0].reason, "image.bin is missing");
    EXPECT_EQ(shot.rows[0].finished, 1);
    EXPECT_EQ(shot.rows[1].state, PortState::Failed);
    EXPECT_EQ(shot.rows[1].failed, 1);
    EXPECT_EQ(shot.rows[1].lastResult,
              "The receiver did not answer within 5 s while sending. Check the cable and that the "
              "receiver is in its boot loader.");
    EXPECT_EQ(shot.totals.finished, 1);
    EXPECT_EQ(shot.totals.failed, 1);
    // Two seconds in, a receivers-per-hour figure would be a guess.
    EXPECT_FALSE(shot.totals.receiversPerHour);
    now += CStationBoard::kRateAfter;
    board.OnPortDropped("/dev/ttyUSB0", "the adapter was unplugged");
    shot = board.Snapshot();
    EXPECT_EQ(shot.rows[1].state, PortState::Dropped);
    EXPECT_EQ(shot.rows[1].failed, 1) << "a dropped port keeps its counts";
    ASSERT_TRUE(shot.totals.receiversPerHour);
    EXPECT_NEAR(*shot.totals.receiversPerHour, 1 / ((2.0 + 600.0) / 3600.0), 1e-9);
    EXPECT_GT(board.Version(), before);
    EXPECT_EQ(host.events, 9) << "every event goes on to the view's own host";
}

TEST(StationBoard, AFailureReadsWithoutTheSingleDialogsStartButton) {
    const std::pair<const char*, const char*> cases[] = {
        {"The receiver restarted during the upgrade (it sent its ready signal again); the upgrade "
         "did not finish. Press Start to upgrade it again.",
         "The receiver restarted during the upgrade (it sent its ready signal again); the upgrade "
         "did not finish."},
        {"The serial port COM3 went away while sending (cable pulled or adapter removed). Nothing "
         "was finished. Reconnect the receiver and press Start to upgrade again.",
         "The serial port COM3 went away while sending (cable pulled or adapter removed). Nothing "
         "was finished. Reconnect the receiver."},
        {"a.bin changed while waiting for the receiver (its content is no longer what was "
         "planned). Nothing was sent; once the file is complete, press Start to send it again.",
         "a.bin changed while waiting for the receiver (its content is no longer what was "
         "planned). Nothing was sent; once the file is complete."},
        {"The last bytes did not leave COM1 within 5.0 s (the line is held). The upgrade may be "
         "incomplete; check the cable and press Start to send it again.",
         "The last bytes did not leave COM1 within 5.0 s (the line is held). The upgrade may be "
         "incomplete; check the cable."},
        {"Data send finish !", "Data send finish !"},
    };
    for (const auto& [message, shown] : cases) {
        EXPECT_EQ(WithoutStartRemedy(message), shown);
    }
}

}  // namespace
}  // namespace velmora
