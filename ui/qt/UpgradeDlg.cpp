#include "ui/qt/UpgradeDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>
#include <functional>

#include "serial/PortDevice.h"
#include "ui/qt/AboutDlg.h"
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

QString FilterText(const std::vector<FileFilter>& filters) {
    QStringList entries;
    for (const FileFilter& filter : filters) {
        // Qt takes the patterns from the parentheses of the description.
        entries << ToQt(filter.description);
    }
    return entries.join(QStringLiteral(";;"));
}

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
            RunModal(*box);
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
                       ToQt(std::string(kSettingsItemText)));
    setWindowIcon(m_hIcon);
    Widget(ID_OK)->setFocus();
}

CUpgradeDlg::~CUpgradeDlg() {
    EndJob();
}

QWidget* CUpgradeDlg::CreateControl(const ControlTemplate& control) {
    const QString text = ToQt(control.text);
    switch (control.kind) {
        case ControlKind::DefPushButton:
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, this);
            button->setDefault(control.kind == ControlKind::DefPushButton);
            return button;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(text, this);
        case ControlKind::Label:
            return new QLabel(text, this);
        case ControlKind::DropList:
        case ControlKind::DropDownCombo: {
            auto* combo = control.id == IDC_PORT ? new CPortCombo(this) : new QComboBox(this);
            if (control.kind == ControlKind::DropDownCombo) {
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
            }
            for (const std::string& item : DisplayItems(control)) {
                combo->addItem(ToQt(item));
            }
            return combo;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(text, this);
            edit->setReadOnly(control.Has(kReadOnly));
            if (control.Has(kDigitsOnly)) {
                // Typing is limited to digits; a text set by other means is
                // checked when the fields are read.
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), edit));
            }
            return edit;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlKind::Picture:
            return new CBannerPicture(QPixmap(QStringLiteral(":/velmora/banner.png")), this);
        case ControlKind::Icon:
            break;
    }
    return new QLabel(this);
}

void CUpgradeDlg::CreateControls() {
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        QWidget* widget = CreateControl(control);
        QRect place = MapDialogRect(m_units, control.rect);
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            // A closed drop-down list is as high as the font needs; the
            // template's height is that of the opened list.
            const int closed = combo->sizeHint().height();
            const int rows = (place.height() - closed) / std::max(1, combo->fontMetrics().height());
            combo->setMaxVisibleItems(std::max(1, rows));
            place.setHeight(closed);
        }
        widget->setGeometry(place);
        if (control.id != ID_NONE) {
            widget->setObjectName(ControlName(control.id));
        } else if (control.labelFor != 0) {
            widget->setObjectName(LabelName(control.labelFor));
        } else if (control.kind == ControlKind::Picture) {
            widget->setObjectName(QStringLiteral("banner"));
        }
        if (control.kind == ControlKind::GroupBox) {
            widget->lower();  // a frame only: never above the controls it surrounds
        }
        widget->setFocusPolicy(control.Has(kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
        widget->setEnabled(!control.Has(kDisabled));
        widget->setVisible(control.Has(kVisible));
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
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, CaptionText(MessageCaption::Application),
                        ToQt(question), QMessageBox::Yes | QMessageBox::No, this);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    const bool yes = RunModal(*box) == QMessageBox::Yes;
    delete box.data();
    return yes;
}

void CUpgradeDlg::ShowMessage(const MessageRequest& message) {
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, CaptionText(message.caption),
                                                ToQt(message.text), QMessageBox::Ok, this);
    if (!message.detail.empty()) {
        box->setInformativeText(ToQt(message.detail));
    }
    RunModal(*box);
    delete box.data();
}

std::optional<std::string> CUpgradeDlg::ChooseFile(const std::vector<FileFilter>& filters) {
    QPointer<QFileDialog> chooser =
        new QFileDialog(this, QString(), QString(), FilterText(filters));
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed, a channel list (.sdx) among them, even though the
    // filter shows only images.
    chooser->setFileMode(QFileDialog::AnyFile);
    const int result = RunModal(*chooser);
    std::optional<std::string> chosen;
    if (chooser && result == QDialog::Accepted && !chooser->selectedFiles().isEmpty()) {
        chosen = QFileInfo(chooser->selectedFiles().constFirst()).absoluteFilePath().toStdString();
    }
    delete chooser.data();
    return chosen;
}

void CUpgradeDlg::ShowAbout() {
    QPointer<CAboutDlg> about = new CAboutDlg(this);
    RunModal(*about);
    delete about.data();
}

void CUpgradeDlg::CloseOpenBoxes() {
    // Copied: rejecting a box may change the list.
    const QList<QPointer<QDialog>> boxes = m_openBoxes;
    for (const QPointer<QDialog>& box : boxes) {
        if (QDialog* open = box.data(); open != nullptr) {
            open->reject();
        }
    }
}

int CUpgradeDlg::RunModal(QDialog& box) {
    QPointer<CUpgradeDlg> self(this);
    m_openBoxes.append(&box);
    const int result = box.exec();
    if (self) {
        m_openBoxes.removeAll(QPointer<QDialog>(&box));
        m_openBoxes.removeAll(QPointer<QDialog>());
    }
    return result;
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
