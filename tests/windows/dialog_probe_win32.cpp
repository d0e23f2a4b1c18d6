// velmora-probe.exe: looks at and drives the dialog of velmora.exe from
// another process under the same (Wine) window server, for
// scripts/test-windows.sh. Every wait polls for its condition until a deadline.
//
//   velmora-probe wait CAPTION SECONDS     until the main window is shown
//   velmora-probe dump CAPTION             its client size and its controls: id,
//                                          class, visible, enabled, text
//   velmora-probe key CAPTION return|escape
//   velmora-probe sys CAPTION COMMAND      a system command (WM_SYSCOMMAND)
//   velmora-probe owned CAPTION SECONDS [ID TEXT]
//                                          a box the window opened: its caption and
//                                          controls; then (after typing TEXT into
//                                          its control ID) closes it with OK
//   velmora-probe answer CAPTION SECONDS yes|no
//                                          the same, answered with Yes or No
//   velmora-probe click CAPTION ID         presses button ID
//   velmora-probe items CAPTION ID         the items of list ID, one a line
//   velmora-probe dropdown CAPTION ID      opens and closes list ID
//   velmora-probe select CAPTION ID TEXT   chooses the item TEXT of list ID
//   velmora-probe bar CAPTION ID POS SECONDS  until progress bar ID shows POS
//   velmora-probe shows CAPTION ID SECONDS TEXT  until control ID shows TEXT
//   velmora-probe begins CAPTION ID SECONDS TEXT until control ID's text begins with TEXT
//   velmora-probe shot CAPTION FILE.bmp    the window as the screen shows it
//   velmora-probe gone CAPTION SECONDS     until the window has closed
//
// Exit status 0 on success, 1 when a wait ran out or a window is missing, 2
// for a bad command line. Texts are read and printed as UTF-8.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string Utf8(const std::wstring& wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const char* utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), size);
    out.resize(out.size() - 1);
    return out;
}

std::wstring Text(HWND hwnd) {
    // WM_GETTEXT through SendMessageTimeout: a hung window must not hang the probe.
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return std::wstring(buffer, copied);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

struct Search {
    std::wstring caption;
    HWND owner = nullptr;
    HWND found = nullptr;
    bool owned = false;  // a window with `caption` that has an owner will do
};

// A visible top-level window: the main one (no owner) with `caption`, or any
// window owned by `owner`.
BOOL CALLBACK Match(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(hwnd)) {
        return TRUE;
    }
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    const bool hit = search->owner != nullptr
                         ? owner == search->owner
                         : (owner == nullptr || search->owned) && Text(hwnd) == search->caption;
    if (hit) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The window without an owner that has `caption`; else one with an owner
// (the station window opened from the main dialog).
HWND FindMain(const std::wstring& caption) {
    Search search{caption, nullptr, nullptr, false};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        search.owned = true;
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

HWND FindOwned(HWND owner) {
    Search search{std::wstring(), owner, nullptr, false};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Condition>
bool WaitFor(double seconds, Condition condition) {
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // poll interval
    }
    return true;
}

// One line a text: line breaks and tabs written as \n, \r and \t.
std::string Escaped(const std::wstring& text) {
    std::string out;
    for (const char ch : Utf8(text)) {
        out += ch == '\n'   ? std::string("\\n")
               : ch == '\r' ? std::string("\\r")
               : ch == '\t' ? std::string("\\t")
                            : std::string(1, ch);
    }
    return out;
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM /*param*/) {
    const int id = GetDlgCtrlID(hwnd);
    std::printf("%d\t%s\t%d\t%d\t%s\n", id, Utf8(ClassOf(hwnd)).c_str(),
                IsWindowVisible(hwnd) ? 1 : 0, IsWindowEnabled(hwnd) ? 1 : 0,
                Escaped(Text(hwnd)).c_str());
    return TRUE;
}

void Dump(HWND hwnd) {
    std::printf("caption\t%s\n", Escaped(Text(hwnd)).c_str());
    RECT client{};
    GetClientRect(hwnd, &client);
    std::printf("size\t%ld\t%ld\n", client.right, client.bottom);
    EnumChildWindows(hwnd, PrintChild, 0);
    std::fflush(stdout);
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::vector<std::wstring> Items(HWND list) {
    std::vector<std::wstring> items;
    const auto count = Send(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const auto length = Send(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        Send(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
        items.push_back(text);
    }
    return items;
}

// Waits for a box owned by `main`, prints it, and presses `button` in it.
int AnswerBox(HWND main, double seconds, int button, int editId, const char* typed) {
    HWND box = nullptr;
    if (!WaitFor(seconds, [&] { return (box = FindOwned(main)) != nullptr; })) {
        std::fprintf(stderr, "velmora-probe: no box opened within %.0f s\n", seconds);
        return 1;
    }
    Dump(box);
    if (typed != nullptr) {
        const std::wstring text = Wide(typed);
        Send(GetDlgItem(box, editId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    return WaitFor(seconds, [&] { return !IsWindow(box) || !IsWindowVisible(box); }) ? 0 : 1;
}

// Posts a key to the control with the focus in the window's thread, so that
// the dialog manager of that thread handles it as typed.
void PressKey(HWND hwnd, UINT key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND target = hwnd;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) &&
        info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16U)));
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16U) | 0xC0000000U));
}

bool SaveBitmap(HWND hwnd, const char* path) {
    // Drawn active, as the user sees the window they work in, and the same on
    // every run whichever window the system made active.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(hwnd, WM_NCACTIVATE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    RedrawWindow(hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;  // bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3U;
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(bmi.bmiHeader);
    file.bfSize = file.bfOffBits + size;
    bool written = false;
    if (copied) {
        if (FILE* out = std::fopen(path, "wb")) {
            written = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                      std::fwrite(&bmi.bmiHeader, sizeof(bmi.bmiHeader), 1, out) == 1 &&
                      std::fwrite(bits, size, 1, out) == 1;
            written = std::fclose(out) == 0 && written;
        }
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: velmora-probe wait|dump|key|sys|click|owned|answer|items|dropdown|select|bar|"
        "shows|begins|shot|gone CAPTION [ARG...]\n");
    return 2;
}

// Commands on the dialog's controls; -1 when the command is not one of them.
int ControlCommand(HWND main, const std::string& command, int argc, char** argv) {
    if (command == "items" && argc == 4) {
        for (const std::wstring& item : Items(GetDlgItem(main, std::atoi(argv[3])))) {
            std::printf("%s\n", Escaped(item).c_str());
        }
        std::fflush(stdout);
        return 0;
    }
    if (command == "dropdown" && argc == 4) {
        // Opening the list notifies the dialog (CBN_DROPDOWN) first.
        const HWND list = GetDlgItem(main, std::atoi(argv[3]));
        Send(list, CB_SHOWDROPDOWN, TRUE, 0);
        Send(list, CB_SHOWDROPDOWN, FALSE, 0);
        return 0;
    }
    if (command == "select" && argc == 5) {
        const HWND list = GetDlgItem(main, std::atoi(argv[3]));
        const std::vector<std::wstring> items = Items(list);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i] == Wide(argv[4])) {
                Send(list, CB_SETCURSEL, i, 0);
                return 0;
            }
        }
        std::fprintf(stderr, "velmora-probe: no item \"%s\"\n", argv[4]);
        return 1;
    }
    if (command == "shows" && argc == 6) {
        const HWND control = GetDlgItem(main, std::atoi(argv[3]));
        const std::wstring want = Wide(argv[5]);
        return WaitFor(std::atof(argv[4]), [&] { return Text(control) == want; }) ? 0 : 1;
    }
    if (command == "begins" && argc == 6) {
        const HWND control = GetDlgItem(main, std::atoi(argv[3]));
        const std::wstring want = Wide(argv[5]);
        return WaitFor(std::atof(argv[4]), [&] { return Text(control).rfind(want, 0) == 0; }) ? 0
                                                                                              : 1;
    }
    if (command == "bar" && argc == 6) {
        const HWND bar = GetDlgItem(main, std::atoi(argv[3]));
        const int want = std::atoi(argv[4]);
        const auto atWant = [&] {
            DWORD_PTR pos = 0;
            SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
            return static_cast<int>(pos) == want;
        };
        return WaitFor(std::atof(argv[5]), atWant) ? 0 : 1;
    }
    return -1;
}

