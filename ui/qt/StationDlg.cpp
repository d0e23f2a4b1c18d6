#include "ui/qt/StationDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>

#include <algorithm>

namespace velmora::ui {

namespace {

QColor ColourOf(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

// The failure sound: the system's bell three times, where a finished job
// rings it once (Qt Widgets has no other sound).
constexpr int kFailureBells = 3;
constexpr int kBellGapMs = 180;

}  // namespace

CTileArea::CTileArea(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
}

std::vector<TileRect> CTileArea::Layout() const {
    return LayoutTiles(m_tiles.size(), width(), height());
}

void CTileArea::SetTiles(const std::vector<StationTile>& tiles,
                         const std::vector<std::size_t>& changed) {
    const bool relaid = tiles.size() != m_tiles.size();
    m_tiles = tiles;
    if (relaid) {
        update();
        return;
    }
    const std::vector<TileRect> rects = Layout();
    for (const std::size_t i : changed) {
        update(QRect(rects[i].x, rects[i].y, rects[i].cx, rects[i].cy));
    }
}

void CTileArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const std::vector<TileRect> rects = Layout();
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        const QRect place(rects[i].x, rects[i].y, rects[i].cx, rects[i].cy);
        if (place.intersects(event->rect())) {
            PaintTile(painter, m_tiles[i], place);
        }
    }
}

void CTileArea::PaintTile(QPainter& painter, const StationTile& tile, const QRect& place) const {
    const TileColours colours = TileColoursOf(tile.colour);
    painter.setPen(QPen(ColourOf(colours.border), 2));
    painter.setBrush(ColourOf(colours.background));
    painter.drawRect(place.adjusted(1, 1, -1, -1));
    const QRect inner = place.adjusted(6, 4, -6, -4);
    const int line = fontMetrics().height();
    int y = inner.top();
    const auto text = [&](const std::string& value, bool bold, int lines) {
        QFont font = painter.font();
        font.setBold(bold);
        painter.setFont(font);
        const QRect box(inner.left(), y, inner.width(), line * lines);
        const QString shown =
            lines == 1 ? QFontMetrics(font).elidedText(ToQt(value), Qt::ElideMiddle, inner.width())
                       : ToQt(value);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, shown);
        y += line * lines;
    };
    painter.setPen(ColourOf(colours.text));
    text(tile.name, true, 1);
    text(tile.description, false, 1);
    text(tile.state, true, 1);
    if (tile.percent >= 0) {
        const QRect bar(inner.left(), y + 2, inner.width(), line / 2);
        painter.setPen(ColourOf(colours.border));
        painter.setBrush(Qt::white);
        painter.drawRect(bar);
        painter.fillRect(QRect(bar.left() + 1, bar.top() + 1,
                               (bar.width() - 1) * tile.percent / 100, bar.height() - 1),
                         ColourOf(kTileBarColour));
        painter.setPen(ColourOf(colours.text));
        y += line / 2 + 4;
    }
    const int room = std::max(1, (inner.bottom() - y - line) / line);
    text(tile.detail, false, room);
    y = std::max(y, inner.bottom() - line);
    text(tile.counts, false, 1);
}

CStationDlg::CStationDlg(StationChoices choices, QWidget* parent, StationServices services)
    : QDialog(parent) {
    const DialogTemplate& dlg = StationDialogTemplate();
    setObjectName(QStringLiteral("StationDlg"));
    setWindowTitle(ToQt(dlg.caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    QIcon icon;
    icon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
    setWindowIcon(icon);
    m_units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(m_units, dlg.cx, dlg.cy));
    CreateControls();

    m_calls = new CUiCallQueue(this);
    IStationView& view = *this;
    m_model = std::make_unique<CStationModel>(view, m_calls->Core(), std::move(choices),
                                              std::move(services));
    m_model->OnInitDialog();
    m_timer.setInterval(static_cast<int>(CStationModel::kTick.count()));
    connect(&m_timer, &QTimer::timeout, this, [this] { m_model->OnTimer(); });
    m_timer.start();
    findChild<QWidget*>(ControlName(ID_OK))->setFocus();
}

CStationDlg::~CStationDlg() {
    m_timer.stop();
    m_model->EndRun();
}

void CStationDlg::CreateControls() {
    for (const ControlTemplate& control : StationDialogTemplate().controls) {
        QWidget* widget = nullptr;
        if (control.kind == ControlKind::TileArea) {
            m_tileArea = new CTileArea(this);
            widget = m_tileArea;
        } else {
            widget = CreateTemplateControl(control, this);
        }
        if (widget != nullptr) {
            PlaceTemplateControl(*widget, control, m_units);
        }
    }
    const auto button = [this](int id) { return findChild<QPushButton*>(ControlName(id)); };
    connect(button(ID_OK), &QPushButton::clicked, this, [this] { m_model->OnStart(); });
    connect(button(IDC_ST_STOP), &QPushButton::clicked, this, [this] { m_model->OnStop(); });
    connect(button(ID_CANCEL), &QPushButton::clicked, this, &CStationDlg::reject);
    connect(button(IDC_SELECTFILE), &QPushButton::clicked, this,
            [this] { m_model->OnSelectFile(); });
    connect(button(IDC_ST_LOGFILE), &QPushButton::clicked, this,
            [this] { m_model->OnSelectLogFile(); });
    connect(findChild<QCheckBox*>(ControlName(IDC_ST_EVERYADAPTER)), &QCheckBox::clicked, this,
            [this] { m_model->OnEveryAdapter(); });
    auto* type = findChild<QComboBox*>(ControlName(IDC_UPGRADETYPE));
    connect(type, &QComboBox::activated, this, [this, type](int index) {
        m_model->OnSelchangeUpgradeType(type->itemText(index).toStdString());
    });
}

QListWidget* CStationDlg::Ports() const {
    return findChild<QListWidget*>(ControlName(IDC_ST_PORTS));
}

void CStationDlg::reject() {
    if (m_model->ConfirmClose()) {
        QDialog::reject();
    }
}

void CStationDlg::done(int result) {
    m_timer.stop();
    m_boxes.CloseAll();  // boxes opened for the window go with it
    m_model->EndRun();
    QDialog::done(result);
}

void CStationDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_shown) {
        return;
    }
    m_shown = true;
    CentreOnScreen(*this);
    if (m_startWhenShown) {
        QTimer::singleShot(0, this, [this] { m_model->OnStart(); });
    }
}

