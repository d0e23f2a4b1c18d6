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

// The connection string that --record or --record-file gives (empty when
// neither is given). Returns 0, or the exit status of a refusal, said on
// `console`: a connection file that others may read, a password typed on the
// command line.
int RecordConnection(Console& console, const JobOptions& options, std::string& connection);

// The log that jobs go to: --log, or with a shop record the default log,
// since every job is logged locally before it goes to the record.
std::string JobLogPath(const JobOptions& options, const std::string& connection);

class ShopRecordHost final : public shop::IShopRecordEvents {
public:
    // Sends nothing when `connection` is empty.
    ShopRecordHost(Console& console, const std::string& logPath, const std::string& connection,
                   const std::string& bench);
    ~ShopRecordHost() override;

    bool Active() const { return m_sender != nullptr; }
    // The sender's first pass, beside the jobs.
    void Start();
    // A job was appended to the log.
    void JobLogged();
    // Gives the sender a last chance to deliver, then says what still waits.
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
