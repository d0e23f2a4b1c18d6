#include "ui/DialogTemplates.h"

#include <algorithm>

#include "base/TextFormat.h"

namespace velmora::ui {

namespace {

ControlTemplate Control(int id, ControlKind kind, std::string text, DluRect rect, unsigned style,
                        std::vector<std::string> items = {}) {
    ControlTemplate control;
    control.id = id;
    control.kind = kind;
    control.text = std::move(text);
    control.rect = rect;
    control.style = style;
    control.items = std::move(items);
    return control;
}

ControlTemplate Frame(std::string text, DluRect rect) {
    return Control(ID_NONE, ControlKind::GroupBox, std::move(text), rect, kVisible);
}

// A hidden control of the main dialog with its hidden label.
struct HiddenEntry {
    int id;
    const char* label;
    ControlKind kind;
    unsigned style;
    std::vector<std::string> items;
};

std::vector<HiddenEntry> HiddenEntries() {
    constexpr unsigned kList = kVScroll | kTabStop;
    constexpr unsigned kDigits = kDigitsOnly | kBorder | kTabStop | kDisabled;
    return {
        {IDC_BAUDRATE,
         "Baud Rate:",
         ControlKind::DropList,
         kList | kDisabled,
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
          "57600", "115200", "128000", "256000"}},
        {IDC_PARITY,
         "Parity:",
         ControlKind::DropList,
         kList | kSorted | kDisabled,
         {"NONE", "EVEN", "ODD"}},
        {IDC_DATABITS,
         "Data Bits:",
         ControlKind::DropList,
         kList | kSorted | kDisabled,
         {"5", "6", "7", "8"}},
        {IDC_STOPBITS,
         "Stop Bits:",
         ControlKind::DropList,
         kList | kSorted | kDisabled,
         {"1", "1.5", "2"}},
        {IDC_UPGRADETYPE,
         "Upgrade Type:",
         ControlKind::DropDownCombo,
         kList | kSorted | kAutoHScroll,
         {"Code", "Database", "Custom", "Db Import/Export"}},
        {IDC_OFFSET,
         "Offset:",
         ControlKind::Edit,
         kBorder | kAutoHScroll | kTabStop | kDisabled,
         {}},
        {IDC_MODELNO, "Model No.:", ControlKind::DropDownCombo, kList | kSorted, {"ZT4400VBOX"}},
        {IDC_PROJECTNAME,
         "Project Name:",
         ControlKind::DropDownCombo,
         kList | kSorted,
         {"DVB-S", "DVB-S+T"}},
        {IDC_MAXSAT, "Max Sat No.:", ControlKind::Edit, kDigits, {}},
        {IDC_MAXTP, "Max TP No.:", ControlKind::Edit, kDigits, {}},
        {IDC_DBSIZE, "Db Size:", ControlKind::Edit, kDigits, {}},
        {IDC_MAXTV, "Max TV No.:", ControlKind::Edit, kDigits, {}},
        {IDC_MAXRADIO, "Max Radio No.:", ControlKind::Edit, kDigits, {}},
        {IDC_LNBCHIGH, "LNB-C High:", ControlKind::Edit, kDigits, {}},
        {IDC_LNBCLOW, "LNB-C Low:", ControlKind::Edit, kDigits, {}},
        {IDC_LNBKUHIGH, "LNB-Ku High:", ControlKind::Edit, kDigits, {}},
        {IDC_LNBKULOW, "LNB-Ku Low:", ControlKind::Edit, kDigits, {}},
    };
}

// What both dialogs share: the caption, the font and the language.
DialogTemplate Dialog(int id, int cx, int cy, unsigned style) {
    DialogTemplate dlg;
    dlg.id = id;
    dlg.caption = std::string(kAppCaption);
    dlg.cx = cx;
    dlg.cy = cy;
    dlg.cySettings = cy;
    dlg.fontFace = std::string(kDialogFontFace);
    dlg.fontPoints = kDialogFontPoints;
    dlg.style = style;
    dlg.language = kDialogLanguage;
    return dlg;
}

DialogTemplate BuildMainTemplate() {
    DialogTemplate dlg =
        Dialog(IDD_UPGRADE_DIALOG, 229, 206,
               kCaptionBar | kSystemMenu | kModalFrame | kAppWindow | kCentredOnScreen);

    auto& c = dlg.controls;
    c.push_back(Control(ID_OK, ControlKind::DefPushButton, "&Start", {162, 103, 54, 19},
                        kVisible | kTabStop));
    c.push_back(Control(ID_CANCEL, ControlKind::PushButton, "&Cancel", {162, 126, 54, 19},
                        kVisible | kTabStop));
    c.push_back(Frame("Comm Setting", {7, 104, 145, 39}));
    c.push_back(Control(ID_NONE, ControlKind::Label, "Port:", {26, 121, 27, 10}, kVisible));
    c.push_back(Control(IDC_PORT, ControlKind::DropList, "", {81, 120, 62, 62},
                        kVisible | kSorted | kVScroll | kTabStop,
                        {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    c.push_back(Frame("Software", {7, 61, 215, 38}));
    c.push_back(Control(IDC_FILEPATH, ControlKind::Edit, "", {11, 74, 146, 19},
                        kVisible | kReadOnly | kBorder | kAutoHScroll | kTabStop));
    c.push_back(Control(IDC_SELECTFILE, ControlKind::PushButton, "S&elect File", {162, 74, 54, 19},
                        kVisible | kTabStop));
    c.push_back(Control(IDC_SENDPROGRESS, ControlKind::ProgressBar, "", {10, 187, 207, 7},
                        kVisible | kBorder));
    c.push_back(Frame("Data Send Progress", {7, 175, 215, 24}));
    c.push_back(Control(IDC_ANALYSEPROGRESS, ControlKind::ProgressBar, "", {10, 159, 207, 7},
                        kVisible | kBorder));
    c.push_back(Frame("Data analyse Progress", {7, 147, 215, 24}));
    ControlTemplate banner = Control(ID_NONE, ControlKind::Picture, "", {17, 7, 194, 43}, kVisible);
    banner.resource = IDB_BANNER;
    c.push_back(banner);
    // The job's state in words, in the free strip under the banner; empty
    // (and so invisible) while no job runs.
    c.push_back(Control(IDC_STATUS, ControlKind::Label, "", {7, 52, 215, 8}, kVisible));

    // The hidden controls sit below the dialog's own area, in two columns,
    // each behind its label; the window grows to show them ("Settings…").
    int entry = 0;
    int bottom = dlg.cy;
    for (HiddenEntry& hidden : HiddenEntries()) {
        const int x = 7 + (entry % 2) * 111;
        const int y = dlg.cy + 6 + (entry / 2) * 14;
        ControlTemplate label =
            Control(ID_NONE, ControlKind::Label, hidden.label, {x, y + 2, 50, 8}, kSettingsArea);
        label.labelFor = hidden.id;
        c.push_back(label);
        const bool list = hidden.kind != ControlKind::Edit;
        c.push_back(Control(hidden.id, hidden.kind, "", {x + 51, y, 55, list ? 60 : 12},
                            hidden.style | kSettingsArea, std::move(hidden.items)));
        bottom = y + 12;
        ++entry;
    }
    dlg.cySettings = bottom + 7;
    return dlg;
}

// The settings in the station window: two columns in a group, each control
// behind its label, as in the main dialog's settings area but shown.
void AddStationSettings(std::vector<ControlTemplate>& c, DluRect group) {
    c.push_back(Frame("Settings", group));
    int entry = 0;
    for (HiddenEntry& setting : HiddenEntries()) {
        const int x = group.x + 4 + (entry % 2) * 105;
        const int y = group.y + 12 + (entry / 2) * 14;
        ControlTemplate label =
            Control(ID_NONE, ControlKind::Label, setting.label, {x, y + 2, 50, 8}, kVisible);
        label.labelFor = setting.id;
        c.push_back(label);
        const bool list = setting.kind != ControlKind::Edit;
        c.push_back(Control(setting.id, setting.kind, "", {x + 51, y, 52, list ? 60 : 12},
                            setting.style | kVisible, std::move(setting.items)));
        ++entry;
    }
}

DialogTemplate BuildStationTemplate() {
    DialogTemplate dlg = Dialog(
        IDD_STATION_DIALOG, 450, 306,
        kCaptionBar | kSystemMenu | kModalFrame | kAppWindow | kCentredOnScreen | kMinimiseBox);
    dlg.caption = std::string(kStationCaption);
    auto& c = dlg.controls;
    constexpr unsigned kButton = kVisible | kTabStop;
    c.push_back(Control(ID_OK, ControlKind::DefPushButton, "&Start", {279, 284, 52, 16}, kButton));
    c.push_back(Control(IDC_ST_STOP, ControlKind::PushButton, "S&top", {335, 284, 52, 16},
                        kButton | kDisabled));
    c.push_back(Control(ID_CANCEL, ControlKind::PushButton, "&Close", {391, 284, 52, 16}, kButton));
    c.push_back(Frame("Software", {7, 4, 214, 32}));
    c.push_back(Control(IDC_FILEPATH, ControlKind::Edit, "", {11, 15, 154, 14},
                        kVisible | kReadOnly | kBorder | kAutoHScroll | kTabStop));
    c.push_back(Control(IDC_SELECTFILE, ControlKind::PushButton, "S&elect File", {169, 14, 48, 16},
                        kButton));
    AddStationSettings(c, {7, 40, 214, 140});
    c.push_back(Frame("Ports", {7, 184, 214, 74}));
    c.push_back(Control(IDC_ST_PORTS, ControlKind::CheckList, "", {11, 195, 206, 36},
                        kButton | kBorder | kVScroll));
    c.push_back(Control(IDC_ST_EVERYADAPTER, ControlKind::CheckBox,
                        "&Every USB serial adapter, also those plugged in later",
                        {11, 234, 206, 10}, kButton));
    c.push_back(Control(IDC_ST_ONCE, ControlKind::CheckBox, "&One receiver per port",
                        {11, 246, 206, 10}, kButton));
    c.push_back(Control(ID_NONE, ControlKind::Label, "Log file:", {7, 264, 32, 8}, kVisible));
    c.push_back(Control(IDC_ST_LOGPATH, ControlKind::Edit, "", {40, 262, 129, 12},
                        kVisible | kReadOnly | kBorder | kAutoHScroll | kTabStop));
    c.push_back(Control(IDC_ST_LOGFILE, ControlKind::PushButton, "&Log File\xE2\x80\xA6",
                        {173, 261, 48, 14}, kButton));
    ControlTemplate recordLabel =
        Control(ID_NONE, ControlKind::Label, "Shop record:", {7, 280, 44, 8}, kVisible);
    recordLabel.labelFor = IDC_ST_RECORD;
    c.push_back(recordLabel);
    c.push_back(Control(IDC_ST_RECORD, ControlKind::Edit, "", {52, 278, 169, 12},
                        kVisible | kBorder | kAutoHScroll | kTabStop));
    c.push_back(Control(IDC_ST_SOUND, ControlKind::CheckBox, "So&und", {7, 293, 60, 10}, kButton));
    c.push_back(Control(IDC_ST_TOTALS, ControlKind::Label, "", {228, 6, 215, 8}, kVisible));
    c.push_back(
        Control(IDC_ST_TILES, ControlKind::TileArea, "", {228, 17, 215, 261}, kVisible | kBorder));
    return dlg;
}

DialogTemplate BuildAboutTemplate() {
    DialogTemplate dlg = Dialog(IDD_ABOUTBOX, 235, 55, kCaptionBar | kSystemMenu | kModalFrame);

    ControlTemplate icon = Control(ID_NONE, ControlKind::Icon, "", {11, 17, 20, 20}, kVisible);
    icon.resource = IDR_MAINFRAME;
    dlg.controls.push_back(icon);
    dlg.controls.push_back(
        Control(ID_NONE, ControlKind::Label, std::string(kAppCaption), {40, 10, 119, 8}, kVisible));
    dlg.controls.push_back(Control(ID_NONE, ControlKind::Label,
                                   "Receiver upgrade over the serial line", {40, 25, 119, 8},
                                   kVisible));
    dlg.controls.push_back(Control(ID_OK, ControlKind::DefPushButton,
                                   "\xED\x99\x95\xEC\x9D\xB8",  // 확인
                                   {178, 7, 50, 14}, kVisible | kTabStop));
    return dlg;
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    if (controlId == ID_NONE) {
        return nullptr;
    }
    for (const ControlTemplate& control : controls) {
        if (control.id == controlId) {
            return &control;
        }
    }
    return nullptr;
}

const ControlTemplate* DialogTemplate::LabelOf(int controlId) const {
    for (const ControlTemplate& control : controls) {
        if (control.labelFor == controlId && controlId != 0) {
            return &control;
        }
    }
    return nullptr;
}

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate dlg = BuildMainTemplate();
    return dlg;
}

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate dlg = BuildAboutTemplate();
    return dlg;
}

const DialogTemplate& StationDialogTemplate() {
    static const DialogTemplate dlg = BuildStationTemplate();
    return dlg;
}

std::vector<int> SettingsAreaControls() {
    std::vector<int> ids;
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        if (control.Has(kSettingsArea) && control.id != ID_NONE) {
            ids.push_back(control.id);
        }
    }
    return ids;
}

const std::vector<std::string>& DialogFontStandIns() {
    // Debian's fonts-nanum provides the second; Windows has the last two.
    static const std::vector<std::string> faces = {
        "Gulim",   "NanumGothic",   "NanumBarunGothic", "Noto Sans CJK KR",
        "UnDotum", "Baekmuk Gulim", "Malgun Gothic",    "Dotum"};
    return faces;
}

bool IsKoreanFace(std::string_view face) {
    const std::vector<std::string>& faces = DialogFontStandIns();
    return face == kDialogFontFace || std::find(faces.begin(), faces.end(), face) != faces.end();
}

std::string ChooseDialogFace(const std::function<bool(const std::string&)>& installed,
                             const std::vector<std::string>& sansSerif) {
    const std::string own(kDialogFontFace);
    if (installed(own)) {
        return own;
    }
    for (const std::string& face : DialogFontStandIns()) {
        if (installed(face)) {
            return face;
        }
    }
    for (const std::string& face : sansSerif) {
        if (installed(face)) {
            return face;
        }
    }
    return sansSerif.empty() ? own : sansSerif.back();
}

std::vector<std::string> DisplayItems(const ControlTemplate& control) {
    std::vector<std::string> items = control.items;
    if (control.Has(kSorted)) {
        std::stable_sort(items.begin(), items.end(),
                         [](const std::string& a, const std::string& b) {
                             return AsciiLower(a) < AsciiLower(b);
                         });
    }
    return items;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    return AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

}  // namespace velmora::ui
