// How velmora-cli shows a job: the two progress bars and the message boxes.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "job/JobHost.h"

namespace velmora::cli {

enum class ProgressStyle {
    Bars,   // both bars redrawn in place on a terminal
    Lines,  // one plain line per change, for logs and pipes
    Quiet,  // nothing
};

// Quiet when asked; bars on a terminal that can redraw them; plain lines else.
ProgressStyle ChooseProgressStyle(bool quiet);

// Everything goes to one stream (stderr), from whichever thread reports.
class Console {
public:
    Console(std::FILE* out, ProgressStyle style) : m_out(out), m_style(style) {}
    ~Console() { EndLine(); }

    IProgressBar& AnalyseBar() { return m_analyse; }
    IProgressBar& SendBar() { return m_send; }
    IMessageBox& Messages() { return m_messages; }

    // A line of the program's own (errors, hints), kept apart from the bars.
    void Say(const std::string& text);

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

    void BarChanged(const Bar& bar);
    void DrawBars();
    void EndLine();

    std::FILE* m_out;
    ProgressStyle m_style;
    std::mutex m_mutex;
    bool m_lineOpen = false;
    int m_analyseTenth = 0;
    int m_sendTenth = 0;
    Bar m_analyse{*this, "analyse"};
    Bar m_send{*this, "send"};
    MessageSink m_messages{*this};
};

}  // namespace velmora::cli
