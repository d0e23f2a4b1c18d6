// The station's board: one row per port and the totals, worked out once from
// the station's events for every view of it (the command line's screen and
// the station windows). It stands between the station and the view's own
// host: each event first changes the board, then goes on to `next`.
//
// Threads: events come from the ports' threads and the station's; views read
// a snapshot from any thread. `next` is called without the board's lock held.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/Station.h"

namespace velmora {

enum class PortState {
    Opening,         // added, not yet waiting
    Waiting,         // waits for its receiver's ready signal
    WaitingForFile,  // the file to send cannot be read; the port waits for it
    Sending,
    Finished,  // the last job finished (running once: the port is done)
    Failed,    // the last job failed (running once: the port is done)
    Dropped,   // left the station: unplugged, or it could not be opened again
};

// "waiting", "sending", "finished", ...
const char* PortStateName(PortState state);

// What a view shows of one port.
struct BoardRow {
    std::string port;         // the device as the station opened it
    std::string name;         // the name that stays with the adapter (by-id link, COM name)
    std::string description;  // what a technician recognises it by ("FT232R USB UART")
    PortState state = PortState::Opening;
    std::uint64_t sent = 0;  // of the transfer under way, or the last one
    std::uint64_t total = 0;
    // Once bytes are going out: bytes a second so far, and the time left.
    std::optional<double> bytesPerSecond;
    std::optional<double> secondsLeft;
    // The last job's result in words, without a remedy (each view adds its
    // own): "finished", "The receiver did not answer within 5 s ...".
    std::string lastResult;
    bool lastFailed = false;
    bool lastCutShort = false;  // the station's stop cut the last transfer short
    std::string reason;         // why the port waits for its file or was dropped
    int finished = 0;
    int failed = 0;

    int Percent() const { return total == 0 ? 0 : static_cast<int>(sent * 100 / total); }
};

struct BoardTotals {
    int finished = 0;
    int failed = 0;
    // Receivers finished per hour, once the station has run long enough for
    // the figure to mean something (kRateAfter); none before.
    std::optional<double> receiversPerHour;
    std::chrono::system_clock::time_point runningSince;
};

struct BoardSnapshot {
    std::vector<BoardRow> rows;  // in the order the ports came
    BoardTotals totals;
};

class CStationBoard final : public IStationHost {
public:
    using Clock = std::chrono::steady_clock;
    // A receivers-per-hour figure is shown after this long.
    static constexpr std::chrono::minutes kRateAfter{10};

    // The name and description of a device, looked up when its row is made.
    struct PortLabel {
        std::string name;
        std::string description;
    };
    using Describe = std::function<PortLabel(const std::string& device)>;
    using Now = std::function<Clock::time_point()>;

    // `next` gets every event after the board has taken it in; may be null.
    // `describe` defaults to the serial ports present (DescribeSerialPort);
    // `now` to the steady clock (tests give their own).
    explicit CStationBoard(IStationHost* next = nullptr, Describe describe = {}, Now now = {});

    // A row for a port before its first event, so that rows keep the order
    // the ports were given in.
    void AddPort(const std::string& port);
    BoardSnapshot Snapshot() const;
    // Bumped by every change: a view redraws when it differs from the last it drew.
    std::uint64_t Version() const;

    // IStationHost
    void OnWaiting(const std::string& port) override;
    void OnSending(const std::string& port, std::uint64_t total) override;
    void OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) override;
    void OnJobEnded(const StationJobEnd& end) override;
    void OnPortDropped(const std::string& port, const std::string& reason) override;
    void OnWaitingForFile(const std::string& port, const std::string& reason) override;

private:
    struct Row {
        BoardRow shown;
        Clock::time_point sendingSince;
        std::size_t order = 0;
    };
    // The port's row, made on first sight; with m_mutex held.
    Row& RowOf(const std::string& port);
    void Changed();  // with m_mutex held

    IStationHost* m_next;
    Describe m_describe;
    Now m_now;
    Clock::time_point m_start;
    std::chrono::system_clock::time_point m_startWall;
    mutable std::mutex m_mutex;
    std::map<std::string, Row> m_rows;
    int m_finished = 0;
    int m_failed = 0;
    std::uint64_t m_version = 0;
};

// The name and description of `device` among the serial ports present
// (links resolved); the device itself and no description when it is not found.
CStationBoard::PortLabel DescribeSerialPort(const std::string& device);

// A job's message without the remedy the single dialog gives ("..., then
// press Start again."), for a view of the station to add its own words.
std::string WithoutStartRemedy(const std::string& message);

}  // namespace velmora
