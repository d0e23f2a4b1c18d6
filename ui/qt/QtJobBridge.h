// The Qt dialog's side of a running job. The worker thread reports through the
// engine's IProgressBar and IMessageBox; these adapters carry each call over to
// the UI thread, which owns every widget, through the dialog's CCallQueue
// (ui/CallQueue.h), woken by a queued Qt call.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "base/HostInterfaces.h"
#include "ui/CallQueue.h"

class QProgressBar;

namespace velmora::ui {

// Calls from any thread, run on the thread that owns this object (the UI thread).
class CUiCallQueue final : public QObject {
    Q_OBJECT
public:
    explicit CUiCallQueue(QObject* parent = nullptr);

    // As CCallQueue: runs `call` on the UI thread and returns once it has run.
    void Run(std::function<void()> call) { m_core.Run(std::move(call)); }
    void Shutdown() { m_core.Shutdown(); }
    void Reopen() { m_core.Reopen(); }
    bool IsShutDown() const { return m_core.IsShutDown(); }
    std::size_t Pending() const { return m_core.Pending(); }
    CCallQueue& Core() { return m_core; }

private:
    Q_INVOKABLE void RunPending() { m_core.RunPending(); }

    CCallQueue m_core;
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
