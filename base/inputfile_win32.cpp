#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "base/InputFile.h"
#include "serial/win32_text.h"

namespace velmora {

namespace {

bool IdentityOfHandle(HANDLE handle, FileIdentity& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    out.device = info.dwVolumeSerialNumber;
    out.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
    return true;
}

}  // namespace

bool InputFile::HandleIdentity(FileIdentity& out) const {
    if (m_file == nullptr) {
        return false;
    }
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(m_file)));
    return IdentityOfHandle(handle, out);
}

bool InputFile::PathIdentity(const std::string& path, FileIdentity& out) {
    // No access asked: only the file's information is read.
    HANDLE handle =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = IdentityOfHandle(handle, out);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    return ok;
}

bool InputFile::Open(const std::string& path) {
    Close();
    // Shared with every other user, as a file class opens with share-deny-none.
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = Win32ErrorText(::GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &size)) {
        m_error = kNotRegularFile;
        ::CloseHandle(handle);
        return false;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        m_error = "the system could not hand over the open file";
        ::CloseHandle(handle);
        return false;
    }
    m_file = ::_fdopen(fd, "rb");
    if (m_file == nullptr) {
        m_error = "the system could not hand over the open file";
        ::_close(fd);
        return false;
    }
    m_length = static_cast<std::uint64_t>(size.QuadPart);
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    return true;
}

}  // namespace velmora
