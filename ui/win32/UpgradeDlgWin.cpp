#include "ui/win32/UpgradeDlgWin.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/win32/DialogResource.h"
#include "ui/win32/StationDlgWin.h"

namespace velmora::ui {

namespace {

// Posted to the dialog when the worker has queued calls for the UI thread.
constexpr UINT kRunCallsMessage = WM_APP + 1;

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

BOOL CALLBACK CloseOwnedBox(HWND hwnd, LPARAM owner) {
    if (::GetWindow(hwnd, GW_OWNER) == reinterpret_cast<HWND>(owner) && ::IsWindowVisible(hwnd)) {
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

}  // namespace

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

CUpgradeDlgWin::CUpgradeDlgWin(HINSTANCE instance)
    : CDialogWindowWin(MainDialogTemplate), m_instance(instance) {
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
    return RunModal(m_instance, nullptr);
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