// Commands on the window itself: keys, menu items, buttons and its boxes.
int WindowCommand(HWND main, const std::string& command, int argc, char** argv) {
    const double seconds = argc > 3 ? std::atof(argv[3]) : 0.0;
    if (command == "dump") {
        Dump(main);
        return 0;
    }
    if (command == "key" && argc == 4) {
        const std::string key = argv[3];
        if (key != "return" && key != "escape") {
            return Usage();
        }
        PressKey(main, key == "return" ? VK_RETURN : VK_ESCAPE);
        return 0;
    }
    if (command == "sys" && argc == 4) {
        PostMessageW(main, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(argv[3], nullptr, 0)),
                     0);
        return 0;
    }
    if (command == "click" && argc == 4) {
        const int id = std::atoi(argv[3]);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(main, id)));
        return 0;
    }
    if (command == "owned" && (argc == 4 || argc == 6)) {
        return AnswerBox(main, seconds, IDOK, argc == 6 ? std::atoi(argv[4]) : 0,
                         argc == 6 ? argv[5] : nullptr);
    }
    if (command == "answer" && argc == 5) {
        const std::string button = argv[4];
        if (button != "yes" && button != "no") {
            return Usage();
        }
        return AnswerBox(main, seconds, button == "yes" ? IDYES : IDNO, 0, nullptr);
    }
    if (command == "shot" && argc == 4) {
        return SaveBitmap(main, argv[3]) ? 0 : 1;
    }
    const int status = ControlCommand(main, command, argc, argv);
    return status >= 0 ? status : Usage();
}

}  // namespace

int Probe(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    const std::wstring caption = Wide(argv[2]);
    const double seconds = argc > 3 ? std::atof(argv[3]) : 0.0;
    if (command == "wait") {
        return WaitFor(seconds, [&] { return FindMain(caption) != nullptr; }) ? 0 : 1;
    }
    if (command == "gone") {
        return WaitFor(seconds, [&] { return FindMain(caption) == nullptr; }) ? 0 : 1;
    }
    const HWND main = FindMain(caption);
    if (main == nullptr) {
        std::fprintf(stderr, "velmora-probe: no window \"%s\"\n", argv[2]);
        return 1;
    }
    return WindowCommand(main, command, argc, argv);
}

// The arguments as UTF-8 from the wide command line: the narrow ones are in
// the code page, which cannot spell every text the tests look for (the
// station's totals line has a middle dot).
int main() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return Probe(static_cast<int>(arguments.size()), argv.data());
}
