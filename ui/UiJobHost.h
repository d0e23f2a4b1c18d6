// The dialog's side of a running job. The worker thread reports through the
// engine's IProgressBar and IMessageBox; these adapters carry each call over to
// the UI thread, which owns every widget, and block the worker until the UI
// thread has handled it, as a sent (not posted) window message would.
//
// Closing the dialog must never wait on a worker that waits on the UI thread.
// So CUiCallQueue::Shutdown() makes every pending and every later call return
// at once without touching a widget; the dialog calls it before it cancels and
// waits for the job.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "job/JobHost.h"

class QProgressBar;

namespace velmora::ui {

// Calls from any thread, run on the thread that owns this object (the UI thread).
class CUiCallQueue final : public QObject {
    Q_OBJECT
public:
    explicit CUiCallQueue(QObject* parent = nullptr);
    ~CUiCallQueue() override;

    // Runs `call` on the UI thread and returns once it has run. On the UI
    // thread itself it runs at once. After Shutdown() it returns at once and
    // `call` does not run.
    void Run(std::function<void()> call);

    // UI thread. Drops pending calls and releases every waiting caller; calls
    // made from now on return at once.
    void Shutdown();
    // UI thread, with no job running: accept calls again.
    void Reopen();
    bool IsShutDown() const;
    // Calls queued for the UI thread and not yet taken up.
    std::size_t Pending() const;

private:
    struct Request {
        std::function<void()> call;
        bool done = false;
    };

    Q_INVOKABLE void RunPending();

    mutable std::mutex m_mutex;
    std::condition_variable m_handled;
    std::deque<std::shared_ptr<Request>> m_pending;
    bool m_wakePosted = false;
    bool m_shutDown = false;
};

// One of the dialog's progress bars, as the job sees it.
class CUiProgressBar final : public QObject, public IProgressBar {
    Q_OBJECT
public:
    CUiProgressBar(CUiCallQueue& queue, QProgressBar& bar, QObject* parent = nullptr);

    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;

signals:
    // Emitted on the UI thread for every position the job set and the bar now
    // shows, a repeated position included.
    void PositionShown(int pos);
    void RangeShown(int lower, int upper);

private:
    CUiCallQueue& m_queue;
    QPointer<QProgressBar> m_bar;
};

// The job's message boxes. `present` shows one modally on the UI thread and
// returns when the user has closed it.
class CUiMessageBox final : public IMessageBox {
public:
    using Presenter = std::function<void(const QString& text, const QString& caption)>;
    CUiMessageBox(CUiCallQueue& queue, Presenter present);

    using IMessageBox::Show;
    void Show(const std::string& text, MessageCaption caption) override;

private:
    CUiCallQueue& m_queue;
    Presenter m_present;
};

// Caption of the boxes: the executable's file name without its extension,
// or "提示" for MessageCaption::Prompt.
QString CaptionText(MessageCaption caption);

}  // namespace velmora::ui
