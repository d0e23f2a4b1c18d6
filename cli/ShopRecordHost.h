// The shop record on the command line: --record, --record-file and --bench,
// and the sender that runs beside the jobs of `send` and `station`, its
// warnings shown on the console.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cli/Commands.h"
#include "shop/ShopSender.h"

namespace velmora::cli {

class Console;

// --record and --record-file (one or the other); with `bench`, --bench too.
void AddRecordOptions(CLI::App& command, JobOptions& options, bool bench);

// Where each job of `send` or `station` goes: the local log, and the shop
// record when there is one.
struct RecordPlan {
    std::string connection;  // the shop record's; empty without one
    std::string bench;       // --bench, or the computer's name
    std::string logPath;     // empty when jobs are not logged
};

// The connection string that --record or --record-file gives (empty when
// neither is given). Returns 0, or the exit status of a refusal, said on
// `console`: a connection file that others may read, a password typed on the
// command line.
int RecordConnection(Console& console, const JobOptions& options, std::string& connection);

// The plan that `options` give. Jobs are logged to --log; without it, to the
// default log when `alwaysLog` (station) or with a shop record, since every
// job is logged locally before it goes to the record. Returns 0 or the exit
// status of a refusal (see RecordConnection).
int PlanRecord(Console& console, const JobOptions& options, bool alwaysLog, RecordPlan& plan);

class ShopRecordHost final : public shop::IShopRecordEvents {
public:
    // Sends nothing without a connection or a log.
    ShopRecordHost(Console& console, const RecordPlan& plan);
    ~ShopRecordHost() override;

    bool Active() const { return m_sender != nullptr; }
    // The sender's first pass, beside the jobs.
    void Start();
    // A job was appended to the log.
    void JobLogged();
    // Gives the sender a last chance to deliver what was logged, then says
    // what still waits.
    void Finish();
    // How many jobs wait for the record; 0 when there is none.
    std::size_t Waiting() const;
    // Told on the sender's thread whenever the count changes; an empty
    // function (as its owner goes) tells nobody any more.
    void OnWaitingChanged(std::function<void(std::size_t)> observer);

    void OnRecordsWaiting(std::size_t waiting) override;
    void OnRecordWarning(const std::string& text) override;
    void OnRecordNotice(const std::string& text) override;

private:
    Console& m_console;
    std::string m_logPath;
    std::mutex m_observerMutex;
    std::function<void(std::size_t)> m_observer;
    std::unique_ptr<shop::ShopSender> m_sender;
};

}  // namespace velmora::cli
