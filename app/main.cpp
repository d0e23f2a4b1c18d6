// velmora: the upgrade dialog.
#include <QtGlobal>

#include <cstring>

#include "app/UpgradeApp.h"

namespace {

#ifdef Q_OS_WIN
constexpr bool kWindowSystemNeedsDisplay = false;
#else
constexpr bool kWindowSystemNeedsDisplay = true;  // X11 or Wayland
#endif

// True when the command line asks only for the help or the version text.
bool OnlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const char* flag : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], flag) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // The help and the version need no window: without a display (a terminal
    // over ssh, a build machine) they are printed all the same, where Qt would
    // otherwise stop at start-up.
    if (kWindowSystemNeedsDisplay && OnlyPrints(argc, argv) &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    velmora::CUpgradeApp app(argc, argv);
    return app.InitInstance();
}
