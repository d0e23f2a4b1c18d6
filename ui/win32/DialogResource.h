// A dialog template of the model as Windows takes it: an extended dialog
// template (DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items) in memory, for
// DialogBoxIndirectParamW. Plain bytes, built without <windows.h>, so that
// the layout is tested on every system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/DialogTemplates.h"

namespace velmora::ui {

// Window, dialog and control styles as <windows.h> defines them.
namespace win32style {
inline constexpr std::uint32_t kPopup = 0x80000000U;
inline constexpr std::uint32_t kChild = 0x40000000U;
inline constexpr std::uint32_t kVisible = 0x10000000U;
inline constexpr std::uint32_t kDisabled = 0x08000000U;
inline constexpr std::uint32_t kCaption = 0x00C00000U;
inline constexpr std::uint32_t kBorder = 0x00800000U;
inline constexpr std::uint32_t kVScroll = 0x00200000U;
inline constexpr std::uint32_t kSysMenu = 0x00080000U;
inline constexpr std::uint32_t kGroup = 0x00020000U;
inline constexpr std::uint32_t kTabStop = 0x00010000U;
inline constexpr std::uint32_t kMinimizeBox = 0x00020000U;
inline constexpr std::uint32_t kMaximizeBox = 0x00010000U;
inline constexpr std::uint32_t kDsModalFrame = 0x0080U;
inline constexpr std::uint32_t kDsSetFont = 0x0040U;
inline constexpr std::uint32_t kDsCenter = 0x0800U;
inline constexpr std::uint32_t kExAppWindow = 0x00040000U;
inline constexpr std::uint32_t kBsDefPushButton = 0x0001U;
inline constexpr std::uint32_t kBsAutoCheckBox = 0x0003U;
inline constexpr std::uint32_t kBsGroupBox = 0x0007U;
inline constexpr std::uint32_t kLvsReport = 0x0001U;
inline constexpr std::uint32_t kLvsSingleSel = 0x0004U;
inline constexpr std::uint32_t kLvsNoColumnHeader = 0x4000U;
inline constexpr std::uint32_t kSsIcon = 0x0003U;
inline constexpr std::uint32_t kSsBitmap = 0x000EU;
inline constexpr std::uint32_t kSsRealSizeControl = 0x0040U;
inline constexpr std::uint32_t kSsNoPrefix = 0x0080U;
inline constexpr std::uint32_t kCbsDropDown = 0x0002U;
inline constexpr std::uint32_t kCbsDropDownList = 0x0003U;
inline constexpr std::uint32_t kCbsAutoHScroll = 0x0040U;
inline constexpr std::uint32_t kCbsSort = 0x0100U;
inline constexpr std::uint32_t kEsAutoHScroll = 0x0080U;
inline constexpr std::uint32_t kEsReadOnly = 0x0800U;
inline constexpr std::uint32_t kEsNumber = 0x2000U;
}  // namespace win32style

// Predefined window classes by ordinal; the common controls and the
// station's tile area by name.
enum class ControlClass : std::uint16_t {
    Button = 0x0080,
    Edit = 0x0081,
    Static = 0x0082,
    ComboBox = 0x0085,
};
inline constexpr std::string_view kProgressClass = "msctls_progress32";
inline constexpr std::string_view kListViewClass = "SysListView32";
// Registered by the station window before it is created (StationDlgWin.cpp).
inline constexpr std::string_view kTileAreaClass = "VelmoraStationTiles";
// The charset of the template's font (HANGUL_CHARSET), and of a face that
// stands in for it without Hangul (DEFAULT_CHARSET).
inline constexpr std::uint8_t kHangulCharset = 0x81;
inline constexpr std::uint8_t kDefaultCharset = 0x01;
inline constexpr std::uint16_t kFontWeightNormal = 400;

std::uint32_t DialogStyleOf(const DialogTemplate& dlg);
std::uint32_t DialogExStyleOf(const DialogTemplate& dlg);
std::uint32_t ControlStyleOf(const ControlTemplate& control);

// The whole template; the first byte must be placed at a 4-byte boundary.
std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& dlg);

// UTF-8 to UTF-16 code units, for the template's strings.
std::u16string Utf16(std::string_view utf8);

}  // namespace velmora::ui
