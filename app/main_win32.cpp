// velmora.exe: the upgrade dialog on Windows. `velmora.exe [FILE]` takes FILE
// as if it had been chosen with Select File; `--help` and `--version` answer
// in a message box, as the program has no console.
#include "ui/win32/UpgradeDlgWin.h"
// <windows.h> (above) first.
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/DialogArguments.h"

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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    using namespace velmora::ui;
    using Action = velmora::DialogArguments::Action;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

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
