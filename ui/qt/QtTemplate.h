// The templates on Qt: the 9-point dialog font, dialog units in pixels, and
// the names by which code and tests find the controls. Every control with an
// id carries it as its object name ("1003"), so it is found with
// findChild<QWidget*>(ControlName(id)); the label of a hidden control is named
// "label" followed by the id of the control it stands in front of.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <string>
#include <vector>

#include "ui/DialogTemplates.h"

class QWidget;

namespace velmora::ui {

inline QString ControlName(int id) {
    return QString::number(id);
}
inline QString LabelName(int id) {
    return QStringLiteral("label") + QString::number(id);
}
inline QString ToQt(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// The dialog font's family as the templates name it (Gulim). Where it is not
// installed, a Korean font of the system stands in for it.
inline const QString kDialogFontFamily =
    QString::fromUtf8(kDialogFontFace.data(), kDialogFontFace.size());

// The generic family that fontconfig resolves to the system's sans-serif face.
inline const QString kSansSerifFamily = QStringLiteral("sans-serif");

// Registers stand-ins for the dialog font (Debian's NanumGothic and others
// with Hangul, then the sans-serif face) and the compiled-in artwork once per
// process, and returns the 9-point dialog font. The dialogs call it before
// they load an icon.
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
QRect MapDialogRect(const DialogBaseUnits& units, const DluRect& rect);
QSize MapDialogSize(const DialogBaseUnits& units, int cx, int cy);

// A control of a template as a widget: push buttons, frames, labels, lists
// and combos with their items, edit boxes, progress bars, check boxes and
// check lists. Null for the kinds a dialog makes itself (picture, icon, the
// station's tiles).
QWidget* CreateTemplateControl(const ControlTemplate& control, QWidget* parent);

// Places `widget` where the template says, named by its id (or as the label
// of its control), with the template's focus, enabling and visibility.
void PlaceTemplateControl(QWidget& widget, const ControlTemplate& control,
                          const DialogBaseUnits& units);

// The filters of a file dialog as Qt takes them.
QString FilterText(const std::vector<FileFilter>& filters);

// Places the window's frame so that it is centred on the screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace velmora::ui
