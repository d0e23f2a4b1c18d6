#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first
#include <aclapi.h>

#include "serial/win32_text.h"
#include "shop/ShopPlatform.h"

namespace velmora::shop {

namespace {

// True when the access entry lets a group of many users read the file:
// Everyone, Authenticated Users, Users, Guests or anonymous logons.
bool LetsManyRead(const ACE_HEADER* header) {
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        return false;
    }
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) == 0) {
        return false;
    }
    const auto sid = const_cast<PSID>(static_cast<const void*>(&ace->SidStart));
    for (const WELL_KNOWN_SID_TYPE many : {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                           WinBuiltinGuestsSid, WinAnonymousSid}) {
        if (::IsWellKnownSid(sid, many)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string HostName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) {
        return {};
    }
    return name;
}

std::string PrivateFileProblem(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc =
        ::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor);
    if (rc != ERROR_SUCCESS) {
        return "The connection file " + path + " cannot be read: " + Win32ErrorText(rc);
    }
    // No access list at all lets everyone in.
    bool open = dacl == nullptr;
    for (DWORD i = 0; !open && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        open = ::GetAce(dacl, i, &ace) && LetsManyRead(static_cast<ACE_HEADER*>(ace));
    }
    ::LocalFree(descriptor);
    if (open) {
        return "The connection file " + path +
               " can be read by other users of this PC, and it may hold a password. Let only "
               "yourself read it (icacls \"" +
               path + "\" /inheritance:r /grant:r \"%USERNAME%:F\"), then run the command again.";
    }
    return {};
}

std::tm LocalCivilTime(std::time_t when) {
    std::tm civil{};
    ::localtime_s(&civil, &when);
    return civil;
}

}  // namespace velmora::shop
