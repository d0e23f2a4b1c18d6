#include "cli/ShopRecordHost.h"

#include "base/JobLog.h"
#include "base/TextFormat.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "shop/JobIdentity.h"
#include "shop/ShopConnection.h"

namespace velmora::cli {

namespace {

// How long a command waits at its end for the record to take the last jobs.
constexpr std::chrono::seconds kFinishWait{15};

}  // namespace

void AddRecordOptions(CLI::App& command, JobOptions& o, bool bench) {
    CLI::Option* record =
        command.add_option("--record", o.record,
                           "Shop record: an ODBC connection string without a password, or "
                           "DSN=name (see the README)");
    CLI::Option* file =
        command
            .add_option("--record-file", o.recordFile,
                        "Shop record: read the ODBC connection string from this file, which "
                        "only you may read")
            ->type_name("TEXT:FILE");
    record->excludes(file);
    if (bench) {
        command.add_option("--bench", o.bench,
                           "This bench's name in the shop record (default: the computer's name)");
    }
}

int RecordConnection(Console& console, const JobOptions& options, std::string& connection) {
    if (!options.recordFile.empty()) {
        if (const std::string problem = shop::ConnectionFromFile(options.recordFile, connection);
            !problem.empty()) {
            console.Error(problem);
            return kExitFileMissing;
        }
        return kExitOk;
    }
    if (const std::string problem = shop::CommandLineConnectionProblem(options.record);
        !problem.empty()) {
        console.Error(problem);
        return kExitUsage;
    }
    connection = options.record;
    return kExitOk;
}

int PlanRecord(Console& console, const JobOptions& options, bool alwaysLog, RecordPlan& plan) {
    if (const int refused = RecordConnection(console, options, plan.connection);
        refused != kExitOk) {
        return refused;
    }
    plan.bench = shop::BenchName(options.bench);
    plan.logPath = options.log.empty() && (alwaysLog || !plan.connection.empty())
                       ? DefaultJobLogPath()
                       : options.log;
    return kExitOk;
}

ShopRecordHost::ShopRecordHost(Console& console, const RecordPlan& plan)
    : m_console(console), m_logPath(plan.logPath) {
    if (!plan.connection.empty() && plan.logPath.empty()) {
        console.Warn(
            "The jobs go to the shop record from the job log, and this system names no folder "
            "for it: name a log with --log FILE. No job goes to the shop record now.");
    } else if (!plan.connection.empty()) {
        shop::ShopSenderSettings settings;
        settings.logPath = plan.logPath;
        settings.connection = plan.connection;
        settings.bench = plan.bench;
        m_sender = std::make_unique<shop::ShopSender>(settings, *this);
    }
}

ShopRecordHost::~ShopRecordHost() = default;

void ShopRecordHost::Start() {
    if (m_sender) {
        m_sender->Start();
    }
}

void ShopRecordHost::JobLogged() {
    if (m_sender) {
        m_sender->Nudge();
    }
}

void ShopRecordHost::Finish() {
    if (!m_sender || m_sender->Flush(kFinishWait)) {
        return;
    }
    const std::size_t waiting = m_sender->Waiting();
    if (waiting > 0) {
        m_console.Warn(std::to_string(waiting) + Plural(waiting, " record waits", " records wait") +
                       " in " + m_logPath +
                       " for the shop record; the next send or station with the same --record "
                       "sends " +
                       Plural(waiting, "it", "them") + ".");
    }
}

std::size_t ShopRecordHost::Waiting() const {
    return m_sender ? m_sender->Waiting() : 0;
}

void ShopRecordHost::OnWaitingChanged(std::function<void(std::size_t)> observer) {
    std::lock_guard lock(m_observerMutex);
    m_observer = std::move(observer);
}

void ShopRecordHost::OnRecordsWaiting(std::size_t waiting) {
    std::lock_guard lock(m_observerMutex);
    if (m_observer) {
        m_observer(waiting);
    }
}

void ShopRecordHost::OnRecordWarning(const std::string& text) {
    m_console.Warn(text);
}

void ShopRecordHost::OnRecordNotice(const std::string& text) {
    m_console.Say(text);
}

}  // namespace velmora::cli
