#include "ui/win32/DialogResource.h"

namespace velmora::ui {

namespace ws = win32style;

namespace {

class TemplateWriter {
public:
    void Word(std::uint16_t value) {
        m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFFU));
        m_bytes.push_back(static_cast<std::uint8_t>(value >> 8U));
    }
    void Dword(std::uint32_t value) {
        Word(static_cast<std::uint16_t>(value & 0xFFFFU));
        Word(static_cast<std::uint16_t>(value >> 16U));
    }
    void Short(int value) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(value))); }
    void Byte(std::uint8_t value) { m_bytes.push_back(value); }
    void Text(std::string_view utf8) {
        for (const char16_t unit : Utf16(utf8)) {
            Word(static_cast<std::uint16_t>(unit));
        }
        Word(0);
    }
    void Ordinal(std::uint16_t value) {
        Word(0xFFFF);
        Word(value);
    }
    void AlignDword() {
        while (m_bytes.size() % 4 != 0) {
            m_bytes.push_back(0);
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

ControlClass ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::DefPushButton:
        case ControlKind::PushButton:
        case ControlKind::GroupBox:
        case ControlKind::CheckBox:
            return ControlClass::Button;
        case ControlKind::DropList:
        case ControlKind::DropDownCombo:
            return ControlClass::ComboBox;
        case ControlKind::Edit:
            return ControlClass::Edit;
        case ControlKind::Label:
        case ControlKind::Picture:
        case ControlKind::Icon:
        case ControlKind::ProgressBar:
        case ControlKind::CheckList:
        case ControlKind::TileArea:
            break;
    }
    return ControlClass::Static;
}

std::uint32_t KindStyle(const ControlTemplate& control) {
    switch (control.kind) {
        case ControlKind::DefPushButton:
            return ws::kBsDefPushButton;
        case ControlKind::GroupBox:
            return ws::kBsGroupBox;
        case ControlKind::Picture:
            return ws::kSsBitmap | ws::kSsRealSizeControl;
        case ControlKind::Icon:
            return ws::kSsIcon;
        case ControlKind::DropList:
            return ws::kCbsDropDownList;
        case ControlKind::DropDownCombo:
            return ws::kCbsDropDown;
        case ControlKind::CheckBox:
            return ws::kBsAutoCheckBox;
        case ControlKind::CheckList:
            return ws::kLvsReport | ws::kLvsSingleSel | ws::kLvsNoColumnHeader;
        case ControlKind::TileArea:
        case ControlKind::PushButton:
        case ControlKind::Label:
        case ControlKind::Edit:
        case ControlKind::ProgressBar:
            break;
    }
    return 0;
}

std::uint32_t FlagStyles(const ControlTemplate& control) {
    const bool combo = ClassOf(control.kind) == ControlClass::ComboBox;
    const bool edit = control.kind == ControlKind::Edit;
    std::uint32_t style = 0;
    style |= control.Has(kVisible) ? ws::kVisible : 0;
    style |= control.Has(kDisabled) ? ws::kDisabled : 0;
    style |= control.Has(kTabStop) ? ws::kTabStop : 0;
    style |= control.Has(kVScroll) ? ws::kVScroll : 0;
    style |= control.Has(kBorder) ? ws::kBorder : 0;
    style |= control.Has(kSorted) && combo ? ws::kCbsSort : 0;
    style |= control.Has(kAutoHScroll) ? (combo ? ws::kCbsAutoHScroll : ws::kEsAutoHScroll) : 0;
    style |= control.Has(kReadOnly) && edit ? ws::kEsReadOnly : 0;
    style |= control.Has(kDigitsOnly) && edit ? ws::kEsNumber : 0;
    return style;
}

}  // namespace

std::u16string Utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0   ? lead
                        : extra == 1 ? (lead & 0x1FU)
                        : extra == 2 ? (lead & 0x0FU)
                                     : (lead & 0x07U);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k) {
            code = (code << 6U) |
                   (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3FU);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10U)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFU)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::uint32_t DialogStyleOf(const DialogTemplate& dlg) {
    std::uint32_t style = ws::kPopup | ws::kDsSetFont;
    style |= dlg.Has(kCaptionBar) ? ws::kCaption : 0;
    style |= dlg.Has(kSystemMenu) ? ws::kSysMenu : 0;
    style |= dlg.Has(kModalFrame) ? ws::kDsModalFrame : 0;
    style |= dlg.Has(kCentredOnScreen) ? ws::kDsCenter : 0;
    style |= dlg.Has(kMinimiseBox) ? ws::kMinimizeBox : 0;
    style |= dlg.Has(kMaximiseBox) ? ws::kMaximizeBox : 0;
    return style;
}

std::uint32_t DialogExStyleOf(const DialogTemplate& dlg) {
    return dlg.Has(kAppWindow) ? ws::kExAppWindow : 0;
}

std::uint32_t ControlStyleOf(const ControlTemplate& control) {
    return ws::kChild | KindStyle(control) | FlagStyles(control);
}

std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& dlg) {
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: extended template
    out.Dword(0);      // helpID
    out.Dword(DialogExStyleOf(dlg));
    out.Dword(DialogStyleOf(dlg));
    out.Word(static_cast<std::uint16_t>(dlg.controls.size()));
    out.Short(0);
    out.Short(0);
    out.Short(dlg.cx);
    out.Short(dlg.cy);
    out.Word(0);  // no menu
    out.Word(0);  // the predefined dialog class
    out.Text(dlg.caption);
    out.Word(static_cast<std::uint16_t>(dlg.fontPoints));
    out.Word(kFontWeightNormal);
    out.Byte(0);  // not italic
    out.Byte(IsKoreanFace(dlg.fontFace) ? kHangulCharset : kDefaultCharset);
    out.Text(dlg.fontFace);

    for (const ControlTemplate& control : dlg.controls) {
        out.AlignDword();
        out.Dword(0);  // helpID
        out.Dword(0);  // exStyle
        out.Dword(ControlStyleOf(control));
        out.Short(control.rect.x);
        out.Short(control.rect.y);
        out.Short(control.rect.cx);
        out.Short(control.rect.cy);
        out.Dword(static_cast<std::uint32_t>(control.id));  // -1 for IDC_STATIC
        if (control.kind == ControlKind::ProgressBar) {
            out.Text(kProgressClass);
        } else if (control.kind == ControlKind::CheckList) {
            out.Text(kListViewClass);
        } else if (control.kind == ControlKind::TileArea) {
            out.Text(kTileAreaClass);
        } else {
            out.Ordinal(static_cast<std::uint16_t>(ClassOf(control.kind)));
        }
        if (control.resource != 0) {
            out.Ordinal(static_cast<std::uint16_t>(control.resource));
        } else {
            out.Text(control.text);
        }
        out.Word(0);  // no creation data
    }
    return out.Take();
}

}  // namespace velmora::ui
