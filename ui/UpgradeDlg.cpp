#include "ui/UpgradeDlg.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
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
#include <QUrl>

#include <limits>
#include <optional>

#include "serial/PortDevice.h"
#include "ui/AboutDlg.h"
#include "ui/ControlIds.h"
#include "ui/SystemMenu.h"

namespace velmora::ui {

namespace {

const QString kCaption = QStringLiteral("Velmora (Ver1.0a)");
// The system-menu item (string 101).
const QString kAboutItemText = QStringLiteral("Velmora \uC815\uBCF4(&A)...");  // 정보
const QString kBinFilter = QStringLiteral("BIN File(*.bin)");

// Template size of the main dialog, in dialog units.
constexpr int kDialogWidth = 229;
constexpr int kDialogHeight = 206;

struct DluRect {
    int x, y, cx, cy;
};

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

// A hidden control and its hidden label, in the order of the template.
struct HiddenControl {
    int id;
    const char* label;
    enum Kind { DropList, Combo, Edit, Digits } kind;
    bool sorted;
    bool enabled;
    QStringList items;  // in the order of the initialisation data
};

const QList<HiddenControl>& HiddenControls() {
    static const QList<HiddenControl> controls = {
        {IDC_BAUDRATE,
         "Baud Rate:",
         HiddenControl::DropList,
         false,
         false,
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
          "57600", "115200", "128000", "256000"}},
        {IDC_PARITY, "Parity:", HiddenControl::DropList, true, false, {"NONE", "EVEN", "ODD"}},
        {IDC_DATABITS, "Data Bits:", HiddenControl::DropList, true, false, {"5", "6", "7", "8"}},
        {IDC_STOPBITS, "Stop Bits:", HiddenControl::DropList, true, false, {"1", "1.5", "2"}},
        {IDC_UPGRADETYPE,
         "Upgrade Type:",
         HiddenControl::Combo,
         true,
         true,
         {"Code", "Database", "Custom", "Db Import/Export"}},
        {IDC_OFFSET, "Offset:", HiddenControl::Edit, false, false, {}},
        {IDC_MODELNO, "Model No.:", HiddenControl::Combo, true, true, {"ZT4400VBOX"}},
        {IDC_PROJECTNAME, "Project Name:", HiddenControl::Combo, true, true, {"DVB-S", "DVB-S+T"}},
        {IDC_MAXSAT, "Max Sat No.:", HiddenControl::Digits, false, false, {}},
        {IDC_MAXTP, "Max TP No.:", HiddenControl::Digits, false, false, {}},
        {IDC_DBSIZE, "Db Size:", HiddenControl::Digits, false, false, {}},
        {IDC_MAXTV, "Max TV No.:", HiddenControl::Digits, false, false, {}},
        {IDC_MAXRADIO, "Max Radio No.:", HiddenControl::Digits, false, false, {}},
        {IDC_LNBCHIGH, "LNB-C High:", HiddenControl::Digits, false, false, {}},
        {IDC_LNBCLOW, "LNB-C Low:", HiddenControl::Digits, false, false, {}},
        {IDC_LNBKUHIGH, "LNB-Ku High:", HiddenControl::Digits, false, false, {}},
        {IDC_LNBKULOW, "LNB-Ku Low:", HiddenControl::Digits, false, false, {}},
    };
    return controls;
}

// The ten fields that only types other than "Code" use.
constexpr int kTypeDependentFields[] = {IDC_OFFSET,    IDC_MAXSAT,   IDC_MAXTP,    IDC_DBSIZE,
                                        IDC_MAXTV,     IDC_MAXRADIO, IDC_LNBCHIGH, IDC_LNBCLOW,
                                        IDC_LNBKUHIGH, IDC_LNBKULOW};

// A decimal number as a number field takes it: blanks around, an optional
// sign, digits, and nothing else; it must fit 32 bits.
std::optional<std::int32_t> ParseNumberField(const QString& text) {
    const QString trimmed = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed[i] == u'-' || trimmed[i] == u'+')) {
        negative = trimmed[i] == u'-';
        ++i;
    }
    if (i == trimmed.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < trimmed.size(); ++i) {
        const char16_t ch = trimmed[i].unicode();
        if (ch < u'0' || ch > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (ch - u'0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

QString LabelText(int id) {
    for (const HiddenControl& control : HiddenControls()) {
        if (control.id == id) {
            QString label = QString::fromLatin1(control.label);
            label.chop(1);  // the colon
            return label;
        }
    }
    return ControlName(id);
}

}  // namespace

CUpgradeDlg::CUpgradeDlg(QWidget* parent, std::unique_ptr<IPortDevice> device)
    : QDialog(parent),
      m_strBaudRate(QStringLiteral("115200")),
      m_strDataBits(QStringLiteral("8")),
      m_strParity(QStringLiteral("NONE")),
      m_strPort(QStringLiteral("COM1")),
      m_strStopBits(QStringLiteral("1")),
      m_strUpgradeType(QStringLiteral("Code")),
      m_strOffset(QStringLiteral("1b0000")),
      m_strModelNo(QStringLiteral("ZT4400VBOX")),
      m_strProjectName(QStringLiteral("DVB-S")),
      m_nMaxTv(500),
      m_nMaxTp(512),
      m_nMaxRadio(1),
      m_lDbSize(65535),
      m_nLnbCHigh(5150),
      m_nLnbCLow(5150),
      m_nLnbKuHigh(10600),
      m_nLnbKuLow(9750),
      m_nMaxSat(32) {
    setObjectName(QStringLiteral("UpgradeDlg"));
    setWindowTitle(kCaption);
    // Caption bar, system menu and close box; no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    m_hIcon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
    m_hIcon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
    m_units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(m_units, kDialogWidth, kDialogHeight));
    setAcceptDrops(true);

    CreateControls();

    m_calls = new CUiCallQueue(this);
    m_analyseBar = new CUiProgressBar(*m_calls, *m_ctrlAnalyseProgress, this);
    m_sendBar = new CUiProgressBar(*m_calls, *m_ctrlSendProgress, this);
    m_messages = std::make_unique<CUiMessageBox>(
        *m_calls,
        [this](const QString& text, const QString& caption) { ShowMessage(text, caption); });
    m_controller = std::make_unique<CUpgradeController>(*m_analyseBar, *m_sendBar, *m_messages,
                                                        std::move(device));

    OnInitDialog();
}

CUpgradeDlg::~CUpgradeDlg() {
    EndJob();
}

QComboBox* CUpgradeDlg::Combo(int id) const {
    return findChild<QComboBox*>(ControlName(id));
}

QLineEdit* CUpgradeDlg::Edit(int id) const {
    return findChild<QLineEdit*>(ControlName(id));
}

void CUpgradeDlg::CreateControls() {
    auto place = [this](QWidget* widget, const DluRect& r) {
        widget->setGeometry(MapDialogRect(m_units, r.x, r.y, r.cx, r.cy));
    };
    auto named = [](QWidget* widget, int id) {
        widget->setObjectName(ControlName(id));
        return widget;
    };
    auto group = [this, &place](const QString& text, const DluRect& r) {
        auto* box = new QGroupBox(text, this);
        place(box, r);
        box->lower();  // a frame only: never above the controls it surrounds
        return box;
    };
    // A closed drop-down list is as high as the font needs; the template's
    // height is that of the opened list.
    auto placeCombo = [this](QComboBox* combo, const DluRect& r) {
        const QRect full = MapDialogRect(m_units, r.x, r.y, r.cx, r.cy);
        const int closed = combo->sizeHint().height();
        combo->setGeometry(full.x(), full.y(), full.width(), closed);
        const int rows = (full.height() - closed) / std::max(1, combo->fontMetrics().height());
        combo->setMaxVisibleItems(std::max(1, rows));
    };

    // Visible controls, in tab order.
    auto* start = new QPushButton(QStringLiteral("&Start"), this);
    named(start, ID_OK);
    place(start, {162, 103, 54, 19});
    start->setDefault(true);
    connect(start, &QPushButton::clicked, this, &CUpgradeDlg::OnStart);

    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    named(cancel, ID_CANCEL);
    place(cancel, {162, 126, 54, 19});
    connect(cancel, &QPushButton::clicked, this, &CUpgradeDlg::reject);

    group(QStringLiteral("Comm Setting"), {7, 104, 145, 39});
    auto* portLabel = new QLabel(QStringLiteral("Port:"), this);
    place(portLabel, {26, 121, 27, 10});

    auto* port = new QComboBox(this);
    named(port, IDC_PORT);
    FillList(*port, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}, true);
    // Next to each name, the device it stands for on this system.
    for (int i = 0; i < port->count(); ++i) {
        const QString name = port->itemText(i);
        const int number = name.right(1).toInt();
        const QString device = QString::fromStdString(ResolvePortName(number));
        port->setItemData(i, name + QStringLiteral(": ") + device, Qt::ToolTipRole);
    }
    auto showPortDevice = [port](int index) {
        port->setToolTip(port->itemData(index, Qt::ToolTipRole).toString());
    };
    connect(port, &QComboBox::currentIndexChanged, port, showPortDevice);
    showPortDevice(port->currentIndex());
    placeCombo(port, {81, 120, 62, 62});

    group(QStringLiteral("Software"), {7, 61, 215, 38});
    auto* file = new QLineEdit(this);
    named(file, IDC_FILEPATH);
    file->setReadOnly(true);
    place(file, {11, 74, 146, 19});

    auto* select = new QPushButton(QStringLiteral("S&elect File"), this);
    named(select, IDC_SELECTFILE);
    place(select, {162, 74, 54, 19});
    connect(select, &QPushButton::clicked, this, &CUpgradeDlg::OnSelectFile);

    m_ctrlSendProgress = new QProgressBar(this);
    named(m_ctrlSendProgress, IDC_SENDPROGRESS);
    place(m_ctrlSendProgress, {10, 187, 207, 7});
    group(QStringLiteral("Data Send Progress"), {7, 175, 215, 24});

    m_ctrlAnalyseProgress = new QProgressBar(this);
    named(m_ctrlAnalyseProgress, IDC_ANALYSEPROGRESS);
    place(m_ctrlAnalyseProgress, {10, 159, 207, 7});
    group(QStringLiteral("Data analyse Progress"), {7, 147, 215, 24});

    for (QProgressBar* bar : {m_ctrlSendProgress, m_ctrlAnalyseProgress}) {
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
    }

    auto* banner = new CBannerPicture(QPixmap(QStringLiteral(":/velmora/banner.png")), this);
    banner->setObjectName(QStringLiteral("banner"));
    place(banner, {17, 7, 194, 43});

    for (QWidget* w : std::initializer_list<QWidget*>{start, cancel, port, file, select}) {
        w->setFocusPolicy(Qt::StrongFocus);
    }
    setTabOrder(start, cancel);
    setTabOrder(cancel, port);
    setTabOrder(port, file);
    setTabOrder(file, select);

    // Hidden controls, each behind its hidden label. They are never shown, so
    // they sit below the dialog's client area in two columns.
    int row = 0;
    for (const HiddenControl& entry : HiddenControls()) {
        const int column = row % 2;
        const int y = kDialogHeight + 4 + (row / 2) * 14;
        const int x = 7 + column * 110;
        auto* label = new QLabel(QString::fromLatin1(entry.label), this);
        label->setObjectName(LabelName(entry.id));
        place(label, {x, y + 2, 50, 8});
        label->hide();

        QWidget* control = nullptr;
        if (entry.kind == HiddenControl::DropList || entry.kind == HiddenControl::Combo) {
            auto* combo = new QComboBox(this);
            if (entry.kind == HiddenControl::Combo) {
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
            }
            FillList(*combo, entry.items, entry.sorted);
            placeCombo(combo, {x + 52, y, 50, 60});
            control = combo;
        } else {
            auto* edit = new QLineEdit(this);
            if (entry.kind == HiddenControl::Digits) {
                // Typing is limited to digits; a text set by other means is
                // checked when the fields are read.
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), edit));
            }
            place(edit, {x + 52, y, 50, 12});
            control = edit;
        }
        named(control, entry.id);
        control->setEnabled(entry.enabled);
        control->hide();
        ++row;
    }
    connect(Combo(IDC_UPGRADETYPE), &QComboBox::activated, this,
            &CUpgradeDlg::OnSelchangeUpgradeType);
}

