// velmora.exe: the upgrade dialog on Windows. `velmora.exe [FILE]` takes FILE
// as if it had been chosen with Select File; `--help` and `--version` answer
// in a message box, as the program has no console. `velmora.exe --station
// [FILE] [OPTIONS]` opens the station window instead.
#include "ui/win32/UpgradeDlgWin.h"
// <windows.h> (above) first.
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/DialogArguments.h"
#include "app/StationArguments.h"
#include "ui/win32/StationDlgWin.h"

namespace {

std::vector<std::string> Arguments() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; argv != nullptr && i < count; ++i) {
        arguments.push_back(velmora::ui::Utf8(argv[i]));
    }
    ::LocalFree(argv);
    return arguments;
}

void ShowBox(const std::string& text, UINT icon) {
    using namespace velmora::ui;
    ::MessageBoxW(nullptr, Wide(text).c_str(), ExecutableBaseName().c_str(), MB_OK | icon);
}

// A path as given on the command line, made absolute.
std::string FullPath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    const std::wstring wide = velmora::ui::Wide(path);
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    return length > 0 && length < size ? velmora::ui::Utf8(full.substr(0, length)) : path;
}

// velmora.exe --station ...: the station window, or its help or refusal in a box.
int RunStation(HINSTANCE instance) {
    using Action = velmora::StationArguments::Action;
    const velmora::StationArguments parsed = velmora::ParseStationArguments(Arguments());
    switch (parsed.action) {
        case Action::Help:
            ShowBox(parsed.text, MB_ICONINFORMATION);
            return 0;
        case Action::Refused:
            ShowBox(parsed.text, MB_ICONEXCLAMATION);
            return 2;
        case Action::Run:
            break;
    }
    velmora::ui::StationChoices choices = parsed.choices;
    choices.file = FullPath(choices.file);
    choices.log = FullPath(choices.log);
    velmora::ui::CStationDlgWin station(instance, choices);
    if (parsed.start) {
        station.StartWhenShown();
    }
    if (station.DoModal(nullptr) == -1) {
        ShowBox("The station window could not be created (Windows error " +
                    std::to_string(::GetLastError()) +
                    "). Reinstall velmora.exe from the release zip.",
                MB_ICONEXCLAMATION);
        return 1;
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    using namespace velmora::ui;
    using Action = velmora::DialogArguments::Action;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES |
                                                                          ICC_PROGRESS_CLASS |
                                                                          ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);

    if (velmora::IsStationCommandLine(Arguments())) {
        return RunStation(instance);
    }
    const velmora::DialogArguments arguments = velmora::ParseDialogArguments(Arguments());
    switch (arguments.action) {
        case Action::Help:
        case Action::Version:
            ShowBox(arguments.text, MB_ICONINFORMATION);
            return 0;
        case Action::Refused:
            ShowBox(arguments.text, MB_ICONEXCLAMATION);
            return 2;
        case Action::Run:
            break;
    }
    CUpgradeDlgWin dlg(instance);
    if (!arguments.file.empty()) {
        dlg.TakeFile(Wide(arguments.file));
    }
    if (dlg.DoModal() == -1) {
        ShowBox("The dialog could not be created (Windows error " +
                    std::to_string(::GetLastError()) +
                    "). Reinstall velmora.exe from the release zip.",
                MB_ICONEXCLAMATION);
        return 1;
    }
    return 0;
}
