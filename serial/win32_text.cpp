#include "serial/win32_text.h"

#include <windows.h>

namespace velmora {

std::string Win32ErrorText(unsigned long error) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out;
    if (n != 0 && text != nullptr) {
        out.assign(text, n);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' ||
                                out.back() == '.')) {
            out.pop_back();
        }
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    if (out.empty()) {
        out = "system error";
    }
    return out + " (error " + std::to_string(error) + ")";
}

}  // namespace velmora
