// Test entry: a QApplication on the offscreen platform around GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

// ThreadSanitizer reads this when the tests run under the tsan preset. Debian's
// Qt is not instrumented: its own threads (the image-conversion pool of Qt Gui)
// and its event queue synchronise through atomics and futexes that the
// sanitizer cannot see, so their allocations look like races. The same holds
// for GLib, whose main context each of those threads gets for its events. The
// allocations made inside these libraries are left out; everything the
// project's code does, including its own locking, is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
