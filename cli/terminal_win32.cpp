#include <windows.h>

#include <cstdlib>

#include "cli/Terminal.h"

namespace velmora::cli {

namespace {

UINT g_previousOutputCodePage = 0;

void RestoreOutputCodePage() {
    SetConsoleOutputCP(g_previousOutputCodePage);
}

}  // namespace

void PrepareConsoleForUtf8() {
    const UINT previous = GetConsoleOutputCP();  // 0 without a console
    if (previous == 0 || previous == CP_UTF8 || SetConsoleOutputCP(CP_UTF8) == 0) {
        return;
    }
    // The console window outlives the program: give it back its code page.
    g_previousOutputCodePage = previous;
    std::atexit(RestoreOutputCodePage);
}

bool PrepareStderrForBars() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || err == nullptr || GetConsoleMode(err, &mode) == 0) {
        return false;  // redirected to a file or a pipe
    }
    // Consoles older than Windows 10 do not take the sequences: plain lines then.
    return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) != 0) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return columns;
        }
    }
    return 80;
}

}  // namespace velmora::cli
