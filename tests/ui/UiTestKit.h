// Helpers of the dialog tests: answering modal boxes, finding controls,
// choosing list items the way a user does, temporary files, the receiver
// emulator on a pty as COM1, and a watchdog for calls that could hang.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/qt/QtTemplate.h"

namespace velmora::ui::test {

// Every wait of these tests ends after this long at the latest.
inline constexpr int kDeadlineMs = 20000;

// A modal box that was open, as the test saw it.
struct SeenBox {
    QString className;
    QString caption;
    QString text;    // the message of a QMessageBox
    QString detail;  // and its informative text
};

// Looks at the active modal widget every few milliseconds and hands each new
// one to `answer`; by default a QMessageBox is answered with OK (or Yes) and
// any other dialog is rejected. Records every box it saw.
class ModalAnswerer {
public:
    using Answer = std::function<void(QWidget& box)>;
    explicit ModalAnswerer(Answer answer = {});
    ~ModalAnswerer();

    const std::vector<SeenBox>& Seen() const { return m_seen; }
    QStringList Texts() const;
    // Waits until `count` boxes were seen; false at the deadline.
    bool WaitForBoxes(std::size_t count, int timeoutMs = kDeadlineMs);

    static void Accept(QWidget& box);

private:
    void Poll();

    Answer m_answer;
    QTimer m_timer;
    // Guarded: a box deleted after its answer may leave its address to the next.
    QPointer<QWidget> m_current;
    std::vector<SeenBox> m_seen;
};

template <typename T = QWidget>
T* Control(const QWidget& dlg, int id) {
    return dlg.findChild<T*>(ControlName(id));
}

// Selects the item with `text` with the arrow keys, as the user would,
// so that the list reports the change.
void ChooseItem(QComboBox& combo, const QString& text);

// A file of `size` bytes whose content is a simple pattern; returns its path.
QString MakeFile(const QTemporaryDir& dir, const QString& name, int size, int seed = 0);
std::vector<std::uint8_t> ReadAll(const QString& path);

// Aborts the test program when it is still armed after `limit`: a deadlock
// must fail the run, not hang it.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, const char* what);
    ~Watchdog();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_disarmed = false;
    std::thread m_thread;
};

}  // namespace velmora::ui::test
