// Whether stderr is a terminal that can redraw the progress bars in place.
// Per-OS implementations: terminal_posix.cpp, terminal_win32.cpp.
#pragma once

namespace velmora::cli {

// True when stderr is a terminal that understands carriage return and the
// erase-line sequence; on Windows this switches the console's virtual
// terminal processing on.
bool PrepareStderrForBars();

}  // namespace velmora::cli
