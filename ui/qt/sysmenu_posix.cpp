// Linux and other systems whose window manager owns the window menu: the about
// and settings items go into the dialog's context menu (right click, the Menu
// key or Shift+F10) and reach OnSysCommand like the Windows menu items do.
#include <QAction>

#include "ui/ControlIds.h"
#include "ui/qt/SystemMenu.h"
#include "ui/qt/UpgradeDlg.h"

namespace velmora::ui {

namespace {

QAction* AddItem(CUpgradeDlg& dlg, const QString& text, const QString& name, unsigned command) {
    auto* item = new QAction(text, &dlg);
    item->setObjectName(name);
    QObject::connect(item, &QAction::triggered, &dlg,
                     [&dlg, command] { dlg.OnSysCommand(command, 0); });
    dlg.addAction(item);
    dlg.setContextMenuPolicy(Qt::ActionsContextMenu);
    return item;
}

}  // namespace

void AddSystemMenuItems(CUpgradeDlg& dlg, const QString& aboutText, const QString& settingsText,
                        const QString& stationText) {
    if (!aboutText.isEmpty()) {
        AddItem(dlg, aboutText, QStringLiteral("aboutItem"), IDM_ABOUTBOX);
    }
    if (!settingsText.isEmpty()) {
        AddItem(dlg, settingsText, QStringLiteral("settingsItem"), IDM_SETTINGS)
            ->setCheckable(true);
    }
    if (!stationText.isEmpty()) {
        AddItem(dlg, stationText, QStringLiteral("stationItem"), IDM_STATION);
    }
}

}  // namespace velmora::ui
