#include "cli/Console.h"

#include <algorithm>

#include "cli/Terminal.h"

namespace velmora::cli {

ProgressStyle ChooseProgressStyle(bool quiet) {
    if (quiet) {
        return ProgressStyle::Quiet;
    }
    return PrepareStderrForBars() ? ProgressStyle::Bars : ProgressStyle::Lines;
}

void Console::Bar::SetRange(int lower, int upper) {
    std::lock_guard lock(m_console.m_mutex);
    m_lower = lower;
    m_upper = upper;
}

void Console::Bar::SetPos(int pos) {
    std::lock_guard lock(m_console.m_mutex);
    if (pos == m_pos) {
        return;
    }
    m_pos = pos;
    m_console.BarChanged(*this);
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
    m_console.EndLine();
    std::fputs(text.c_str(), m_console.m_out);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', m_console.m_out);
    }
    std::fflush(m_console.m_out);
}

void Console::Say(const std::string& text) {
    std::lock_guard lock(m_mutex);
    EndLine();
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

void Console::BarChanged(const Bar& bar) {
    switch (m_style) {
        case ProgressStyle::Quiet:
            return;
        case ProgressStyle::Lines: {
            // One line per tenth, so that logs stay readable.
            const int tenth = bar.Percent() / 10;
            int& last = &bar == &m_analyse ? m_analyseTenth : m_sendTenth;
            if (tenth != last) {
                last = tenth;
                std::fprintf(m_out, "%s %d%%\n", bar.Name(), bar.Percent());
                std::fflush(m_out);
            }
            return;
        }
        case ProgressStyle::Bars:
            DrawBars();
            return;
    }
}

void Console::DrawBars() {
    constexpr int kWidth = 24;
    auto draw = [this](const Bar& bar) {
        const int filled = bar.Percent() * kWidth / 100;
        std::fprintf(m_out, "%s [", bar.Name());
        for (int i = 0; i < kWidth; ++i) {
            std::fputc(i < filled ? '#' : '.', m_out);
        }
        std::fprintf(m_out, "] %3d%%", bar.Percent());
    };
    std::fputs("\r\033[K", m_out);
    draw(m_analyse);
    std::fputs("   ", m_out);
    draw(m_send);
    std::fflush(m_out);
    m_lineOpen = true;
}

void Console::EndLine() {
    if (m_lineOpen) {
        std::fputc('\n', m_out);
        m_lineOpen = false;
    }
}

}  // namespace velmora::cli
