#include "cli/Console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/TextFormat.h"
#include "cli/Interrupt.h"
#include "cli/ReportText.h"
#include "cli/Terminal.h"
#include "sdx/ImageDecode.h"

namespace velmora::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Redraws for bytes sent alone, at most this often; percentage changes always draw.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string BarText(const char* name, int percent, int width) {
    const int filled = percent * width / 100;
    char tail[8];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    return std::string(name) + " [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + tail;
}

const char* PhaseName(JobPhase phase) {
    switch (phase) {
        case JobPhase::Converting:
            return "converting";
        case JobPhase::WaitingForReceiver:
            return "waiting";
        case JobPhase::Sending:
            return "sending";
    }
    return "?";
}

}  // namespace

ProgressStyle ChooseProgressStyle(bool quiet, const std::string& requested) {
    if (requested == "json") {
        return ProgressStyle::Json;
    }
    if (quiet) {
        return ProgressStyle::Quiet;
    }
    if (requested == "lines") {
        return ProgressStyle::Lines;
    }
    const bool terminal = PrepareStderrForBars();
    if (requested == "bars") {
        return ProgressStyle::Bars;
    }
    return terminal ? ProgressStyle::Bars : ProgressStyle::Lines;
}

Console::Console(ProgressStyle style) : m_style(style) {
    IgnoreBrokenPipe();
}

void Console::Put(std::FILE* out, const std::string& text) {
    bool& gone = out == stdout ? m_stdoutGone : m_outGone;
    if (gone) {
        return;
    }
    std::fputs(text.c_str(), out);
    std::fflush(out);
    if (std::ferror(out) != 0 && errno == EPIPE) {
        // Nobody reads it any more: the job goes on, and the exit status tells.
        gone = true;
    }
    std::clearerr(out);
}

void Console::SetJob(const std::string& port, const std::string& line,
                     const JobSettings& settings) {
    std::lock_guard lock(m_mutex);
    m_port = port;
    m_lineText = line;
    m_settings = settings;
}

void Console::Bar::SetRange(int lower, int upper) {
    std::lock_guard lock(m_console.m_mutex);
    m_lower = lower;
    m_upper = upper;
    m_console.m_barsEnded = false;  // a job begins
}

void Console::Bar::SetPos(int pos) {
    std::lock_guard lock(m_console.m_mutex);
    if (pos == m_pos) {
        return;
    }
    m_pos = pos;
    if (!m_console.m_barsEnded) {
        m_console.BarChanged(*this);
    }
}

int Console::Bar::Percent() const {
    if (m_upper <= m_lower) {
        return 0;
    }
    const int clamped = std::clamp(m_pos, m_lower, m_upper);
    return (clamped - m_lower) * 100 / (m_upper - m_lower);
}

void Console::MessageSink::Show(const std::string& text, MessageCaption /*caption*/) {
    std::lock_guard lock(m_console.m_mutex);
    // A message box ends the job: the bars stay as they were when it came.
    m_console.m_barsEnded = true;
    if (m_console.m_style == ProgressStyle::Json) {
        m_console.JsonLine({{"event", "message"}, {"text", text}});
        return;
    }
    m_console.EndLine();
    m_console.Put(m_console.m_out, text.empty() || text.back() != '\n' ? text + "\n" : text);
}

void Console::Say(const std::string& text) {
    std::lock_guard lock(m_mutex);
    Line("info", text, true);
}

void Console::Warn(const std::string& text) {
    std::lock_guard lock(m_mutex);
    Line("warning", "velmora-cli: warning: " + text, false);
}

void Console::Error(const std::string& text) {
    std::lock_guard lock(m_mutex);
    Line("error", "velmora-cli: " + text, false);
}

void Console::Result(const std::string& outcome, int exitStatus) {
    std::lock_guard lock(m_mutex);
    if (m_style == ProgressStyle::Json) {
        JsonLine({{"event", "result"}, {"outcome", outcome}, {"exitStatus", exitStatus}});
    }
}

void Console::Event(const Json& event) {
    std::lock_guard lock(m_mutex);
    JsonLine(event);
}

void Console::Write(const std::string& text) {
    std::lock_guard lock(m_mutex);
    Put(m_out, text);
}

void Console::Line(const std::string& kind, const std::string& text, bool information) {
    if (m_style == ProgressStyle::Json) {
        JsonLine({{"event", kind}, {"text", text}});
        return;
    }
    if (information && m_style == ProgressStyle::Quiet) {
        return;
    }
    EndLine();
    Put(m_out, text + "\n");
}

void Console::JsonLine(const Json& object) {
    Put(stdout, velmora::JsonLine(object) + "\n");
}

std::string Console::PortText(const std::string& device) const {
    if (m_port.empty() || m_port == device) {
        return device;
    }
    return m_port + " (" + device + ")";
}

void Console::OnPhase(JobPhase phase) {
    std::lock_guard lock(m_mutex);
    if (phase == JobPhase::Sending) {
        m_sendingSince = Clock::now();
        m_sent = 0;
    }
    if (m_style == ProgressStyle::Json) {
        JsonLine({{"event", "phase"}, {"phase", PhaseName(phase)}});
    }
    if (phase == JobPhase::WaitingForReceiver) {
        Line(
            "info",
            "Waiting for the receiver on " + PortText(m_device) + ": switch it on or reset it now.",
            true);
    }
}

