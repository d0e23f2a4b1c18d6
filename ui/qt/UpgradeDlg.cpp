#include "ui/qt/UpgradeDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QUrl>

#include <functional>

#include "serial/PortDevice.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/StationDlg.h"
#include "ui/qt/SystemMenu.h"

namespace velmora::ui {

namespace {

// The banner: a picture control that shows its bitmap scaled into the
// control's rectangle, keeping the bitmap's proportions.
class CBannerPicture final : public QWidget {
public:
    CBannerPicture(const QPixmap& banner, QWidget* parent) : QWidget(parent), m_banner(banner) {}

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        if (m_banner.isNull()) {
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize fitted = m_banner.size().scaled(size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), fitted);
        target.moveCenter(rect().center());
        painter.drawPixmap(target, m_banner);
    }

private:
    QPixmap m_banner;
};

// The Port list, which reads the ports again each time it drops down.
class CPortCombo final : public QComboBox {
public:
    explicit CPortCombo(QWidget* parent) : QComboBox(parent) {}
    std::function<void()> aboutToDropDown;

    void showPopup() override {
        if (aboutToDropDown) {
            aboutToDropDown();
        }
        QComboBox::showPopup();
    }
};

}  // namespace

CUpgradeDlg::CUpgradeDlg(QWidget* parent, std::unique_ptr<IPortDevice> device) : QDialog(parent) {
    const DialogTemplate& dlg = MainDialogTemplate();
    setObjectName(QStringLiteral("UpgradeDlg"));
    setWindowTitle(ToQt(dlg.caption));
    // Caption bar, system menu and close box; no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    m_hIcon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
    m_hIcon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
    m_units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(m_units, dlg.cx, dlg.cy));
    setAcceptDrops(true);

    CreateControls();

    m_calls = new CUiCallQueue(this);
    m_analyseBar = new CUiProgressBar(*m_calls, *m_ctrlAnalyseProgress, this);
    m_sendBar = new CUiProgressBar(*m_calls, *m_ctrlSendProgress, this);
    m_messages = std::make_unique<CUiMessageBox>(
        *m_calls, [this](const QString& text, const QString& caption) {
            QPointer<QMessageBox> box =
                new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
            m_boxes.Run(*box);
            delete box.data();
        });
    IDialogView& view = *this;
    m_model = std::make_unique<CUpgradeDlgModel>(
        view, ViewJobLink{m_calls->Core(), *m_analyseBar, *m_sendBar, *m_messages},
        std::move(device));
    auto* port = static_cast<CPortCombo*>(Combo(IDC_PORT));
    port->aboutToDropDown = [this] { m_model->RefreshPorts(); };
    // Each entry's tooltip names the device it stands for.
    connect(port, &QComboBox::currentIndexChanged, port, [port](int index) {
        port->setToolTip(port->itemData(index, Qt::ToolTipRole).toString());
    });

    // The lists hold their items; now the members go into the controls.
    m_model->OnInitDialog();
    AddSystemMenuItems(*this, ToQt(std::string(kAboutItemText)),
                       ToQt(std::string(kSettingsItemText)), ToQt(std::string(kStationItemText)));
    setWindowIcon(m_hIcon);
    Widget(ID_OK)->setFocus();
}

CUpgradeDlg::~CUpgradeDlg() {
    EndJob();
}

QWidget* CUpgradeDlg::CreateControl(const ControlTemplate& control) {
    if (control.id == IDC_PORT) {
        auto* combo = new CPortCombo(this);
        for (const std::string& item : DisplayItems(control)) {
            combo->addItem(ToQt(item));
        }
        return combo;
    }
    if (control.kind == ControlKind::Picture) {
        return new CBannerPicture(QPixmap(QStringLiteral(":/velmora/banner.png")), this);
    }
    QWidget* widget = CreateTemplateControl(control, this);
    return widget != nullptr ? widget : new QLabel(this);
}

void CUpgradeDlg::CreateControls() {
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        QWidget* widget = CreateControl(control);
        PlaceTemplateControl(*widget, control, m_units);
        if (control.kind == ControlKind::Picture) {
            widget->setObjectName(QStringLiteral("banner"));
        }
    }
    m_ctrlSendProgress = findChild<QProgressBar*>(ControlName(IDC_SENDPROGRESS));
    m_ctrlAnalyseProgress = findChild<QProgressBar*>(ControlName(IDC_ANALYSEPROGRESS));
    connect(findChild<QPushButton*>(ControlName(ID_OK)), &QPushButton::clicked, this,
            &CUpgradeDlg::OnStart);
    connect(findChild<QPushButton*>(ControlName(ID_CANCEL)), &QPushButton::clicked, this,
            &CUpgradeDlg::reject);
    connect(findChild<QPushButton*>(ControlName(IDC_SELECTFILE)), &QPushButton::clicked, this,
            &CUpgradeDlg::OnSelectFile);
    connect(Combo(IDC_UPGRADETYPE), &QComboBox::activated, this,
            &CUpgradeDlg::OnSelchangeUpgradeType);
}

