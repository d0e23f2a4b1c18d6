#include "ui/win32/TemplateDialogWin.h"

#include <commdlg.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "ui/win32/DialogResource.h"

namespace velmora::ui {

namespace {

// A template in memory at a 4-byte boundary, as the dialog manager needs it,
// in the face that this system can draw.
std::vector<DWORD> AlignedTemplate(DialogTemplate dlg) {
    dlg.fontFace = DialogFace();
    const std::vector<std::uint8_t> bytes = BuildDialogTemplate(dlg);
    std::vector<DWORD> aligned((bytes.size() + 3) / 4, 0);
    std::memcpy(aligned.data(), bytes.data(), bytes.size());
    return aligned;
}

const DLGTEMPLATE* AsTemplate(const std::vector<DWORD>& aligned) {
    return reinterpret_cast<const DLGTEMPLATE*>(aligned.data());
}

int CALLBACK NoteFamily(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metric*/, DWORD /*type*/,
                        LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;  // one is enough
}

bool FontInstalled(const std::string& face) {
    LOGFONTW font{};
    font.lfCharSet = DEFAULT_CHARSET;
    const std::wstring name = Wide(face);
    if (name.size() >= LF_FACESIZE) {
        return false;
    }
    std::wmemcpy(font.lfFaceName, name.c_str(), name.size() + 1);
    bool found = false;
    HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &font, NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found;
}

}  // namespace

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

INT_PTR RunTemplateDialog(HINSTANCE instance, const DialogTemplate& dlg, HWND owner, DLGPROC proc,
                          LPARAM param) {
    const std::vector<DWORD> aligned = AlignedTemplate(dlg);
    return ::DialogBoxIndirectParamW(instance, AsTemplate(aligned), owner, proc, param);
}

void FillTemplateLists(HWND hwnd, const DialogTemplate& dlg, int skip) {
    // In the order of the initialisation data; a sorted list sorts them itself.
    for (const ControlTemplate& control : dlg.controls) {
        if (control.id == skip || control.kind == ControlKind::CheckList) {
            continue;
        }
        for (const std::string& item : control.items) {
            const std::wstring text = Wide(item);
            ::SendMessageW(::GetDlgItem(hwnd, control.id), CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
}

std::string ComboItemText(HWND combo, int index) {
    const auto length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

std::string TemplateControlText(HWND hwnd, const DialogTemplate& dlg, int id) {
    const ControlTemplate* control = dlg.Find(id);
    HWND item = ::GetDlgItem(hwnd, id);
    if (control != nullptr && control->kind == ControlKind::DropList) {
        const int index = static_cast<int>(::SendMessageW(item, CB_GETCURSEL, 0, 0));
        return index < 0 ? std::string() : ComboItemText(item, index);
    }
    return Utf8(WindowText(item));
}

bool AskYesNoBox(HWND owner, const std::string& question) {
    return ::MessageBoxW(owner, Wide(question).c_str(), ExecutableBaseName().c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void ShowMessageBox(HWND owner, const MessageRequest& message) {
    std::string text = message.text;
    if (!message.detail.empty()) {
        text += "\n\n" + message.detail;
    }
    const std::wstring caption =
        message.caption == MessageCaption::Prompt ? Wide(kPromptCaption) : ExecutableBaseName();
    ::MessageBoxW(owner, Wide(text).c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::optional<std::string> ChooseOpenFile(HWND owner, const std::vector<FileFilter>& filters) {
    std::wstring filter;
    for (const FileFilter& entry : filters) {
        filter += Wide(entry.description) + L'\0' + Wide(entry.pattern) + L'\0';
    }
    filter += L'\0';
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    // Any name may be typed, a channel list (.sdx) among them, even though
    // the filter shows only images.
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!::GetOpenFileNameW(&ofn)) {
        return std::nullopt;  // cancelled: nothing changes
    }
    file.resize(std::wcslen(file.c_str()));
    return Utf8(file);
}

const std::string& DialogFace() {
    // Where a face is missing, the dialog manager's font mapper may pick a
    // serif one; so a missing Gulim gives way to a face that is there. The
    // last name is mapped by Windows itself to its dialog face.
    static const std::string face =
        ChooseDialogFace(FontInstalled, {"Tahoma", "Microsoft Sans Serif", "Segoe UI", "Arial",
                                         "Liberation Sans", "DejaVu Sans", "MS Shell Dlg 2"});
    return face;
}

std::wstring ExecutableBaseName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

}  // namespace velmora::ui
