#include "ui/AboutDlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "ui/ControlIds.h"

namespace velmora::ui {

namespace {
constexpr int kAboutWidth = 235;
constexpr int kAboutHeight = 55;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("Velmora (Ver1.0a)"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    m_units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(m_units, kAboutWidth, kAboutHeight));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    const QRect iconRect = MapDialogRect(m_units, 11, 17, 20, 20);
    icon->setGeometry(iconRect);
    QIcon appIcon;
    appIcon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
    appIcon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
    icon->setPixmap(appIcon.pixmap(QSize(32, 32)));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* name = new QLabel(QStringLiteral("Velmora (Ver1.0a)"), this);
    name->setGeometry(MapDialogRect(m_units, 40, 10, 119, 8));
    auto* line2 = new QLabel(QStringLiteral("Receiver upgrade over the serial line"), this);
    line2->setGeometry(MapDialogRect(m_units, 40, 25, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("\uD655\uC778"), this);  // 확인
    ok->setObjectName(ControlName(ID_OK));
    ok->setGeometry(MapDialogRect(m_units, 178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
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
