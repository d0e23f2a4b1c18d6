// The about item of the Qt dialog. Where the window manager owns the window
// menu, the item goes into the dialog's context menu and reaches
// CUpgradeDlg::OnSysCommand with IDM_ABOUTBOX. (On Windows the native dialog
// of ui/win32/ puts it into the system menu.)
#pragma once

#include <QString>

namespace velmora::ui {

class CUpgradeDlg;

// Adds the item with `text`. Does nothing when `text` is empty or the menu
// cannot be had; the dialog still opens.
void AddAboutItem(CUpgradeDlg& dlg, const QString& text);

}  // namespace velmora::ui
