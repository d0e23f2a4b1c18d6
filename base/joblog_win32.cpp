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

}  // namespace

bool AppendLineToFile(const std::string& path, const std::string& line, std::string& error) {
    MakeParentFolders(path);
    // Append access for the writes (each goes to the end of the file); read
    // access only because the lock below needs it.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Win32ErrorText(::GetLastError());
        return false;
    }
    // Writers take turns, in this process and in others: an append alone is
    // not one piece on every file system (nor under Wine).
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = Win32ErrorText(::GetLastError());
        ::CloseHandle(file);
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    const DWORD code = ::GetLastError();
    ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
    if (!ok) {
        error = Win32ErrorText(code);
        return false;
    }
    if (written != line.size()) {
        error = "the line was not written whole (is the disk full?)";
        return false;
    }
    return true;
}

std::string DefaultJobLogPath() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') {
        return {};
    }
    return std::string(local) + "\\Velmora\\jobs.jsonl";
}

}  // namespace velmora
