#include "ui/qt/AboutDlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

namespace velmora::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& dlg = AboutDialogTemplate();
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(ToQt(dlg.caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    m_units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(m_units, dlg.cx, dlg.cy));

    for (const ControlTemplate& control : dlg.controls) {
        const QRect place = MapDialogRect(m_units, control.rect);
        if (control.kind == ControlKind::Icon) {
            auto* icon = new QLabel(this);
            icon->setObjectName(QStringLiteral("aboutIcon"));
            icon->setGeometry(place);
            QIcon appIcon;
            appIcon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
            appIcon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
            icon->setPixmap(appIcon.pixmap(QSize(32, 32)));
            icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        } else if (control.kind == ControlKind::DefPushButton) {
            auto* ok = new QPushButton(ToQt(control.text), this);
            ok->setObjectName(ControlName(control.id));
            ok->setGeometry(place);
            ok->setDefault(true);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            ok->setFocus();
        } else {
            auto* label = new QLabel(ToQt(control.text), this);
            label->setGeometry(place);
        }
    }
}

void CAboutDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && parentWidget() != nullptr) {
        // Centred over the main dialog.
        QRect frame = frameGeometry();
        frame.moveCenter(parentWidget()->window()->frameGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace velmora::ui
