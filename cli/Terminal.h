// Whether stderr is a terminal that can redraw the progress bars in place,
// and how wide it is; and a console that shows the program's UTF-8 text. Per-OS implementations:
// terminal_posix.cpp, terminal_win32.cpp.
#pragma once

namespace velmora::cli {

// Makes the console show UTF-8 text as such (satellite and channel names,
// file names). Windows consoles start in a legacy code page, so their output
// code page becomes UTF-8 until the program ends; elsewhere nothing changes.
void PrepareConsoleForUtf8();

// True when stderr is a terminal that understands carriage return and the
// erase-line sequence; on Windows this switches the console's virtual
// terminal processing on.
bool PrepareStderrForBars();

// Columns of the terminal on stderr now (it may have been resized); when
// stderr is no terminal, COLUMNS from the environment (POSIX), else 80.
int StderrColumns();

}  // namespace velmora::cli