void CUpgradeDlg::OnInitDialog() {
    // The lists were filled from the initialisation data as they were made;
    // now the members go into the controls, twice as the dialog always did.
    UpdateData(false);
    UpdateData(false);
    AddAboutItem(*this, kAboutItemText);
    setWindowIcon(m_hIcon);
    findChild<QPushButton*>(ControlName(ID_OK))->setFocus();
}

bool CUpgradeDlg::UpdateData(bool bSaveAndValidate) {
    QLineEdit* filePath = Edit(IDC_FILEPATH);
    // String exchange with a list: saving takes the selected item's text (a
    // drop-down list) or the edit text (an editable combo); loading selects
    // the first item that begins with the member, ignoring case, and where
    // none does, an editable combo shows the member as its text.
    auto listText = [this, bSaveAndValidate](int id, QString& member) {
        QComboBox* combo = Combo(id);
        if (bSaveAndValidate) {
            member = combo->currentText();
        } else if (SelectString(*combo, member) < 0 && combo->isEditable()) {
            combo->setEditText(member);
        }
    };
    auto numberField = [this, bSaveAndValidate](int id, std::int32_t& member) {
        QLineEdit* edit = Edit(id);
        if (!bSaveAndValidate) {
            edit->setText(QString::number(member));
            return true;
        }
        const std::optional<std::int32_t> value = ParseNumberField(edit->text());
        if (!value) {
            ShowMessage(LabelText(id) + QStringLiteral(" needs a whole number, but it holds \"") +
                            edit->text() +
                            QStringLiteral("\". Enter a number from -2147483648 to 2147483647."),
                        CaptionText(MessageCaption::Application));
            edit->setFocus();
            edit->selectAll();
            return false;
        }
        member = *value;
        return true;
    };

    listText(IDC_BAUDRATE, m_strBaudRate);
    listText(IDC_DATABITS, m_strDataBits);
    if (bSaveAndValidate) {
        // The file box is read, never written here: a path reaches it only
        // through Select File.
        m_strFilePath = filePath->text();
    }
    listText(IDC_PARITY, m_strParity);
    listText(IDC_PORT, m_strPort);
    listText(IDC_STOPBITS, m_strStopBits);
    listText(IDC_UPGRADETYPE, m_strUpgradeType);
    if (bSaveAndValidate) {
        m_strOffset = Edit(IDC_OFFSET)->text();
    } else {
        Edit(IDC_OFFSET)->setText(m_strOffset);
    }
    listText(IDC_MODELNO, m_strModelNo);
    listText(IDC_PROJECTNAME, m_strProjectName);
    return numberField(IDC_MAXTV, m_nMaxTv) && numberField(IDC_MAXTP, m_nMaxTp) &&
           numberField(IDC_MAXRADIO, m_nMaxRadio) && numberField(IDC_DBSIZE, m_lDbSize) &&
           numberField(IDC_LNBCHIGH, m_nLnbCHigh) && numberField(IDC_LNBCLOW, m_nLnbCLow) &&
           numberField(IDC_LNBKUHIGH, m_nLnbKuHigh) && numberField(IDC_LNBKULOW, m_nLnbKuLow) &&
           numberField(IDC_MAXSAT, m_nMaxSat);
}

