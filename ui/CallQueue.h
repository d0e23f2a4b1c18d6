// Calls from the worker thread to the UI thread that block until the UI
// thread has handled them, as a sent (not posted) window message does. Each
// view supplies only the wake-up: a way to have the UI thread call
// RunPending() soon (a queued Qt call, a posted window message).
//
// Closing a dialog must never wait on a worker that waits on the UI thread.
// So Shutdown() makes every pending and every later call return at once
// without running; the dialog calls it before it cancels and waits for the job.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora::ui {

class CCallQueue {
public:
    using Wake = std::function<void()>;
    // The constructing thread is the UI thread. `wake` may be called from
    // any thread; it must not block.
    explicit CCallQueue(Wake wake);
    ~CCallQueue();

    CCallQueue(const CCallQueue&) = delete;
    CCallQueue& operator=(const CCallQueue&) = delete;

    // Runs `call` on the UI thread and returns once it has run. On the UI
    // thread itself it runs at once. After Shutdown() it returns at once and
    // `call` does not run.
    void Run(std::function<void()> call);
    // Queues `call` for the UI thread and returns at once, from any thread,
    // the UI thread included: for news that nobody waits on. Dropped by
    // Shutdown() like any pending call.
    void Post(std::function<void()> call);
    // UI thread, on the wake-up: runs the calls queued so far.
    void RunPending();

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
    // Queues `request` and wakes the UI thread; false after Shutdown().
    bool Enqueue(const std::shared_ptr<Request>& request);

    Wake m_wake;
    std::thread::id m_uiThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_handled;
    std::deque<std::shared_ptr<Request>> m_pending;
    bool m_wakePosted = false;
    bool m_shutDown = false;
};

}  // namespace velmora::ui
