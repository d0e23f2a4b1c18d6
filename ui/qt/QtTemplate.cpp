#include "ui/qt/QtTemplate.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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
