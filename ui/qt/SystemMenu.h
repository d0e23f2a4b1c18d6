// The about, "Settings…" and "Station…" items of the Qt dialog. Where the
// window manager owns the window menu, they go into the dialog's context menu
// and reach CUpgradeDlg::OnSysCommand with IDM_ABOUTBOX, IDM_SETTINGS and
// IDM_STATION. (On Windows the native dialog of ui/win32/ puts them into the
// system menu.)
#pragma once

#include <QString>

namespace velmora::ui {

class CUpgradeDlg;

// Adds the about item with `aboutText`, then the settings item, a check mark
// showing whether the settings area is shown, then the station item. An empty
// text leaves its item out; the dialog still opens.
void AddSystemMenuItems(CUpgradeDlg& dlg, const QString& aboutText, const QString& settingsText,
                        const QString& stationText);

}  // namespace velmora::ui
