// <windows.h> for the model's Windows file functions and the Win32 dialog,
// without its min and max macros, and the text conversions between the
// model's UTF-8 and the system's UTF-16.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace velmora::ui {

// (Defined with the model's Windows file functions, path_win32.cpp.)
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace velmora::ui
