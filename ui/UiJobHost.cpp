#include "ui/UiJobHost.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>

#include <utility>

namespace velmora::ui {

CUiCallQueue::CUiCallQueue(QObject* parent) : QObject(parent) {}

CUiCallQueue::~CUiCallQueue() {
    Shutdown();
}

void CUiCallQueue::Run(std::function<void()> call) {
    if (QThread::currentThread() == thread()) {
        if (!IsShutDown()) {
            call();
        }
        return;
    }
    auto request = std::make_shared<Request>();
    request->call = std::move(call);
    bool postWake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown) {
            return;
        }
        m_pending.push_back(request);
        postWake = !m_wakePosted;
        m_wakePosted = true;
    }
    if (postWake) {
        // Only a wake-up crosses threads through Qt; the call itself travels
        // through m_pending under m_mutex. The owner of this object shuts it
        // down and waits for the job before destroying it, so `this` is alive.
        QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
    }
    std::unique_lock lock(m_mutex);
    m_handled.wait(lock, [&] { return request->done || m_shutDown; });
}

void CUiCallQueue::RunPending() {
    std::deque<std::shared_ptr<Request>> batch;
    {
        std::lock_guard lock(m_mutex);
        m_wakePosted = false;
        if (m_shutDown) {
            return;
        }
        batch.swap(m_pending);
    }
    for (const auto& request : batch) {
        // A call may open a modal box, and the dialog may be closed meanwhile.
        if (!IsShutDown()) {
            request->call();
        }
        {
            std::lock_guard lock(m_mutex);
            request->done = true;
        }
        m_handled.notify_all();
    }
}

void CUiCallQueue::Shutdown() {
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
        m_pending.clear();
    }
    m_handled.notify_all();
}

void CUiCallQueue::Reopen() {
    std::lock_guard lock(m_mutex);
    m_shutDown = false;
}

std::size_t CUiCallQueue::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

bool CUiCallQueue::IsShutDown() const {
    std::lock_guard lock(m_mutex);
    return m_shutDown;
}

CUiProgressBar::CUiProgressBar(CUiCallQueue& queue, QProgressBar& bar, QObject* parent)
    : QObject(parent), m_queue(queue), m_bar(&bar) {}

void CUiProgressBar::SetRange(int lower, int upper) {
    m_queue.Run([this, lower, upper] {
        if (m_bar) {
            m_bar->setRange(lower, upper);
            emit RangeShown(lower, upper);
        }
    });
}

void CUiProgressBar::SetPos(int pos) {
    m_queue.Run([this, pos] {
        if (m_bar) {
            m_bar->setValue(pos);
            emit PositionShown(pos);
        }
    });
}

CUiMessageBox::CUiMessageBox(CUiCallQueue& queue, Presenter present)
    : m_queue(queue), m_present(std::move(present)) {}

void CUiMessageBox::Show(const std::string& text, MessageCaption caption) {
    m_queue.Run([this, message = QString::fromStdString(text), caption] {
        m_present(message, CaptionText(caption));
    });
}

QString CaptionText(MessageCaption caption) {
    if (caption == MessageCaption::Prompt) {
        return QString::fromUtf8(kPromptCaption.data(),
                                 static_cast<qsizetype>(kPromptCaption.size()));
    }
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace velmora::ui
