#include "tests/ui/UiTestKit.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace velmora::ui::test {

ModalAnswerer::ModalAnswerer(Answer answer) : m_answer(std::move(answer)) {
    if (!m_answer) {
        m_answer = [](QWidget& box) { Accept(box); };
    }
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(5);
}

ModalAnswerer::~ModalAnswerer() {
    m_timer.stop();
}

void ModalAnswerer::Accept(QWidget& box) {
    if (auto* message = qobject_cast<QMessageBox*>(&box)) {
        QAbstractButton* ok = message->button(QMessageBox::Ok);
        if (ok == nullptr) {
            ok = message->button(QMessageBox::Yes);
        }
        if (ok != nullptr) {
            ok->click();
            return;
        }
    }
    if (auto* dialog = qobject_cast<QDialog*>(&box)) {
        dialog->reject();
    }
}

void ModalAnswerer::Poll() {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || box == m_current || !box->isVisible()) {
        return;
    }
    m_current = box;
    SeenBox seen{QString::fromLatin1(box->metaObject()->className()), box->windowTitle(), {}, {}};
    if (auto* message = qobject_cast<QMessageBox*>(box)) {
        seen.text = message->text();
        seen.detail = message->informativeText();
    }
    m_seen.push_back(seen);
    // Answering may open the next box at once (a nested loop); m_current
    // keeps this one from being answered twice.
    m_answer(*box);
}

QStringList ModalAnswerer::Texts() const {
    QStringList texts;
    for (const SeenBox& box : m_seen) {
        texts << box.text;
    }
    return texts;
}

bool ModalAnswerer::WaitForBoxes(std::size_t count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_seen.size() >= count; }, timeoutMs);
}

void ChooseItem(QComboBox& combo, const QString& text) {
    const int target = combo.findText(text);
    if (target < 0) {
        return;
    }
    while (combo.currentIndex() < target) {
        QTest::keyClick(&combo, Qt::Key_Down);
    }
    while (combo.currentIndex() > target) {
        QTest::keyClick(&combo, Qt::Key_Up);
    }
}

QString MakeFile(const QTemporaryDir& dir, const QString& name, int size, int seed) {
    QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return {};
    }
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    }
    file.write(bytes);
    return path;
}

std::vector<std::uint8_t> ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

Watchdog::Watchdog(std::chrono::milliseconds limit, const char* what) {
    m_thread = std::thread([this, limit, what] {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, limit, [this] { return m_disarmed; })) {
            (void)std::fprintf(stderr, "Watchdog: %s did not finish within %lld ms\n", what,
                               static_cast<long long>(limit.count()));
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(m_mutex);
        m_disarmed = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

}  // namespace velmora::ui::test
