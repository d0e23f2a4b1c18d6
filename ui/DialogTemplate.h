// What the dialogs share with a classic dialog template: the 9-point dialog
// font, positions in dialog units, and the behaviour of list controls (sorted
// lists, selecting an item by a prefix of its text).
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

class QComboBox;
class QWidget;

namespace velmora::ui {

// The dialog font's family as the templates name it (Gulim). Where it is not
// installed, a Korean font of the system stands in for it.
inline const QString kDialogFontFamily = QStringLiteral("\uAD74\uB9BC");  // 굴림
inline constexpr int kDialogFontPoints = 9;

// Registers stand-ins for the dialog font (Debian's NanumGothic and others
// with Hangul) and the compiled-in artwork once per process, and returns the
// 9-point dialog font. The dialogs call it before they load an icon.
QFont DialogFont();

// The dialog base units of a font: the average width of the Latin letters and
// the character height, in pixels. A dialog unit is a quarter of the first
// horizontally and an eighth of the second vertically.
struct DialogBaseUnits {
    int cx = 0;
    int cy = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);

// x, y, width, height in dialog units to pixels, rounded like MulDiv.
QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy);
QSize MapDialogSize(const DialogBaseUnits& units, int cx, int cy);

// Fills a list in the order of the initialisation data; a sorted list then
// orders its items without regard to case, as a sorted combo box does.
void FillList(QComboBox& combo, const QStringList& items, bool sorted);

// Selects the first item whose text begins with `text`, ignoring case, and
// returns its index; -1 (selection unchanged) when no item does.
int SelectString(QComboBox& combo, const QString& text);

// Places the window's frame so that it is centred on the screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace velmora::ui