void CUpgradeDlg::OnSelchangeUpgradeType(int index) {
    m_model->OnSelchangeUpgradeType(Combo(IDC_UPGRADETYPE)->itemText(index).toStdString());
}

void CUpgradeDlg::TakeFile(const QString& path) {
    if (!path.isEmpty()) {
        m_model->TakeFile(QFileInfo(path).absoluteFilePath().toStdString());
    }
}

void CUpgradeDlg::accept() {
    // OK transfers the controls and leaves the dialog open.
    m_model->OnOK();
}

void CUpgradeDlg::reject() {
    if (m_model->ConfirmClose()) {
        QDialog::reject();
    }
}

void CUpgradeDlg::done(int result) {
    EndJob();
    QDialog::done(result);
}

QWidget* CUpgradeDlg::Widget(int id) const {
    return findChild<QWidget*>(ControlName(id));
}

QComboBox* CUpgradeDlg::Combo(int id) const {
    return findChild<QComboBox*>(ControlName(id));
}

QLineEdit* CUpgradeDlg::Edit(int id) const {
    return findChild<QLineEdit*>(ControlName(id));
}

std::string CUpgradeDlg::ControlText(int id) {
    if (QComboBox* combo = Combo(id)) {
        return combo->currentText().toStdString();
    }
    if (auto* label = findChild<QLabel*>(ControlName(id))) {
        return label->text().toStdString();
    }
    QLineEdit* edit = Edit(id);
    return edit != nullptr ? edit->text().toStdString() : std::string();
}

void CUpgradeDlg::SetControlText(int id, const std::string& text) {
    if (QComboBox* combo = Combo(id)) {
        combo->setEditText(ToQt(text));
    } else if (QLineEdit* edit = Edit(id)) {
        edit->setText(ToQt(text));
    } else if (auto* label = findChild<QLabel*>(ControlName(id))) {
        label->setText(ToQt(text));
    }
}

int CUpgradeDlg::ItemCount(int id) {
    QComboBox* combo = Combo(id);
    return combo != nullptr ? combo->count() : 0;
}

std::string CUpgradeDlg::ItemText(int id, int index) {
    return Combo(id)->itemText(index).toStdString();
}

void CUpgradeDlg::SelectItem(int id, int index) {
    Combo(id)->setCurrentIndex(index);
}

void CUpgradeDlg::SetItems(int id, const std::vector<ListItem>& items) {
    QComboBox* combo = Combo(id);
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const ListItem& item : items) {
        combo->addItem(ToQt(item.text));
        combo->setItemData(combo->count() - 1, ToQt(item.tip), Qt::ToolTipRole);
    }
    combo->setCurrentIndex(-1);
}

void CUpgradeDlg::EnableControl(int id, bool enable) {
    Widget(id)->setEnabled(enable);
}

void CUpgradeDlg::ShowControl(int id, bool show) {
    Widget(id)->setVisible(show);
    if (QWidget* label = findChild<QWidget*>(LabelName(id))) {
        label->setVisible(show);
    }
}

void CUpgradeDlg::FocusControl(int id) {
    Widget(id)->setFocus();
    if (QLineEdit* edit = Edit(id)) {
        edit->selectAll();
    }
}

bool CUpgradeDlg::HasFocus(int id) {
    // The window's own focus widget: the one that gets the keys once the
    // window is active, whether or not it is active now.
    QWidget* widget = Widget(id);
    return widget != nullptr && focusWidget() == widget;
}

void CUpgradeDlg::ResizeDialog(int cx, int cy) {
    setFixedSize(MapDialogSize(m_units, cx, cy));
}

void CUpgradeDlg::CheckSysMenuItem(unsigned command, bool checked) {
    if (command == IDM_SETTINGS) {
        if (auto* item = findChild<QAction*>(QStringLiteral("settingsItem"))) {
            item->setChecked(checked);
        }
    }
}

bool CUpgradeDlg::AskYesNo(const std::string& question) {
    return m_boxes.YesNo(question);
}

void CUpgradeDlg::ShowMessage(const MessageRequest& message) {
    m_boxes.Message(message);
}

std::optional<std::string> CUpgradeDlg::ChooseFile(const std::vector<FileFilter>& filters) {
    return m_boxes.OpenFile(filters);
}

void CUpgradeDlg::ShowAbout() {
    QPointer<CAboutDlg> about = new CAboutDlg(this);
    m_boxes.Run(*about);
    delete about.data();
}

void CUpgradeDlg::OpenStation(const StationChoices& choices) {
    QPointer<CStationDlg> station = new CStationDlg(choices, this);
    m_boxes.Run(*station);
    delete station.data();
}

void CUpgradeDlg::CloseOpenBoxes() {
    m_boxes.CloseAll();
}

void CUpgradeDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        m_model->Reopen();
        if (!m_initialised) {
            m_initialised = true;
            CentreOnScreen(*this);
        }
    }
}

void CUpgradeDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.constFirst().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CUpgradeDlg::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.constFirst().isLocalFile()) {
        TakeFile(urls.constFirst().toLocalFile());
        event->acceptProposedAction();
    }
}

}  // namespace velmora::ui
