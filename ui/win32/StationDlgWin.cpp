#include "ui/win32/StationDlgWin.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cwchar>

#include "ui/DialogTemplates.h"
#include "ui/win32/DialogResource.h"
#include "ui/win32/UpgradeDlgWin.h"

namespace velmora::ui {

namespace {

// Posted to the window when the station has queued calls for the UI thread.
constexpr UINT kRunCallsMessage = WM_APP + 1;
// Posted at the start when the window is to start the station at once.
constexpr UINT kStartMessage = WM_APP + 2;
constexpr UINT_PTR kTickTimer = 1;

COLORREF Colour(std::uint32_t rgb) {
    return RGB((rgb >> 16U) & 0xFFU, (rgb >> 8U) & 0xFFU, rgb & 0xFFU);
}

void RegisterTileClass(HINSTANCE instance, WNDPROC proc) {
    static const std::wstring name = Wide(kTileAreaClass);
    WNDCLASSEXW tiles{};
    tiles.cbSize = sizeof(tiles);
    tiles.lpfnWndProc = proc;
    tiles.hInstance = instance;
    tiles.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    tiles.lpszClassName = name.c_str();
    ::RegisterClassExW(&tiles);  // a second registration fails harmlessly
}

// The tiles' states, one line each: the tile area's text, for screen
// readers and for the window's tests.
std::string TilesText(const std::vector<StationTile>& tiles) {
    std::string text;
    for (const StationTile& tile : tiles) {
        text += (text.empty() ? "" : "\n") + tile.name + ": " + tile.state;
    }
    return text;
}

}  // namespace

CStationDlgWin::CStationDlgWin(HINSTANCE instance, StationChoices choices)
    : CDialogWindowWin(StationDialogTemplate), m_instance(instance), m_choices(std::move(choices)) {
    RegisterTileClass(instance, TilesProc);
    m_calls = std::make_unique<CCallQueue>([this] {
        // The window shuts the queue down and waits for the station before it
        // goes, so the window is there for every wake-up.
        ::PostMessageW(m_hWnd, kRunCallsMessage, 0, 0);
    });
}

CStationDlgWin::~CStationDlgWin() {
    m_model.reset();  // ends a run before the queue goes
    if (m_boldFont != nullptr) {
        ::DeleteObject(m_boldFont);
    }
}

INT_PTR CStationDlgWin::DoModal(HWND owner) {
    return RunModal(m_instance, owner);
}

LRESULT CALLBACK CStationDlgWin::TilesProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CStationDlgWin*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT && self != nullptr) {
        self->PaintTiles(hwnd);
        return 0;
    }
    if (message == WM_ERASEBKGND) {
        return 1;  // painted whole, off screen
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

INT_PTR CStationDlgWin::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            Close();
            return TRUE;
        case WM_TIMER:
            if (wParam == kTickTimer && m_model) {
                m_model->OnTimer();
            }
            return TRUE;
        case kRunCallsMessage:
            m_calls->RunPending();
            return TRUE;
        case kStartMessage:
            m_model->OnStart();
            return TRUE;
        default:
            return FALSE;
    }
}

void CStationDlgWin::OnInitDialog() {
    FillTemplateLists(m_hWnd, StationDialogTemplate(), ID_NONE);
    HWND ports = Item(IDC_ST_PORTS);
    ListView_SetExtendedListViewStyle(ports, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    RECT client{};
    ::GetClientRect(ports, &client);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - client.left - ::GetSystemMetrics(SM_CXVSCROLL);
    ::SendMessageW(ports, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    ::SetWindowLongPtrW(Item(IDC_ST_TILES), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)), sizeof(font),
                 &font);
    font.lfWeight = FW_BOLD;
    m_boldFont = ::CreateFontIndirectW(&font);
    for (const int size : {ICON_BIG, ICON_SMALL}) {
        const int pixels = ::GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
        HANDLE icon = ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, pixels,
                                   pixels, LR_DEFAULTCOLOR);
        ::SendMessageW(m_hWnd, WM_SETICON, static_cast<WPARAM>(size),
                       reinterpret_cast<LPARAM>(icon));
    }
    IStationView& view = *this;
    m_model = std::make_unique<CStationModel>(view, *m_calls, m_choices);
    m_model->OnInitDialog();
    ::SetTimer(m_hWnd, kTickTimer, static_cast<UINT>(CStationModel::kTick.count()), nullptr);
    if (m_startWhenShown) {
        ::PostMessageW(m_hWnd, kStartMessage, 0, 0);
    }
}

