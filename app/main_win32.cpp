// velmora.exe: the upgrade dialog on Windows. `velmora.exe [FILE]` takes FILE
// as if it had been chosen with Select File.
#include "ui/win32/UpgradeDlgWin.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; argv != nullptr && i < count; ++i) {
        arguments.emplace_back(argv[i]);
    }
    ::LocalFree(argv);
    return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    using namespace velmora::ui;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    const std::vector<std::wstring> arguments = Arguments();
    if (arguments.size() > 1) {
        const std::wstring text = L"Give at most one file to send; " +
                                  std::to_wstring(arguments.size()) +
                                  L" were given.\n\nUsage: velmora.exe [FILE]";
        ::MessageBoxW(nullptr, text.c_str(), ExecutableBaseName().c_str(),
                      MB_OK | MB_ICONEXCLAMATION);
        return 2;
    }
    CUpgradeDlgWin dlg(instance);
    if (!arguments.empty()) {
        dlg.TakeFile(arguments.front());
    }
    if (dlg.DoModal() == -1) {
        const std::wstring text = L"The dialog could not be created (Windows error " +
                                  std::to_wstring(::GetLastError()) +
                                  L"). Reinstall velmora.exe from the release zip.";
        ::MessageBoxW(nullptr, text.c_str(), ExecutableBaseName().c_str(),
                      MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    return 0;
}
