// How velmora-cli shows a job: the two progress bars, the message boxes, the
// job's events (what goes where, the wait for the receiver, bytes sent, a
// silent receiver, the conversion report) and the tool's own lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "base/Json.h"

namespace velmora::cli {

enum class ProgressStyle {
    Bars,   // both bars redrawn in place on a terminal (stderr)
    Lines,  // one plain line per tenth, for logs and pipes (stderr)
    Json,   // one JSON object per line on stdout, for programs that drive the tool
    Quiet,  // no progress; messages and problems only
};

// Quiet when asked; for "auto", bars on a terminal that can redraw them and
// plain lines else. `requested` is "auto", "bars", "lines" or "json".
ProgressStyle ChooseProgressStyle(bool quiet, const std::string& requested = "auto");

class Console final : public IJobEvents {
public:
    explicit Console(ProgressStyle style);
    ~Console() override { EndLine(); }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    IProgressBar& AnalyseBar() { return m_analyse; }
    IProgressBar& SendBar() { return m_send; }
    IMessageBox& Messages() { return m_messages; }
    ProgressStyle Style() const { return m_style; }

    // What the job's lines name: the port as typed, the line settings
    // ("115200 8N1") and the job's settings (for the report's limits). Set
    // before the job starts.
    void SetJob(const std::string& port, const std::string& line, const JobSettings& settings);

    // A line of the tool's own, kept apart from the bars: information (left
    // out when quiet), a warning, or an error.
    void Say(const std::string& text);
    void Warn(const std::string& text);
    void Error(const std::string& text);
    // The last JSON line: how the command ended and its exit status.
    void Result(const std::string& outcome, int exitStatus);
    // For a view of its own (the station's screen): one JSON event on stdout,
    // and text as it is on the progress stream (stderr). Both stop writing
    // once their reader has gone.
    void Event(const Json& event);
    void Write(const std::string& text);

    void OnPhase(JobPhase phase) override;
    void OnConversionReport(const ConversionReport& report) override;
    void OnPlan(const TransferPlan& plan) override;
    void OnBytesSent(std::uint64_t sent, std::uint64_t total) override;
    void OnReceiverSilent(std::chrono::milliseconds silentFor) override;
    void OnNotice(const std::string& text) override;

private:
    class Bar final : public IProgressBar {
    public:
        Bar(Console& console, const char* name) : m_console(console), m_name(name) {}
        void SetRange(int lower, int upper) override;
        void SetPos(int pos) override;

        int Percent() const;
        const char* Name() const { return m_name; }

    private:
        Console& m_console;
        const char* m_name;
        int m_lower = 0;
        int m_upper = 100;
        int m_pos = 0;
    };
    class MessageSink final : public IMessageBox {
    public:
        explicit MessageSink(Console& console) : m_console(console) {}
        using IMessageBox::Show;
        void Show(const std::string& text, MessageCaption caption) override;

    private:
        Console& m_console;
    };

    // All with m_mutex held.
    void BarChanged(const Bar& bar);
    void DrawBars();
    std::string SendDetails() const;
    void Line(const std::string& kind, const std::string& text, bool information);
    void JsonLine(const Json& object);
    void EndLine();
    // Writes and flushes `text`, until the stream's reader has gone (EPIPE).
    void Put(std::FILE* out, const std::string& text);
    std::string PortText(const std::string& device) const;

    std::FILE* m_out = stderr;
    bool m_outGone = false;     // m_out's reader has gone
    bool m_stdoutGone = false;  // stdout's reader has gone
    ProgressStyle m_style;
    std::mutex m_mutex;
    bool m_lineOpen = false;
    // After a message box the job is over: the bars' resets to 0 are not shown.
    bool m_barsEnded = false;
    int m_analyseTenth = 0;
    int m_sendTenth = 0;
    std::string m_port;
    std::string m_lineText;
    JobSettings m_settings;
    std::string m_device;
    std::string m_holderHint;  // added to the notice of a silent receiver
    std::uint64_t m_sent = 0;
    std::uint64_t m_total = 0;
    std::chrono::steady_clock::time_point m_sendingSince;
    std::chrono::steady_clock::time_point m_lastDraw;
    Bar m_analyse{*this, "analyse"};
    Bar m_send{*this, "send"};
    MessageSink m_messages{*this};
};

}  // namespace velmora::cli
