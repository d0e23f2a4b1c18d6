// Linux and other systems whose window manager owns the window menu: the about
// item goes into the dialog's context menu (right click, the Menu key or
// Shift+F10) and reaches OnSysCommand like the Windows menu item does.
#include <QAction>

#include "ui/ControlIds.h"
#include "ui/qt/SystemMenu.h"
#include "ui/qt/UpgradeDlg.h"

namespace velmora::ui {

void AddAboutItem(CUpgradeDlg& dlg, const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    auto* about = new QAction(text, &dlg);
    about->setObjectName(QStringLiteral("aboutItem"));
    QObject::connect(about, &QAction::triggered, &dlg,
                     [&dlg] { dlg.OnSysCommand(IDM_ABOUTBOX, 0); });
    dlg.addAction(about);
    dlg.setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace velmora::ui