std::string CStationDlg::ControlText(int id) {
    QWidget* widget = findChild<QWidget*>(ControlName(id));
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        return combo->currentText().toStdString();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text().toStdString();
    }
    return {};
}

void CStationDlg::SetControlText(int id, const std::string& text) {
    QWidget* widget = findChild<QWidget*>(ControlName(id));
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditText(ToQt(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(ToQt(text));
        edit->setCursorPosition(0);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQt(text));
    }
}

int CStationDlg::ItemCount(int id) {
    auto* combo = findChild<QComboBox*>(ControlName(id));
    return combo != nullptr ? combo->count() : 0;
}

std::string CStationDlg::ItemText(int id, int index) {
    return findChild<QComboBox*>(ControlName(id))->itemText(index).toStdString();
}

void CStationDlg::SelectItem(int id, int index) {
    findChild<QComboBox*>(ControlName(id))->setCurrentIndex(index);
}

void CStationDlg::EnableControl(int id, bool enable) {
    findChild<QWidget*>(ControlName(id))->setEnabled(enable);
}

void CStationDlg::FocusControl(int id) {
    QWidget* widget = findChild<QWidget*>(ControlName(id));
    widget->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->selectAll();
    }
}

void CStationDlg::ShowMessage(const MessageRequest& message) {
    m_boxes.Message(message);
}

bool CStationDlg::IsChecked(int id) {
    auto* box = findChild<QCheckBox*>(ControlName(id));
    return box != nullptr && box->isChecked();
}

void CStationDlg::SetChecked(int id, bool checked) {
    findChild<QCheckBox*>(ControlName(id))->setChecked(checked);
}

void CStationDlg::SetPortItems(const std::vector<StationPortItem>& items) {
    QListWidget* list = Ports();
    const QSignalBlocker quiet(list);
    list->clear();
    for (const StationPortItem& port : items) {
        auto* item = new QListWidgetItem(ToQt(port.text), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(port.checked ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(ToQt(port.device));
    }
}

std::vector<bool> CStationDlg::PortChecks() {
    QListWidget* list = Ports();
    std::vector<bool> checks;
    for (int i = 0; i < list->count(); ++i) {
        checks.push_back(list->item(i)->checkState() == Qt::Checked);
    }
    return checks;
}

void CStationDlg::ShowTiles(const std::vector<StationTile>& tiles,
                            const std::vector<std::size_t>& changed) {
    m_tileArea->SetTiles(tiles, changed);
}

bool CStationDlg::AskYesNo(const std::string& question) {
    return m_boxes.YesNo(question);
}

std::optional<std::string> CStationDlg::ChooseFile(const std::vector<FileFilter>& filters) {
    return m_boxes.OpenFile(filters);
}

std::optional<std::string> CStationDlg::ChooseLogFile(const std::string& current) {
    QPointer<QFileDialog> chooser =
        new QFileDialog(this, QStringLiteral("Job log"), ToQt(current),
                        QStringLiteral("Job log (*.jsonl);;All files (*)"));
    chooser->setAcceptMode(QFileDialog::AcceptSave);
    // Jobs are appended to an existing log: no question about replacing it.
    chooser->setOption(QFileDialog::DontConfirmOverwrite);
    const int result = m_boxes.Run(*chooser);
    std::optional<std::string> chosen;
    if (chooser && result == QDialog::Accepted && !chooser->selectedFiles().isEmpty()) {
        chosen = QFileInfo(chooser->selectedFiles().constFirst()).absoluteFilePath().toStdString();
    }
    delete chooser.data();
    return chosen;
}

void CStationDlg::PlaySound(StationSound sound) {
    QApplication::beep();
    if (sound == StationSound::JobFailed) {
        for (int i = 1; i < kFailureBells; ++i) {
            QTimer::singleShot(i * kBellGapMs, this, [] { QApplication::beep(); });
        }
    }
}

}  // namespace velmora::ui
