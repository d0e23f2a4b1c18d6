// Whether stderr is a terminal that can redraw the progress bars in place,
// and how wide it is. Per-OS implementations: terminal_posix.cpp,
// terminal_win32.cpp.
#pragma once

namespace velmora::cli {

// True when stderr is a terminal that understands carriage return and the
// erase-line sequence; on Windows this switches the console's virtual
// terminal processing on.
bool PrepareStderrForBars();

// Columns of the terminal on stderr now (it may have been resized); when
// stderr is no terminal, COLUMNS from the environment (POSIX), else 80.
int StderrColumns();

}  // namespace velmora::cli
