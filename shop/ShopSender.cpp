#include "shop/ShopSender.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/TextFormat.h"
#include "shop/LogTail.h"
#include "shop/Odbc.h"
#include "shop/ShopConnection.h"
#include "shop/ShopTable.h"

namespace velmora::shop {

namespace {

constexpr std::size_t kChunk = 100;  // jobs looked up and written per round

std::string Records(std::size_t count) {
    return std::to_string(count) + Plural(count, " record", " records");
}

}  // namespace

struct ShopSender::Core {
    Core(ShopSenderSettings s, IShopRecordEvents& e)
        : settings(std::move(s)),
          statePath(SendStatePath(settings.logPath)),
          target(TargetOf(settings.connection)),
          events(&e) {}

    void Run();
    void Pass();
    // Writes the tail's jobs that the table lacks, advancing the state.
    std::size_t Deliver(ShopTable& table, const LogTail& tail, SendState& state);
    void Insert(ShopTable& table, const JobRecord& record);
    void Count(std::size_t count);
    void Tell(bool warning, const std::string& text);

    const ShopSenderSettings settings;
    const std::string statePath;
    const std::string target;

    std::mutex mutex;
    std::condition_variable cv;
    bool nudged = false;
    bool stopping = false;
    bool finished = false;
    std::uint64_t passesBegun = 0;
    std::uint64_t passesDone = 0;
    std::atomic<std::size_t> waiting{0};

    std::mutex eventsMutex;
    IShopRecordEvents* events;  // null once the owner has gone

    // The sender's thread only.
    bool outage = false;
    bool tableReady = false;
    bool unreadableTold = false;
    std::thread thread;
};

void ShopSender::Core::Count(std::size_t count) {
    if (waiting.exchange(count) == count) {
        return;
    }
    std::lock_guard lock(eventsMutex);
    if (events != nullptr) {
        events->OnRecordsWaiting(count);
    }
}

void ShopSender::Core::Tell(bool warning, const std::string& text) {
    std::lock_guard lock(eventsMutex);
    if (events == nullptr) {
        return;
    }
    if (warning) {
        events->OnRecordWarning(text);
    } else {
        events->OnRecordNotice(text);
    }
}

void ShopSender::Core::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex);
            const auto woken = [this] { return nudged || stopping; };
            if (waiting.load() > 0) {
                cv.wait_for(lock, settings.retryInterval, woken);
            } else {
                cv.wait(lock, woken);
            }
            if (stopping && !nudged) {
                break;
            }
            nudged = false;
            ++passesBegun;
        }
        Pass();
        std::lock_guard lock(mutex);
        passesDone = passesBegun;
        cv.notify_all();
        if (stopping) {
            break;
        }
    }
    std::lock_guard lock(mutex);
    finished = true;
    cv.notify_all();
}

void ShopSender::Core::Pass() {
    SendState state = LoadSendState(statePath);
    if (state.target != target) {
        state = SendState{target, 0};  // another database: look at every job again
    }
    const LogTail tail = ReadLogTail(settings.logPath, state.offset, settings.bench);
    if (tail.unreadable > 0 && !unreadableTold) {
        unreadableTold = true;
        Tell(true, std::to_string(tail.unreadable) + Plural(tail.unreadable, " line", " lines") +
                       " of " + settings.logPath + " hold no job record and are passed over.");
    }
    Count(tail.jobs.size());
    if (tail.jobs.empty()) {
        return;
    }
    try {
        OdbcConnection connection(settings.connection, settings.timeoutSeconds);
        ShopTable table(connection);
        if (!tableReady) {
            table.Ensure();
            tableReady = true;
        }
        const std::size_t sent = Deliver(table, tail, state);
        if (outage) {
            outage = false;
            Tell(false, "The shop record is reachable again: the " + Records(sent) +
                            " that waited are in it now.");
        }
    } catch (const std::exception& failure) {
        tableReady = false;
        if (!outage) {
            outage = true;
            const std::size_t count = waiting.load();
            Tell(true, "The shop record cannot be reached (" + std::string(failure.what()) +
                           "). The upgrades go on; " + Records(count) +
                           Plural(count, " waits", " wait") + " in " + settings.logPath +
                           " until it is back.");
        }
    }
}

std::size_t ShopSender::Core::Deliver(ShopTable& table, const LogTail& tail, SendState& state) {
    for (std::size_t first = 0; first < tail.jobs.size(); first += kChunk) {
        const std::size_t count = std::min(kChunk, tail.jobs.size() - first);
        std::vector<std::string> ids;
        for (std::size_t i = first; i < first + count; ++i) {
            ids.push_back(tail.jobs[i].record.jobId);
        }
        const std::set<std::string> existing = table.Existing(ids);
        for (std::size_t i = first; i < first + count; ++i) {
            if (existing.count(tail.jobs[i].record.jobId) == 0) {
                Insert(table, tail.jobs[i].record);
            }
        }
        const bool last = first + count == tail.jobs.size();
        state.offset = last ? tail.end : tail.jobs[first + count - 1].end;
        // A state that cannot be saved only means looking again next time.
        std::string ignored;
        SaveSendState(statePath, state, ignored);
        Count(tail.jobs.size() - first - count);
    }
    return tail.jobs.size();
}

void ShopSender::Core::Insert(ShopTable& table, const JobRecord& record) {
    try {
        table.Insert(record);
    } catch (const OdbcFailure& failure) {
        if (failure.Duplicate()) {
            return;  // another sender wrote it meanwhile
        }
        if (!failure.RowRefused()) {
            throw;
        }
        // A row the database will never take must not hold up the others.
        Tell(true, "The shop record refused job " + record.jobId + " (" + failure.what() +
                       "); it stays in " + settings.logPath + " only.");
    }
}

ShopSender::ShopSender(ShopSenderSettings settings, IShopRecordEvents& events)
    : m_core(std::make_shared<Core>(std::move(settings), events)) {}

ShopSender::~ShopSender() {
    {
        std::unique_lock lock(m_core->mutex);
        m_core->stopping = true;
        m_core->cv.notify_all();
        if (!m_core->thread.joinable()) {
            return;
        }
        const auto grace = std::chrono::seconds(2 * m_core->settings.timeoutSeconds + 2);
        if (!m_core->cv.wait_for(lock, grace, [this] { return m_core->finished; })) {
            // Stuck in a driver: it may end on its own, and keeps the core
            // alive until then, but tells nobody any more.
            std::lock_guard events(m_core->eventsMutex);
            m_core->events = nullptr;
            m_core->thread.detach();
            return;
        }
    }
    m_core->thread.join();
}

void ShopSender::Start() {
    std::lock_guard lock(m_core->mutex);
    m_core->nudged = true;
    // The thread shares the core, so that one left behind never dangles.
    m_core->thread = std::thread([core = m_core] { core->Run(); });
}

void ShopSender::Nudge() {
    std::lock_guard lock(m_core->mutex);
    m_core->nudged = true;
    m_core->cv.notify_all();
}

bool ShopSender::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_core->mutex);
    const std::uint64_t wanted = m_core->passesBegun + 1;
    m_core->nudged = true;
    m_core->cv.notify_all();
    m_core->cv.wait_for(lock, timeout,
                        [&] { return m_core->passesDone >= wanted || m_core->finished; });
    return m_core->passesDone >= wanted && m_core->waiting.load() == 0;
}

std::size_t ShopSender::Waiting() const {
    return m_core->waiting.load();
}

}  // namespace velmora::shop