void CStationDlgWin::OnCommand(int id, int code) {
    if (code != BN_CLICKED && id != IDC_UPGRADETYPE) {
        return;
    }
    switch (id) {
        case ID_OK:
            m_model->OnStart();  // Start is the default button: Enter too
            break;
        case ID_CANCEL:
            Close();
            break;
        case IDC_ST_STOP:
            m_model->OnStop();
            break;
        case IDC_SELECTFILE:
            m_model->OnSelectFile();
            break;
        case IDC_ST_LOGFILE:
            m_model->OnSelectLogFile();
            break;
        case IDC_ST_EVERYADAPTER:
            m_model->OnEveryAdapter();
            break;
        case IDC_UPGRADETYPE:
            if (code == CBN_SELCHANGE) {
                const int index = static_cast<int>(::SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
                if (index >= 0) {
                    m_model->OnSelchangeUpgradeType(ItemText(id, index));
                }
            }
            break;
        default:
            break;
    }
}

void CStationDlgWin::Close() {
    if (!m_model->ConfirmClose()) {
        return;
    }
    ::KillTimer(m_hWnd, kTickTimer);
    m_model->EndRun();
    ::EndDialog(m_hWnd, IDCANCEL);
}

std::vector<TileRect> CStationDlgWin::TileLayout() const {
    RECT client{};
    ::GetClientRect(Item(IDC_ST_TILES), &client);
    return LayoutTiles(m_tiles.size(), client.right, client.bottom);
}

void CStationDlgWin::PaintTiles(HWND tiles) {
    PAINTSTRUCT paint{};
    HDC screen = ::BeginPaint(tiles, &paint);
    RECT client{};
    ::GetClientRect(tiles, &client);
    // Drawn off screen, then shown at once: no flicker at ten frames a second.
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    HGDIOBJ oldFont =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
    ::SetBkMode(dc, TRANSPARENT);
    const std::vector<TileRect> rects = TileLayout();
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        const RECT place{rects[i].x, rects[i].y, rects[i].x + rects[i].cx,
                         rects[i].y + rects[i].cy};
        RECT overlap{};
        if (::IntersectRect(&overlap, &place, &paint.rcPaint)) {
            PaintTile(dc, m_tiles[i], place);
        }
    }
    ::BitBlt(screen, paint.rcPaint.left, paint.rcPaint.top,
             paint.rcPaint.right - paint.rcPaint.left, paint.rcPaint.bottom - paint.rcPaint.top, dc,
             paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::EndPaint(tiles, &paint);
}

void CStationDlgWin::DrawLine(HDC dc, const std::string& text, bool bold, RECT& box, int lines) {
    HGDIOBJ old = nullptr;
    if (bold && m_boldFont != nullptr) {
        old = ::SelectObject(dc, m_boldFont);
    }
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT line = box;
    line.bottom = std::min(box.bottom, box.top + metrics.tmHeight * lines);
    const UINT format =
        DT_NOPREFIX | DT_LEFT | DT_TOP |
        (lines == 1 ? DT_SINGLELINE | DT_END_ELLIPSIS : DT_WORDBREAK | DT_EDITCONTROL);
    std::wstring wide = Wide(text);
    ::DrawTextW(dc, wide.data(), static_cast<int>(wide.size()), &line, format);
    box.top = line.bottom;
    if (old != nullptr) {
        ::SelectObject(dc, old);
    }
}

void CStationDlgWin::PaintTile(HDC dc, const StationTile& tile, const RECT& place) {
    const TileColours colours = TileColoursOf(tile.colour);
    HBRUSH background = ::CreateSolidBrush(Colour(colours.background));
    HPEN border = ::CreatePen(PS_SOLID, 2, Colour(colours.border));
    HGDIOBJ oldBrush = ::SelectObject(dc, background);
    HGDIOBJ oldPen = ::SelectObject(dc, border);
    ::Rectangle(dc, place.left + 1, place.top + 1, place.right, place.bottom);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(border);
    ::DeleteObject(background);

    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const int line = metrics.tmHeight;
    RECT box{place.left + 6, place.top + 4, place.right - 6, place.bottom - 4};
    ::SetTextColor(dc, Colour(colours.text));
    DrawLine(dc, tile.name, true, box, 1);
    DrawLine(dc, tile.description, false, box, 1);
    DrawLine(dc, tile.state, true, box, 1);
    if (tile.percent >= 0) {
        RECT bar{box.left, box.top + 2, box.right, box.top + 2 + line / 2};
        ::FillRect(dc, &bar, ::GetSysColorBrush(COLOR_WINDOW));
        RECT done = bar;
        done.right = bar.left + (bar.right - bar.left) * tile.percent / 100;
        HBRUSH fill = ::CreateSolidBrush(Colour(kTileBarColour));
        ::FillRect(dc, &done, fill);
        ::DeleteObject(fill);
        HBRUSH frame = ::CreateSolidBrush(Colour(colours.border));
        ::FrameRect(dc, &bar, frame);
        ::DeleteObject(frame);
        box.top = bar.bottom + 4;
    }
    const int room = std::max(1, static_cast<int>((box.bottom - box.top - line) / line));
    RECT detail = box;
    DrawLine(dc, tile.detail, false, detail, room);
    box.top = std::max(detail.top, box.bottom - line);
    DrawLine(dc, tile.counts, false, box, 1);
}

void CStationDlgWin::EnableControl(int id, bool enable) {
    HWND control = Item(id);
    if (!enable && ::GetFocus() == control) {
        // A disabled control keeps no focus: the window itself takes the keys.
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

bool CStationDlgWin::IsChecked(int id) {
    return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CStationDlgWin::SetChecked(int id, bool checked) {
    ::SendMessageW(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void CStationDlgWin::SetPortItems(const std::vector<StationPortItem>& items) {
    HWND list = Item(IDC_ST_PORTS);
    ListView_DeleteAllItems(list);
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::wstring text = Wide(items[i].text);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = text.data();
        const auto index = static_cast<int>(
            ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        ListView_SetCheckState(list, index, items[i].checked ? TRUE : FALSE);
    }
}

std::vector<bool> CStationDlgWin::PortChecks() {
    HWND list = Item(IDC_ST_PORTS);
    std::vector<bool> checks;
    const int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; ++i) {
        checks.push_back(ListView_GetCheckState(list, i) != 0);
    }
    return checks;
}

void CStationDlgWin::ShowTiles(const std::vector<StationTile>& tiles,
                               const std::vector<std::size_t>& changed) {
    const bool relaid = tiles.size() != m_tiles.size();
    m_tiles = tiles;
    HWND area = Item(IDC_ST_TILES);
    ::SetWindowTextW(area, Wide(TilesText(m_tiles)).c_str());
    if (relaid) {
        ::InvalidateRect(area, nullptr, FALSE);
        return;
    }
    const std::vector<TileRect> rects = TileLayout();
    for (const std::size_t i : changed) {
        const RECT place{rects[i].x, rects[i].y, rects[i].x + rects[i].cx,
                         rects[i].y + rects[i].cy};
        ::InvalidateRect(area, &place, FALSE);
    }
}

bool CStationDlgWin::AskYesNo(const std::string& question) {
    return AskYesNoBox(m_hWnd, question);
}

std::optional<std::string> CStationDlgWin::ChooseFile(const std::vector<FileFilter>& filters) {
    return ChooseOpenFile(m_hWnd, filters);
}

std::optional<std::string> CStationDlgWin::ChooseLogFile(const std::string& current) {
    std::wstring file(32768, L'\0');
    const std::wstring start = Wide(current);
    std::wmemcpy(file.data(), start.c_str(), std::min(start.size(), file.size() - 1));
    const wchar_t filter[] = L"Job log (*.jsonl)\0*.jsonl\0All files (*.*)\0*.*\0";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = L"jsonl";
    // Jobs are appended to an existing log: no question about replacing it.
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_PATHMUSTEXIST;
    if (!::GetSaveFileNameW(&ofn)) {
        return std::nullopt;
    }
    file.resize(std::wcslen(file.c_str()));
    return Utf8(file);
}

void CStationDlgWin::PlaySound(StationSound sound) {
    // The system's sounds for OK and for an error.
    ::MessageBeep(sound == StationSound::JobFinished ? MB_OK : MB_ICONHAND);
}

}  // namespace velmora::ui
