// What velmora-cli station shows: the station board's rows and totals, one
// line per port redrawn in place on a terminal; plain lines in a log or a
// pipe; JSON events on stdout with --progress json. Each job's record goes to
// the job log as the job ends.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/ShopRecordHost.h"
#include "transfer/StationBoard.h"

namespace velmora::cli {

class StationScreen final : private IStationHost {
public:
    // `plan.logPath` empty: no log. Jobs are stamped with `plan.bench`; with a
    // shop record, each logged job is handed to its sender and the totals
    // show how many wait for it. `once`: each port serves one receiver.
    StationScreen(Console& console, const RecordPlan& plan, ShopRecordHost& record, bool once);
    ~StationScreen() override;

    // What the station reports to: the board, which hands every event on here.
    IStationHost& Host() { return m_board; }
    // A row for a port named on the command line, before its first event.
    void AddPort(const std::string& port) { m_board.AddPort(port); }
    // The summary table (or event) and the exit status of the run.
    int Finish(bool interrupted, int interruptStatus);

private:
    void OnWaiting(const std::string& port) override;
    void OnSending(const std::string& port, std::uint64_t total) override;
    void OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) override;
    void OnJobEnded(const StationJobEnd& end) override;
    void OnPortDropped(const std::string& port, const std::string& reason) override;
    void OnWaitingForFile(const std::string& port, const std::string& reason) override;

    // A row's news: `event` (without its port) as JSON, the row's text as a
    // plain line, or the redrawn screen.
    void Changed(const std::string& port, Json event);
    std::string RowText(const BoardRow& row) const;
    std::string Totals(const BoardTotals& totals) const;
    void Draw();  // with m_mutex held

    Console& m_console;
    std::string m_log;
    std::string m_bench;
    ShopRecordHost& m_record;
    bool m_once;
    CStationBoard m_board{this};
    std::mutex m_mutex;
    std::vector<StationJobEnd> m_jobs;
    int m_drawn = 0;  // lines of the last drawing on the terminal
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace velmora::cli
