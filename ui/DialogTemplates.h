// The dialog templates, main dialog (102), about box (100) and the station
// window (103), as data:
// every control with its id, kind, text, place in dialog units, styles and
// list items, in tab order. Each view builds its windows from these, so the
// dialog looks and behaves alike on every toolkit. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ControlIds.h"

namespace velmora::ui {

inline constexpr std::string_view kAppCaption = "Velmora (Ver1.0a)";
// String 101, the about item of the system menu.
inline constexpr std::string_view kAboutItemText = "Velmora \xEC\xA0\x95\xEB\xB3\xB4(&A)...";
// The item after it that shows and hides the settings area.
inline constexpr std::string_view kSettingsItemText = "Settings\xE2\x80\xA6";  // Settings…
// The item after that, which opens the station window.
inline constexpr std::string_view kStationItemText = "Station\xE2\x80\xA6";  // Station…
// The station window's caption.
inline constexpr std::string_view kStationCaption = "Velmora Station (Ver1.0a)";
// The dialog font of both templates: 9-point Gulim.
inline constexpr std::string_view kDialogFontFace = "\xEA\xB5\xB4\xEB\xA6\xBC";  // 굴림
inline constexpr int kDialogFontPoints = 9;
// Korean (LANG_KOREAN, SUBLANG_KOREAN).
inline constexpr std::uint16_t kDialogLanguage = 0x0412;

// One entry of a file dialog's filter, e.g. {"BIN File(*.bin)", "*.bin"}.
struct FileFilter {
    std::string description;
    std::string pattern;
};

// x, y, width and height in dialog units. A drop-down list's height is that
// of the opened list.
struct DluRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

enum class ControlKind {
    DefPushButton,
    PushButton,
    GroupBox,
    Label,
    DropList,       // drop-down list, not editable
    DropDownCombo,  // editable drop-down combo
    Edit,
    ProgressBar,
    Picture,    // shows bitmap `resource`, scaled into the control
    Icon,       // shows icon `resource`
    CheckBox,   // a check box with its text
    CheckList,  // a list whose items each have a check box
    TileArea,   // the station's tiles, drawn by the view from the model's tiles
};

// Styles beyond a control's kind.
enum ControlStyle : unsigned {
    kVisible = 1U << 0,
    kDisabled = 1U << 1,
    kTabStop = 1U << 2,
    kSorted = 1U << 3,
    kVScroll = 1U << 4,
    kAutoHScroll = 1U << 5,
    kReadOnly = 1U << 6,
    kBorder = 1U << 7,
    kDigitsOnly = 1U << 8,
    // Hidden below the dialog's own area; "Settings…" shows it (with its label).
    kSettingsArea = 1U << 9,
};

struct ControlTemplate {
    int id = ID_NONE;
    ControlKind kind = ControlKind::Label;
    std::string text;
    DluRect rect;
    unsigned style = 0;
    // List items in the order of the dialog's initialisation data; a sorted
    // list shows them as DisplayItems() orders them.
    std::vector<std::string> items;
    int resource = 0;  // the bitmap of a picture, the icon of an icon
    int labelFor = 0;  // a label placed in front of this control id (0: none)

    bool Has(unsigned flag) const { return (style & flag) != 0; }
};

enum DialogStyle : unsigned {
    kCaptionBar = 1U << 0,
    kSystemMenu = 1U << 1,
    kModalFrame = 1U << 2,
    kAppWindow = 1U << 3,        // shown in the task bar
    kCentredOnScreen = 1U << 4,  // otherwise centred over the owner
    kMinimiseBox = 1U << 5,
    kMaximiseBox = 1U << 6,
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int cx = 0;
    int cy = 0;
    // The height with the settings area shown; cy when there is none.
    int cySettings = 0;
    std::string fontFace;
    int fontPoints = 0;
    unsigned style = 0;
    std::uint16_t language = 0;
    std::vector<ControlTemplate> controls;  // tab order

    bool Has(unsigned flag) const { return (style & flag) != 0; }
    // The control with `id`, null when there is none.
    const ControlTemplate* Find(int id) const;
    // The label in front of control `id`, null when it has none.
    const ControlTemplate* LabelOf(int id) const;
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
// The station window: the file, the settings of the main dialog's settings
// area (same ids, labels, items and defaults, shown), the ports, the log,
// and the tiles with the totals line above them.
const DialogTemplate& StationDialogTemplate();

// The ten fields that only upgrade types other than "Code" use.
inline constexpr int kTypeDependentFields[] = {
    IDC_OFFSET,   IDC_MAXSAT,   IDC_MAXTP,   IDC_DBSIZE,    IDC_MAXTV,
    IDC_MAXRADIO, IDC_LNBCHIGH, IDC_LNBCLOW, IDC_LNBKUHIGH, IDC_LNBKULOW};

// The controls of the settings area that have ids, in tab order.
std::vector<int> SettingsAreaControls();

// Korean faces that stand in for the dialog font where the system lacks it,
// best first.
const std::vector<std::string>& DialogFontStandIns();
// True for the template's face and its Korean stand-ins.
bool IsKoreanFace(std::string_view face);
// The face to draw the dialogs with: the template's own where `installed`
// finds it, else the first Korean stand-in installed, else the first of
// `sansSerif` installed, else the last of `sansSerif` (a name the system
// resolves by itself). Never a serif face by accident.
std::string ChooseDialogFace(const std::function<bool(const std::string&)>& installed,
                             const std::vector<std::string>& sansSerif);

// A list's items as it shows them: a sorted list orders them without regard
// to case (stable for equal texts), as a sorted combo box does.
std::vector<std::string> DisplayItems(const ControlTemplate& control);

// True when `text` begins with `prefix`, ASCII letters compared without case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace velmora::ui
