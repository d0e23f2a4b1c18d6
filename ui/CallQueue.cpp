#include "ui/CallQueue.h"

#include <utility>

namespace velmora::ui {

CCallQueue::CCallQueue(Wake wake)
    : m_wake(std::move(wake)), m_uiThread(std::this_thread::get_id()) {}

CCallQueue::~CCallQueue() {
    Shutdown();
}

void CCallQueue::Run(std::function<void()> call) {
    if (std::this_thread::get_id() == m_uiThread) {
        if (!IsShutDown()) {
            call();
        }
        return;
    }
    auto request = std::make_shared<Request>();
    request->call = std::move(call);
    if (!Enqueue(request)) {
        return;
    }
    std::unique_lock lock(m_mutex);
    m_handled.wait(lock, [&] { return request->done || m_shutDown; });
}

void CCallQueue::Post(std::function<void()> call) {
    auto request = std::make_shared<Request>();
    request->call = std::move(call);
    Enqueue(request);
}

bool CCallQueue::Enqueue(const std::shared_ptr<Request>& request) {
    bool postWake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown) {
            return false;
        }
        m_pending.push_back(request);
        postWake = !m_wakePosted;
        m_wakePosted = true;
    }
    if (postWake) {
        // The owner shuts this queue down and waits for the job before it
        // destroys it, so the queue and its wake-up target are alive here.
        m_wake();
    }
    return true;
}

void CCallQueue::RunPending() {
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

void CCallQueue::Shutdown() {
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
        m_pending.clear();
    }
    m_handled.notify_all();
}

void CCallQueue::Reopen() {
    std::lock_guard lock(m_mutex);
    m_shutDown = false;
}

bool CCallQueue::IsShutDown() const {
    std::lock_guard lock(m_mutex);
    return m_shutDown;
}

std::size_t CCallQueue::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

}  // namespace velmora::ui