DialogValues CUpgradeDlg::MemberValues() const {
    DialogValues values;
    values.strPort = m_strPort.toStdString();
    values.strBaudRate = m_strBaudRate.toStdString();
    values.strDataBits = m_strDataBits.toStdString();
    values.strParity = m_strParity.toStdString();
    values.strStopBits = m_strStopBits.toStdString();
    values.strUpgradeType = m_strUpgradeType.toStdString();
    values.strOffset = m_strOffset.toStdString();
    values.strModelNo = m_strModelNo.toStdString();
    values.strProjectName = m_strProjectName.toStdString();
    values.nMaxSat = m_nMaxSat;
    values.nMaxTp = m_nMaxTp;
    values.nMaxTv = m_nMaxTv;
    values.nMaxRadio = m_nMaxRadio;
    values.lDbSize = m_lDbSize;
    values.nLnbCHigh = m_nLnbCHigh;
    values.nLnbCLow = m_nLnbCLow;
    values.nLnbKuHigh = m_nLnbKuHigh;
    values.nLnbKuLow = m_nLnbKuLow;
    return values;
}

bool CUpgradeDlg::OnSysCommand(unsigned nID, std::intptr_t /*lParam*/) {
    if ((nID & 0xFFF0U) != IDM_ABOUTBOX) {
        return false;
    }
    QPointer<CAboutDlg> about = new CAboutDlg(this);
    RunModal(*about);
    delete about.data();
    return true;
}

