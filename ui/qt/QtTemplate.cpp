#include "ui/qt/QtTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

// Registers the icon and banner compiled into this static library.
static void InitArtwork() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora::ui {

namespace {

// Round(a * b / c) as MulDiv does it, for the small positive values of a template.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

void RegisterFontStandIns() {
    // Fonts with Hangul to use when Gulim itself is missing, best first, and
    // where none is installed the system's sans-serif face, never a serif one.
    QStringList standIns;
    for (const std::string& face : DialogFontStandIns()) {
        standIns << ToQt(face);
    }
    standIns << kSansSerifFamily;
    QFont::insertSubstitutions(kDialogFontFamily, standIns);
    QFont::insertSubstitutions(QStringLiteral("Gulim"), standIns);
}

QComboBox* CreateCombo(const ControlTemplate& control, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    if (control.kind == ControlKind::DropDownCombo) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    for (const std::string& item : DisplayItems(control)) {
        combo->addItem(ToQt(item));
    }
    return combo;
}

QLineEdit* CreateEdit(const ControlTemplate& control, QWidget* parent) {
    auto* edit = new QLineEdit(ToQt(control.text), parent);
    edit->setReadOnly(control.Has(kReadOnly));
    if (control.Has(kDigitsOnly)) {
        // Typing is limited to digits; a text set by other means is checked
        // when the fields are read.
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    return edit;
}

}  // namespace

QFont DialogFont() {
    static const bool registered = (RegisterFontStandIns(), InitArtwork(), true);
    (void)registered;
    QFont font(kDialogFontFamily);
    font.setPointSize(kDialogFontPoints);
    // The kind of face to fall back on when the family and its stand-ins
    // are all missing.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Half of the width of 26 letters, rounded: the average of the 52.
    return DialogBaseUnits{(width / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
    return QRect(MulDiv(x, units.cx, 4), MulDiv(y, units.cy, 8), MulDiv(cx, units.cx, 4),
                 MulDiv(cy, units.cy, 8));
}

QRect MapDialogRect(const DialogBaseUnits& units, const DluRect& rect) {
    return MapDialogRect(units, rect.x, rect.y, rect.cx, rect.cy);
}

QSize MapDialogSize(const DialogBaseUnits& units, int cx, int cy) {
    return QSize(MulDiv(cx, units.cx, 4), MulDiv(cy, units.cy, 8));
}

QWidget* CreateTemplateControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = ToQt(control.text);
    switch (control.kind) {
        case ControlKind::DefPushButton:
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(control.kind == ControlKind::DefPushButton);
            return button;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(text, parent);
        case ControlKind::Label:
            return new QLabel(text, parent);
        case ControlKind::DropList:
        case ControlKind::DropDownCombo:
            return CreateCombo(control, parent);
        case ControlKind::Edit:
            return CreateEdit(control, parent);
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::CheckList:
            return new QListWidget(parent);
        case ControlKind::Picture:
        case ControlKind::Icon:
        case ControlKind::TileArea:
            break;
    }
    return nullptr;
}

void PlaceTemplateControl(QWidget& widget, const ControlTemplate& control,
                          const DialogBaseUnits& units) {
    QRect place = MapDialogRect(units, control.rect);
    if (auto* combo = qobject_cast<QComboBox*>(&widget)) {
        // A closed drop-down list is as high as the font needs; the
        // template's height is that of the opened list.
        const int closed = combo->sizeHint().height();
        const int rows = (place.height() - closed) / std::max(1, combo->fontMetrics().height());
        combo->setMaxVisibleItems(std::max(1, rows));
        place.setHeight(closed);
    }
    widget.setGeometry(place);
    if (control.id != ID_NONE) {
        widget.setObjectName(ControlName(control.id));
    } else if (control.labelFor != 0) {
        widget.setObjectName(LabelName(control.labelFor));
    }
    if (control.kind == ControlKind::GroupBox) {
        widget.lower();  // a frame only: never above the controls it surrounds
    }
    widget.setFocusPolicy(control.Has(kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
    widget.setEnabled(!control.Has(kDisabled));
    widget.setVisible(control.Has(kVisible));
}

QString FilterText(const std::vector<FileFilter>& filters) {
    QStringList entries;
    for (const FileFilter& filter : filters) {
        // Qt takes the patterns from the parentheses of the description.
        entries << ToQt(filter.description);
    }
    return entries.join(QStringLiteral(";;"));
}

void CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace velmora::ui
