#include "ui/win32/UpgradeDlgWin.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/win32/DialogResource.h"
#include "ui/win32/StationDlgWin.h"

namespace velmora::ui {

namespace {

// Posted to the dialog when the worker has queued calls for the UI thread.
constexpr UINT kRunCallsMessage = WM_APP + 1;

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

void CentreOver(HWND hwnd, HWND owner) {
    RECT box{};
    RECT over{};
    ::GetWindowRect(hwnd, &box);
    if (owner == nullptr || !::GetWindowRect(owner, &over)) {
        return;
    }
    const LONG x = over.left + ((over.right - over.left) - (box.right - box.left)) / 2;
    const LONG y = over.top + ((over.bottom - over.top) - (box.bottom - box.top)) / 2;
    ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_INITDIALOG) {
        CentreOver(hwnd, ::GetWindow(hwnd, GW_OWNER));
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
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

BOOL CALLBACK CloseOwnedBox(HWND hwnd, LPARAM owner) {
    if (::GetWindow(hwnd, GW_OWNER) == reinterpret_cast<HWND>(owner) && ::IsWindowVisible(hwnd)) {
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
    return TRUE;
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

// One of the two progress bars, as the job sees it: every call is carried
// to the UI thread and returns once the bar shows it.
class CUpgradeDlgWin::Bar final : public IProgressBar {
public:
    Bar(CUpgradeDlgWin& dlg, int id) : m_dlg(dlg), m_id(id) {}
    void SetRange(int lower, int upper) override {
        m_dlg.m_calls->Run([this, lower, upper] {
            ::SendMessageW(m_dlg.Item(m_id), PBM_SETRANGE32, static_cast<WPARAM>(lower),
                           static_cast<LPARAM>(upper));
        });
    }
    void SetPos(int pos) override {
        m_dlg.m_calls->Run([this, pos] {
            ::SendMessageW(m_dlg.Item(m_id), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
        });
    }

private:
    CUpgradeDlgWin& m_dlg;
    int m_id;
};

// The job's message boxes, shown modally on the UI thread.
class CUpgradeDlgWin::Boxes final : public IMessageBox {
public:
    explicit Boxes(CUpgradeDlgWin& dlg) : m_dlg(dlg) {}
    using IMessageBox::Show;
    void Show(const std::string& text, MessageCaption caption) override {
        m_dlg.m_calls->Run([this, &text, caption] { m_dlg.ShowMessage({text, caption, {}}); });
    }

private:
    CUpgradeDlgWin& m_dlg;
};

CUpgradeDlgWin::CUpgradeDlgWin(HINSTANCE instance) : m_instance(instance) {
    m_calls = std::make_unique<CCallQueue>([this] {
        // The dialog shuts the queue down and waits for the job before its
        // window goes, so the window is there for every wake-up.
        ::PostMessageW(m_hWnd, kRunCallsMessage, 0, 0);
    });
    m_analyseBar = std::make_unique<Bar>(*this, IDC_ANALYSEPROGRESS);
    m_sendBar = std::make_unique<Bar>(*this, IDC_SENDPROGRESS);
    m_boxes = std::make_unique<Boxes>(*this);
    IDialogView& view = *this;
    m_model = std::make_unique<CUpgradeDlgModel>(
        view, ViewJobLink{*m_calls, *m_analyseBar, *m_sendBar, *m_boxes});
}

CUpgradeDlgWin::~CUpgradeDlgWin() {
    m_model.reset();  // ends a running job before the bars and the queue go
}

INT_PTR CUpgradeDlgWin::DoModal() {
    return RunTemplateDialog(m_instance, MainDialogTemplate(), nullptr, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CUpgradeDlgWin::TakeFile(const std::wstring& path) {
    if (path.empty()) {
        return;
    }
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length > 0 && length < size ? length : 0);
    m_model->TakeFile(Utf8(full.empty() ? path : full));
}

INT_PTR CALLBACK CUpgradeDlgWin::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CUpgradeDlgWin*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        self->OnInitDialog();
        return TRUE;  // the focus goes to the first tab stop, Start
    }
    auto* self = reinterpret_cast<CUpgradeDlgWin*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CUpgradeDlgWin::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if (m_model->OnSysCommand(static_cast<unsigned>(wParam))) {
                ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;  // move, close and the rest: the system's handling
        case WM_CLOSE:
            Close();
            return TRUE;
        case kRunCallsMessage:
            m_calls->RunPending();
            return TRUE;
        default:
            return FALSE;
    }
}

void CUpgradeDlgWin::OnInitDialog() {
    FillLists();
    m_model->OnInitDialog();
    if (!m_model->m_strFilePath.empty()) {
        SetControlText(IDC_FILEPATH, m_model->m_strFilePath);  // a file from the command line
    }
    AddSystemMenuItems();
    for (const int size : {ICON_BIG, ICON_SMALL}) {
        const int pixels = ::GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
        HANDLE icon = ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, pixels,
                                   pixels, LR_DEFAULTCOLOR);
        ::SendMessageW(m_hWnd, WM_SETICON, static_cast<WPARAM>(size),
                       reinterpret_cast<LPARAM>(icon));
    }
    m_model->Reopen();
}

void CUpgradeDlgWin::FillLists() {
    FillTemplateLists(m_hWnd, MainDialogTemplate(), IDC_PORT);  // the model fills the Port list
}

void CUpgradeDlgWin::AddSystemMenuItems() {
    HMENU menu = ::GetSystemMenu(m_hWnd, FALSE);
    if (menu == nullptr) {
        return;  // the dialog opens all the same
    }
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(m_instance, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    if (length > 0) {
        const std::wstring item(text, static_cast<std::size_t>(length));
        ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, item.c_str());
    }
    ::AppendMenuW(menu, MF_STRING, IDM_SETTINGS, Wide(kSettingsItemText).c_str());
    ::AppendMenuW(menu, MF_STRING, IDM_STATION, Wide(kStationItemText).c_str());
}

void CUpgradeDlgWin::OnCommand(int id, int code) {
    if (id == ID_OK && code == BN_CLICKED) {
        m_model->OnStart();  // Start is the default button: Enter too
    } else if (id == ID_CANCEL) {
        Close();
    } else if (id == IDC_SELECTFILE && code == BN_CLICKED) {
        m_model->OnSelectFile();
    } else if (id == IDC_PORT && code == CBN_DROPDOWN) {
        m_model->RefreshPorts();  // an adapter plugged in since shows up
    } else if (id == IDC_UPGRADETYPE && code == CBN_SELCHANGE) {
        const int index = static_cast<int>(::SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
        if (index >= 0) {
            m_model->OnSelchangeUpgradeType(ItemText(id, index));
        }
    }
}

void CUpgradeDlgWin::Close() {
    if (!m_model->ConfirmClose()) {
        return;
    }
    m_model->EndJob();
    ::EndDialog(m_hWnd, IDCANCEL);
}

std::string CUpgradeDlgWin::ControlText(int id) {
    return TemplateControlText(m_hWnd, MainDialogTemplate(), id);
}

void CUpgradeDlgWin::SetControlText(int id, const std::string& text) {
    ::SetWindowTextW(Item(id), Wide(text).c_str());
}

int CUpgradeDlgWin::ItemCount(int id) {
    return static_cast<int>(::SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
}

std::string CUpgradeDlgWin::ItemText(int id, int index) {
    return ComboItemText(Item(id), index);
}

void CUpgradeDlgWin::SelectItem(int id, int index) {
    ::SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CUpgradeDlgWin::SetItems(int id, const std::vector<ListItem>& items) {
    HWND list = Item(id);
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    // Inserted, not added: a sorted list keeps the model's order.
    HDC dc = ::GetDC(list);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const ListItem& item : items) {
        const std::wstring text = Wide(item.text);
        ::SendMessageW(list, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                       reinterpret_cast<LPARAM>(text.c_str()));
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, size.cx);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    // The opened list is as wide as its longest entry with its description.
    const int margin = ::GetSystemMetrics(SM_CXVSCROLL) + 8;
    ::SendMessageW(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + margin), 0);
}

void CUpgradeDlgWin::EnableControl(int id, bool enable) {
    ::EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void CUpgradeDlgWin::ShowControl(int id, bool show) {
    HWND control = Item(id);
    ::ShowWindow(control, show ? SW_SHOW : SW_HIDE);
    // The label stands right before its control in the template.
    if (MainDialogTemplate().LabelOf(id) != nullptr) {
        ::ShowWindow(::GetWindow(control, GW_HWNDPREV), show ? SW_SHOW : SW_HIDE);
    }
}

void CUpgradeDlgWin::FocusControl(int id) {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
    ::SendMessageW(Item(id), EM_SETSEL, 0, -1);
}

bool CUpgradeDlgWin::HasFocus(int id) {
    return ::GetFocus() == Item(id);
}

void CUpgradeDlgWin::ResizeDialog(int cx, int cy) {
    RECT client{0, 0, cx, cy};
    ::MapDialogRect(m_hWnd, &client);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&client, style, FALSE, exStyle);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CUpgradeDlgWin::CheckSysMenuItem(unsigned command, bool checked) {
    ::CheckMenuItem(::GetSystemMenu(m_hWnd, FALSE), command,
                    static_cast<UINT>(MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)));
}

bool CUpgradeDlgWin::AskYesNo(const std::string& question) {
    return AskYesNoBox(m_hWnd, question);
}

void CUpgradeDlgWin::ShowMessage(const MessageRequest& message) {
    ShowMessageBox(m_hWnd, message);
}

std::optional<std::string> CUpgradeDlgWin::ChooseFile(const std::vector<FileFilter>& filters) {
    return ChooseOpenFile(m_hWnd, filters);
}

void CUpgradeDlgWin::ShowAbout() {
    RunAboutBox(m_instance, m_hWnd);
}

void CUpgradeDlgWin::OpenStation(const StationChoices& choices) {
    CStationDlgWin station(m_instance, choices);
    station.DoModal(m_hWnd);
}

void CUpgradeDlgWin::CloseOpenBoxes() {
    ::EnumThreadWindows(::GetCurrentThreadId(), CloseOwnedBox, reinterpret_cast<LPARAM>(m_hWnd));
}

void RunAboutBox(HINSTANCE instance, HWND owner) {
    RunTemplateDialog(instance, AboutDialogTemplate(), owner, AboutProc, 0);
}

}  // namespace velmora::ui
