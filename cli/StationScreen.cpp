#include "cli/StationScreen.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/Json.h"
#include "base/TextFormat.h"
#include "cli/ExitCodes.h"
#include "cli/JobLogHost.h"

namespace velmora::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes alone redraw the terminal at most this often.
constexpr std::chrono::milliseconds kRedrawEvery{250};

// "sending 43 %  451,200/1,048,576 bytes  11.2 kB/s  0:53 left"
std::string SendingText(const BoardRow& row) {
    std::string text = "sending " + std::to_string(row.Percent()) + " %  " +
                       GroupedDigits(row.sent) + "/" + GroupedDigits(row.total) + " bytes";
    if (row.bytesPerSecond) {
        text += "  " + RateText(*row.bytesPerSecond);
    }
    if (row.secondsLeft) {
        text += "  " + DurationText(*row.secondsLeft) + " left";
    }
    return text;
}

}  // namespace

StationScreen::StationScreen(Console& console, const RecordPlan& plan, ShopRecordHost& record,
                             bool once)
    : m_console(console), m_log(plan.logPath), m_bench(plan.bench), m_record(record), m_once(once) {
    m_record.OnWaitingChanged([this](std::size_t waiting) {
        std::lock_guard lock(m_mutex);
        if (m_console.Style() == ProgressStyle::Bars) {
            Draw();
        } else if (m_console.Style() == ProgressStyle::Json) {
            m_console.Event({{"event", "record"}, {"waiting", waiting}});
        }
    });
}

StationScreen::~StationScreen() {
    m_record.OnWaitingChanged(nullptr);
}

std::string StationScreen::RowText(const BoardRow& row) const {
    switch (row.state) {
        case PortState::Opening:
            return "opening";
        case PortState::Waiting:
            return "waiting for the receiver";
        case PortState::WaitingForFile:
            return "waiting for the file: " + row.reason;
        case PortState::Sending:
            return SendingText(row);
        case PortState::Finished:
            return "finished";
        case PortState::Failed:
            if (row.lastCutShort) {
                return "cut short: the transfer did not finish";
            }
            // What to do, as a terminal can do it: there is no Start to press.
            return "failed: " + row.lastResult +
                   (m_once ? " Run the command again to upgrade this receiver."
                           : " Switch the receiver off and on again; this port serves it again.");
        case PortState::Dropped:
            return "dropped: " + row.reason;
    }
    return {};
}

std::string StationScreen::Totals(const BoardTotals& totals) const {
    std::string text =
        "finished " + std::to_string(totals.finished) + ", failed " + std::to_string(totals.failed);
    if (totals.receiversPerHour) {
        char rate[48];
        std::snprintf(rate, sizeof rate, ", %.1f receivers per hour", *totals.receiversPerHour);
        text += rate;
    }
    if (const std::size_t waiting = m_record.Waiting(); waiting > 0) {
        text += ", " + std::to_string(waiting) + Plural(waiting, " record waits", " records wait") +
                " for the shop record";
    }
    return text;
}

void StationScreen::Changed(const std::string& port, Json event) {
    std::lock_guard lock(m_mutex);
    switch (m_console.Style()) {
        case ProgressStyle::Json:
            event["port"] = port;
            m_console.Event(event);
            return;
        case ProgressStyle::Bars:
            Draw();
            return;
        case ProgressStyle::Lines:
            for (const BoardRow& row : m_board.Snapshot().rows) {
                if (row.port == port) {
                    m_console.Write(port + ": " + RowText(row) + "\n");
                }
            }
            return;
        case ProgressStyle::Quiet:
            return;
    }
}

void StationScreen::OnWaiting(const std::string& port) {
    Changed(port, {{"event", "phase"}, {"phase", "waiting"}});
}

void StationScreen::OnSending(const std::string& port, std::uint64_t /*total*/) {
    Changed(port, {{"event", "phase"}, {"phase", "sending"}});
}

void StationScreen::OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) {
    // Lines and events once a tenth, the terminal at most every kRedrawEvery.
    const std::uint64_t tenth = total == 0 ? 0 : sent * 10 / total;
    const std::uint64_t before =
        total == 0 ? 0 : (sent - std::min<std::uint64_t>(sent, 240)) * 10 / total;
    const ProgressStyle style = m_console.Style();
    if ((style == ProgressStyle::Json || style == ProgressStyle::Lines) && tenth != before) {
        Changed(port, {{"event", "bar"},
                       {"bar", "send"},
                       {"percent", sent * 100 / total},
                       {"sent", sent},
                       {"total", total}});
    } else if (style == ProgressStyle::Bars) {
        std::lock_guard lock(m_mutex);
        if (Clock::now() - m_lastDraw > kRedrawEvery) {
            Draw();
        }
    }
}

void StationScreen::OnJobEnded(const StationJobEnd& end) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(end);
    }
    Changed(end.port, {{"event", "job"},
                       {"outcome", JobOutcomeName(end.outcome)},
                       {"record", JobRecordObject(end.record)}});
    if (!m_log.empty()) {
        AppendToJobLog(m_console, m_log, end.record, JobCount::Many, m_bench);
        m_record.JobLogged();
    }
}

void StationScreen::OnPortDropped(const std::string& port, const std::string& reason) {
    Changed(port, {{"event", "dropped"}, {"reason", reason}});
}

void StationScreen::OnWaitingForFile(const std::string& port, const std::string& reason) {
    Changed(port, {{"event", "phase"}, {"phase", "waiting for the file"}, {"reason", reason}});
}

void StationScreen::Draw() {
    const BoardSnapshot board = m_board.Snapshot();
    std::string text;
    for (int i = 0; i < m_drawn; ++i) {
        text += "\x1b[1A";
    }
    for (const BoardRow& row : board.rows) {
        text += "\r\x1b[2K" + row.port + "  [" + std::to_string(row.finished + row.failed) +
                " done]  " + RowText(row) + "\n";
    }
    text += "\r\x1b[2K" + Totals(board.totals) + "\n";
    m_drawn = static_cast<int>(board.rows.size()) + 1;
    m_console.Write(text);
    m_lastDraw = Clock::now();
}

int StationScreen::Finish(bool interrupted, int interruptStatus) {
    std::lock_guard lock(m_mutex);
    const BoardTotals totals = m_board.Snapshot().totals;
    const ProgressStyle style = m_console.Style();
    bool cutShort = false;
    for (const StationJobEnd& job : m_jobs) {
        cutShort = cutShort || job.cutShort;
    }
    if (style == ProgressStyle::Json) {
        m_console.Event({{"event", "summary"},
                         {"finished", totals.finished},
                         {"failed", totals.failed},
                         {"jobs", m_jobs.size()}});
    } else if (style != ProgressStyle::Quiet) {
        // No table when quiet: the log and the exit status say it all.
        char line[512];
        std::snprintf(line, sizeof line, "\n%-28s %-20s %10s %8s  %s\n", "port", "outcome", "bytes",
                      "seconds", "started");
        std::string table = line;
        for (const StationJobEnd& job : m_jobs) {
            std::snprintf(line, sizeof line, "%-28s %-20s %10llu %8.1f  %s\n", job.port.c_str(),
                          JobOutcomeName(job.outcome),
                          static_cast<unsigned long long>(job.record.bytesSent), job.record.seconds,
                          job.record.started.c_str());
            table += line;
        }
        m_console.Write(table + Totals(totals) + "\n");
    }
    if (interrupted && cutShort) {
        return interruptStatus;
    }
    return totals.failed > 0 ? kExitJobFailed : kExitOk;
}

}  // namespace velmora::cli
