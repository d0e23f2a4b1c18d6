// The about item of the main dialog, in the place each platform offers: on
// Windows the window's system menu (after a separator), elsewhere, where the
// window manager owns that menu, the dialog's context menu. Both reach
// CUpgradeDlg::OnSysCommand with IDM_ABOUTBOX. One implementation per
// platform: sysmenu_win32.cpp, sysmenu_posix.cpp.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace velmora::ui {

class CUpgradeDlg;

// Adds the item with `text`. Does nothing when `text` is empty or the menu
// cannot be had; the dialog still opens.
void AddAboutItem(CUpgradeDlg& dlg, const QString& text);

// Gives a native system command to dlg.OnSysCommand. True when it was handled
// there, so the system's default handling must not follow.
bool RouteSystemCommand(CUpgradeDlg& dlg, const QByteArray& eventType, void* message,
                        qintptr* result);

}  // namespace velmora::ui