void CUpgradeDlg::OnSelectFile() {
    QPointer<QFileDialog> chooser = new QFileDialog(this, QString(), QString(), kBinFilter);
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed, a channel list (.sdx) among them, even though the
    // filter shows only images.
    chooser->setFileMode(QFileDialog::AnyFile);
    const int result = RunModal(*chooser);
    if (chooser && result == QDialog::Accepted && !chooser->selectedFiles().isEmpty()) {
        TakeFile(chooser->selectedFiles().constFirst());
    }
    delete chooser.data();
}

void CUpgradeDlg::TakeFile(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    m_strFilePath = QFileInfo(path).absoluteFilePath();
    // A running job has its own copy of the settings: this affects the next job only.
    m_controller->Settings().strFilePath = QFile::encodeName(m_strFilePath).toStdString();
    Edit(IDC_FILEPATH)->setText(m_strFilePath);
}

void CUpgradeDlg::OnStart() {
    if (m_calls->IsShutDown() && !m_controller->IsBusy()) {
        m_calls->Reopen();
    }
    m_controller->Start(QFile::encodeName(m_strFilePath).toStdString(), [this] {
        UpdateData(true);
        return MemberValues();
    });
}

void CUpgradeDlg::OnSelchangeUpgradeType(int index) {
    const QString type = Combo(IDC_UPGRADETYPE)->itemText(index);
    UpdateData(true);
    const bool enable = type != QStringLiteral("Code");
    for (const int id : kTypeDependentFields) {
        Edit(id)->setEnabled(enable);
    }
}

void CUpgradeDlg::accept() {
    // OK transfers the controls and leaves the dialog open.
    UpdateData(true);
}

void CUpgradeDlg::done(int result) {
    EndJob();
    QDialog::done(result);
}

void CUpgradeDlg::EndJob() {
    m_calls->Shutdown();
    // Copied: rejecting a box may change the list.
    const QList<QPointer<QDialog>> boxes = m_openBoxes;
    for (const QPointer<QDialog>& box : boxes) {
        if (QDialog* open = box.data(); open != nullptr) {
            open->reject();
        }
    }
    // Cancelling also refuses jobs started later, so only a running job is
    // cancelled: a dialog closed while idle can be shown and used again.
    if (m_controller->IsBusy()) {
        m_controller->Cancel();
    }
    m_controller->Wait();
}

void CUpgradeDlg::ShowMessage(const QString& text, const QString& caption) {
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
    RunModal(*box);
    delete box.data();
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
        if (m_calls->IsShutDown() && !m_controller->IsBusy()) {
            m_calls->Reopen();
        }
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

bool CUpgradeDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (RouteSystemCommand(*this, eventType, message, result)) {
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

}  // namespace velmora::ui