void Console::OnPlan(const TransferPlan& plan) {
    std::lock_guard lock(m_mutex);
    m_device = plan.device;
    m_holderHint = plan.holderHint;
    m_total = plan.length;
    const std::string from =
        plan.sourceList.empty() ? std::string() : "converted from " + plan.sourceList + "; ";
    const std::string text = "Sending " + plan.filePath + " (" + from + GroupedDigits(plan.length) +
                             " bytes, checksum " + HexWord(plan.checksum) + ") as " +
                             UpgradeTypeText(plan.type) + " to flash offset " +
                             HexWord(plan.flashOffset) + " through " + PortText(plan.device) +
                             (m_lineText.empty() ? std::string() : " at " + m_lineText);
    if (m_style == ProgressStyle::Json) {
        JsonLine({{"event", "plan"},
                  {"file", plan.filePath},
                  {"list", plan.sourceList},
                  {"bytes", plan.length},
                  {"checksum", HexWord(plan.checksum)},
                  {"type", UpgradeTypeText(plan.type)},
                  {"offset", HexWord(plan.flashOffset)},
                  {"port", plan.device},
                  {"text", text}});
        return;
    }
    Line("info", text, true);
}

void Console::OnConversionReport(const ConversionReport& report) {
    std::lock_guard lock(m_mutex);
    if (m_style == ProgressStyle::Json) {
        JsonLine({{"event", "report"}, {"report", ConversionReportObject(report)}});
        return;
    }
    for (const std::string& line : ConversionReportLines(report, m_settings)) {
        Line("info", line, true);
    }
}

void Console::OnBytesSent(std::uint64_t sent, std::uint64_t total) {
    std::lock_guard lock(m_mutex);
    m_sent = sent;
    m_total = total;
    const auto now = Clock::now();
    if (m_style == ProgressStyle::Bars && !m_barsEnded && now - m_lastDraw >= kRedrawEvery) {
        DrawBars();
    }
}

void Console::OnReceiverSilent(std::chrono::milliseconds silentFor) {
    std::lock_guard lock(m_mutex);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(silentFor).count();
    const std::string notice = "No answer from the receiver for " + std::to_string(seconds) +
                               " s; still waiting (Ctrl-C to stop)";
    Line("notice", m_holderHint.empty() ? notice : notice + ". " + m_holderHint, false);
}

void Console::OnNotice(const std::string& text) {
    std::lock_guard lock(m_mutex);
    Line("notice", text, false);
}

// "27,360/65,536 bytes  6.1 kB/s  0:06 left", once bytes are going out.
std::string Console::SendDetails() const {
    if (m_total == 0 || m_sent == 0) {
        return {};
    }
    std::string text = GroupedDigits(m_sent) + "/" + GroupedDigits(m_total) + " bytes";
    const double seconds = std::chrono::duration<double>(Clock::now() - m_sendingSince).count();
    if (seconds > 0.2) {
        const double rate = static_cast<double>(m_sent) / seconds;
        text += "  " + RateText(rate);
        if (m_sent < m_total && rate > 0) {
            text += "  " + DurationText(static_cast<double>(m_total - m_sent) / rate) + " left";
        }
    }
    return text;
}

void Console::BarChanged(const Bar& bar) {
    switch (m_style) {
        case ProgressStyle::Quiet:
            return;
        case ProgressStyle::Json: {
            Json event = {{"event", "bar"}, {"bar", bar.Name()}, {"percent", bar.Percent()}};
            if (&bar == &m_send && m_total != 0) {
                event["sent"] = m_sent;
                event["total"] = m_total;
            }
            JsonLine(event);
            return;
        }
        case ProgressStyle::Lines: {
            // One line per tenth, so that logs stay readable.
            const int tenth = bar.Percent() / 10;
            int& last = &bar == &m_analyse ? m_analyseTenth : m_sendTenth;
            if (tenth != last) {
                last = tenth;
                const std::string details = &bar == &m_send ? SendDetails() : std::string();
                Put(m_out, std::string(bar.Name()) + " " + std::to_string(bar.Percent()) + "%" +
                               (details.empty() ? "" : "  " + details) + "\n");
            }
            return;
        }
        case ProgressStyle::Bars:
            DrawBars();
            return;
    }
}

// Both bars on one line that fits the terminal: the send details, then the
// analyse bar, give way when it is narrow. The bars keep their width while
// the details change.
void Console::DrawBars() {
    const int columns = std::max(StderrColumns() - 1, 20);
    std::string details = SendDetails();
    if (!details.empty()) {
        const std::size_t widest = 2 * GroupedDigits(m_total).size() +
                                   std::string("/ bytes  999.9 kB/s  9:59:59 left").size();
        details = "  " + details +
                  std::string(widest > details.size() ? widest - details.size() : 0, ' ');
    }
    struct Layout {
        bool analyse;
        bool details;
    };
    std::string line;
    for (const Layout layout :
         {Layout{true, true}, Layout{false, true}, Layout{true, false}, Layout{false, false}}) {
        if (layout.details && details.empty()) {
            continue;
        }
        const int bars = layout.analyse ? 2 : 1;
        const std::string extra = layout.details ? details : std::string();
        // "analyse [" + "] 100%" + "   " and "send [" + "] 100%".
        const int fixed = (layout.analyse ? 9 + 6 + 3 : 0) + 6 + 6 + static_cast<int>(extra.size());
        const int width = std::min((columns - fixed) / bars, 30);
        if (width >= 8 || !(layout.analyse || layout.details)) {
            const int w = std::max(width, 1);
            line = (layout.analyse ? BarText(m_analyse.Name(), m_analyse.Percent(), w) + "   "
                                   : std::string()) +
                   BarText(m_send.Name(), m_send.Percent(), w) + extra;
            break;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    Put(m_out, "\r\033[K" + line);
    m_lineOpen = true;
    m_lastDraw = Clock::now();
}

void Console::EndLine() {
    if (m_lineOpen) {
        Put(m_out, "\n");
        m_lineOpen = false;
    }
}

}  // namespace velmora::cli
