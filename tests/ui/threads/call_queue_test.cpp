// The way the worker's calls reach the UI thread: blocking until handled,
// released by Shutdown(), and the captions of the worker's message boxes.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include "tests/ui/UiTestKit.h"
#include "ui/qt/QtJobBridge.h"

namespace velmora::ui::test {
namespace {

using namespace std::chrono_literals;

TEST(CallQueueTest, AWorkerCallRunsOnTheUiThreadAndBlocksUntilHandled) {
    CUiCallQueue queue;
    QProgressBar bar;
    CUiProgressBar adapter(queue, bar);
    std::vector<int> shown;
    QObject::connect(&adapter, &CUiProgressBar::PositionShown, [&](int pos) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        shown.push_back(pos);
    });

    std::atomic<bool> returned{false};
    std::thread worker([&] {
        adapter.SetPos(42);
        // Returns only once the UI thread has shown the position.
        returned.store(true);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, kDeadlineMs));
    worker.join();
    EXPECT_EQ(shown, std::vector<int>({42}));
    EXPECT_EQ(bar.value(), 42);

    // On the UI thread itself the call runs at once.
    adapter.SetPos(7);
    EXPECT_EQ(bar.value(), 7);
}

TEST(CallQueueTest, ShutdownReleasesAWaitingWorkerAndLaterCallsReturnAtOnce) {
    CUiCallQueue queue;
    std::atomic<int> ran{0};
    std::atomic<int> returned{0};
    // The UI thread does not handle events while the worker queues its call.
    std::thread worker([&] {
        queue.Run([&] { ran.fetch_add(1); });
        returned.fetch_add(1);
        queue.Run([&] { ran.fetch_add(1); });
        returned.fetch_add(1);
    });
    {
        Watchdog watchdog(10s, "a worker call after Shutdown()");
        // The worker's first call is queued and it waits; no event is handled.
        while (queue.Pending() == 0) {
            std::this_thread::yield();
        }
        queue.Shutdown();
        worker.join();
    }
    EXPECT_EQ(returned.load(), 2);
    QTest::qWait(20);  // a wake-up still queued finds nothing to run
    EXPECT_EQ(ran.load(), 0);

    queue.Reopen();
    queue.Run([&] { ran.fetch_add(1); });
    EXPECT_EQ(ran.load(), 1);
}

TEST(CallQueueTest, WorkerMessageBoxesCarryTheApplicationOrThePromptCaption) {
    CUiCallQueue queue;
    QStringList captions;
    QStringList texts;
    CUiMessageBox boxes(queue, [&](const QString& text, const QString& caption) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        texts << text;
        captions << caption;
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        boxes.Show("Data send finish !");
        boxes.Show("Open Xb2.exe fail!", MessageCaption::Prompt);
        done.store(true);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, kDeadlineMs));
    worker.join();
    EXPECT_EQ(texts, QStringList({"Data send finish !", "Open Xb2.exe fail!"}));
    EXPECT_EQ(captions,
              QStringList({QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(),
                           QString::fromUtf8("\xE6\x8F\x90\xE7\xA4\xBA")}));
}

}  // namespace
}  // namespace velmora::ui::test
