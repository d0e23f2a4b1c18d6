// The sender beside the jobs: it puts into the shop record every job of the
// local log that the record does not have yet, at its start, after each job
// (Nudge) and every minute while records wait. The local log stays the truth:
// a job is logged there first, and the state file beside the log remembers
// how far the record has everything. A row that is there already is never
// written again (the job's id is the table's key), so a retry after a lost
// answer gives no duplicate.
//
// It runs on a thread of its own and never holds up a job: a server that is
// down, slow or refuses the login only makes records wait. Each wait for the
// server has a time limit. A warning, once per outage, says how many wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace velmora::shop {

// What the sender tells its host (the command line's screen, a station's
// window). Called on the sender's thread.
class IShopRecordEvents {
public:
    virtual ~IShopRecordEvents() = default;
    // How many jobs of the local log the shop record does not have yet.
    virtual void OnRecordsWaiting(std::size_t waiting) = 0;
    // The record cannot be reached (once per outage), or a job it refused.
    virtual void OnRecordWarning(const std::string& text) = 0;
    // The record is reachable again and has what waited.
    virtual void OnRecordNotice(const std::string& text) = 0;
};

struct ShopSenderSettings {
    std::string logPath;     // the local job log
    std::string connection;  // ODBC connection string
    std::string bench;       // for lines logged without a bench
    std::chrono::milliseconds retryInterval{60000};
    int timeoutSeconds = 5;  // the login's and each statement's limit
};

class ShopSender {
public:
    ShopSender(ShopSenderSettings settings, IShopRecordEvents& events);
    // Ends the sender; a pass under way gets a few seconds to finish (see
    // Flush). A pass stuck in a driver beyond that is left to end by itself,
    // telling nobody.
    ~ShopSender();
    ShopSender(const ShopSender&) = delete;
    ShopSender& operator=(const ShopSender&) = delete;

    // Starts the thread, with a first pass at once.
    void Start();
    // A job was logged: send what is new.
    void Nudge();
    // Waits until a pass that began after this call has ended, at most
    // `timeout`; true when the record then has every job of the log.
    bool Flush(std::chrono::milliseconds timeout);
    // Jobs of the log that the record does not have yet, as last counted.
    std::size_t Waiting() const;

private:
    struct Core;
    std::shared_ptr<Core> m_core;
};

}  // namespace velmora::shop
