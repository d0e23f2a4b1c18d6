// Windows: the text conversions, and the path as the engine opens it. The
// engine opens files with the narrow (code page) functions; a path the code
// page cannot spell is handed over by its short name, which the file system
// keeps in plain ASCII, where the volume has one.
#include <string>

#include "ui/DialogModel.h"
#include "ui/Win32Api.h"

namespace velmora::ui {

std::wstring Wide(std::string_view utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          size);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                          nullptr, nullptr);
    return utf8;
}

namespace {

// The path in the ANSI code page; false when a character had no equivalent.
bool ToCodePage(const std::wstring& wide, std::string& out) {
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, &lossy);
    out.assign(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, &lossy);
    return lossy == FALSE;
}

}  // namespace

std::string EnginePath(const std::string& utf8Path) {
    if (utf8Path.empty()) {
        return {};
    }
    const std::wstring wide = Wide(utf8Path);
    std::string narrow;
    if (ToCodePage(wide, narrow)) {
        return narrow;
    }
    const DWORD size = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        return narrow;  // no short name: the engine reports the file as missing
    }
    std::wstring shortName(size, L'\0');
    const DWORD length = ::GetShortPathNameW(wide.c_str(), shortName.data(), size);
    shortName.resize(length);
    std::string shortNarrow;
    return ToCodePage(shortName, shortNarrow) ? shortNarrow : narrow;
}

}  // namespace velmora::ui
