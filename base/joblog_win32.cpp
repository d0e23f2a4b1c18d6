#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "base/JobLog.h"
#include "serial/win32_text.h"

namespace velmora {

namespace {

// Creates every missing folder above the file at `path`. Drives, shares and
// folders that cannot be made are passed over: opening the file then says why.
void MakeParentFolders(const std::string& path) {
    for (std::size_t sep = path.find_first_of("\\/", 1); sep != std::string::npos;
         sep = path.find_first_of("\\/", sep + 1)) {
        ::CreateDirectoryA(path.substr(0, sep).c_str(), nullptr);
    }
}

// Writes `line` at the end of the locked file. A line cut short (a full
// disk) is taken back, so that the next one starts on a line of its own.
bool AppendAtEnd(HANDLE file, const std::string& line, std::string& error) {
    LARGE_INTEGER before{};
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &before, FILE_END)) {
        error = Win32ErrorText(::GetLastError());
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    const DWORD code = ::GetLastError();
    if (ok && written == line.size()) {
        return true;
    }
    const std::string why =
        !ok ? Win32ErrorText(code) : "the line was not written whole (is the disk full?)";
    if (written == 0) {
        error = why;
        return false;
    }
    const bool takenBack =
        ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    error = CutLineText(why, takenBack);
    return false;
}

}  // namespace

bool AppendLineToFile(const std::string& path, const std::string& line, std::string& error) {
    MakeParentFolders(path);
    // Write access for the writes and for taking a cut line back; read
    // access only because the lock below needs it. A pipe with no server
    // fails here at once, never waits.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE | GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Win32ErrorText(::GetLastError());
        return false;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        error = kNotPlainLog;
        return false;
    }
    // Writers take turns, in this process and in others: an append alone is
    // not one piece on every file system (nor under Wine). Under the lock the
    // end of the file is where this line begins.
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = Win32ErrorText(::GetLastError());
        ::CloseHandle(file);
        return false;
    }
    const bool written = AppendAtEnd(file, line, error);
    ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
    return written;
}

std::string DefaultJobLogPath() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') {
        return {};
    }
    return std::string(local) + "\\Velmora\\jobs.jsonl";
}

}  // namespace velmora
