// Windows: the about item is appended to the window's own system menu after a
// separator; WM_SYSCOMMAND with its id goes to OnSysCommand, every other
// system command to the system's default handling.
#include "ui/ControlIds.h"
#include "ui/SystemMenu.h"
#include "ui/UpgradeDlg.h"

#include <string>

// Last, and without its min and max macros, so that it changes no other header.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace velmora::ui {

void AddAboutItem(CUpgradeDlg& dlg, const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(dlg.winId()), FALSE);
    if (menu == nullptr) {
        return;
    }
    const std::wstring item = text.toStdWString();
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, item.c_str());
}

bool RouteSystemCommand(CUpgradeDlg& dlg, const QByteArray& eventType, void* message,
                        qintptr* result) {
    if (eventType != "windows_generic_MSG" || message == nullptr) {
        return false;
    }
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_SYSCOMMAND) {
        return false;
    }
    if (!dlg.OnSysCommand(static_cast<unsigned>(msg->wParam),
                          static_cast<std::intptr_t>(msg->lParam))) {
        return false;
    }
    *result = 0;
    return true;
}

}  // namespace velmora::ui
