#include "cli/StationCommand.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "base/JobLog.h"
#include "base/Json.h"
#include "base/TextFormat.h"
#include "cli/CommandOptions.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/JobLogHost.h"
#include "cli/JobSetup.h"
#include "cli/PortChoice.h"
#include "cli/ShopRecordHost.h"
#include "cli/Terminal.h"
#include "sdx/ListFormat.h"
#include "serial/PortMonitor.h"
#include "shop/JobIdentity.h"
#include "transfer/Station.h"

namespace velmora::cli {

namespace {

using Clock = std::chrono::steady_clock;

struct PortRow {
    std::string state = "opening";
    Clock::time_point since;
    int done = 0;
};

// "sending 43 %  451,200/1,048,576 bytes  11.2 kB/s  0:53 left"
std::string SendingText(std::uint64_t sent, std::uint64_t total, Clock::time_point since) {
    const std::uint64_t percent = total == 0 ? 0 : sent * 100 / total;
    std::string text = "sending " + std::to_string(percent) + " %  " + GroupedDigits(sent) + "/" +
                       GroupedDigits(total) + " bytes";
    const double seconds = std::chrono::duration<double>(Clock::now() - since).count();
    if (sent > 0 && seconds > 0) {
        const double rate = static_cast<double>(sent) / seconds;
        const auto left = static_cast<long long>(static_cast<double>(total - sent) / rate + 0.5);
        char tail[64];
        std::snprintf(tail, sizeof tail, "  %.1f kB/s  %lld:%02lld left", rate / 1000.0, left / 60,
                      left % 60);
        text += tail;
    }
    return text;
}

// What the technician sees: one line per port and a totals line, redrawn in
// place on a terminal; plain lines otherwise; JSON events on stdout for json.
class StationView final : public IStationHost {
public:
    StationView(Console& console, std::string logPath, ProgressStyle style)
        : m_console(console), m_log(std::move(logPath)), m_style(style), m_start(Clock::now()) {}
    ~StationView() override {
        if (m_record != nullptr) {
            m_record->OnWaitingChanged(nullptr);
        }
    }

    void AddRow(const std::string& port) {
        std::lock_guard lock(m_mutex);
        m_rows[port];
    }
    void OnWaiting(const std::string& port) override {
        Change(port, "waiting for the receiver", {{"event", "phase"}, {"phase", "waiting"}});
    }
    void OnSending(const std::string& port, std::uint64_t total) override {
        {
            std::lock_guard lock(m_mutex);
            m_rows[port].since = Clock::now();
        }
        Change(port, SendingText(0, total, Clock::now()),
               {{"event", "phase"}, {"phase", "sending"}});
    }
    void OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) override;
    void OnJobEnded(const StationJobEnd& end) override;
    void OnPortDropped(const std::string& port, const std::string& reason) override {
        Change(port, "dropped: " + reason, {{"event", "dropped"}, {"reason", reason}});
    }
    void OnWaitingForFile(const std::string& port, const std::string& reason) override {
        Change(port, "waiting for the file: " + reason,
               {{"event", "phase"}, {"phase", "waiting for the file"}, {"reason", reason}});
    }
    // The summary table (or event) and the exit status of the run.
    int Finish(bool interrupted, int interruptStatus);
    // Jobs are stamped with `bench`; with a shop record, each logged job is
    // handed to its sender and the totals show how many wait for it.
    void AttachRecord(const std::string& bench, ShopRecordHost& record);

private:
    // `event` is the JSON event without its port, which is added last.
    void Change(const std::string& port, const std::string& state, Json event);
    void Draw();  // with m_mutex held
    std::string Totals() const;

    Console& m_console;
    std::string m_log;
    std::string m_bench;
    ShopRecordHost* m_record = nullptr;
    ProgressStyle m_style;
    Clock::time_point m_start;
    std::mutex m_mutex;
    std::map<std::string, PortRow> m_rows;
    std::vector<StationJobEnd> m_jobs;
    int m_finished = 0;
    int m_failed = 0;
    int m_drawn = 0;  // lines of the last drawing on the terminal
    Clock::time_point m_lastDraw;
};

void StationView::Change(const std::string& port, const std::string& state, Json event) {
    std::lock_guard lock(m_mutex);
    m_rows[port].state = state;
    if (m_style == ProgressStyle::Json) {
        event["port"] = port;
        std::printf("%s\n", JsonLine(event).c_str());
        std::fflush(stdout);
    } else if (m_style == ProgressStyle::Bars) {
        Draw();
    } else if (m_style == ProgressStyle::Lines) {
        std::fprintf(stderr, "%s: %s\n", port.c_str(), state.c_str());
    }
}

void StationView::OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) {
    std::lock_guard lock(m_mutex);
    PortRow& row = m_rows[port];
    const std::uint64_t tenth = total == 0 ? 0 : sent * 10 / total;
    const std::uint64_t before =
        total == 0 ? 0 : (sent - std::min<std::uint64_t>(sent, 240)) * 10 / total;
    row.state = SendingText(sent, total, row.since);
    if (m_style == ProgressStyle::Json && tenth != before) {
        const Json event = {{"event", "bar"}, {"bar", "send"},  {"percent", sent * 100 / total},
                            {"sent", sent},   {"total", total}, {"port", port}};
        std::printf("%s\n", JsonLine(event).c_str());
        std::fflush(stdout);
    } else if (m_style == ProgressStyle::Lines && tenth != before) {
        std::fprintf(stderr, "%s: %s\n", port.c_str(), row.state.c_str());
    } else if (m_style == ProgressStyle::Bars &&
               Clock::now() - m_lastDraw > std::chrono::milliseconds(250)) {
        Draw();
    }
}

void StationView::AttachRecord(const std::string& bench, ShopRecordHost& record) {
    m_bench = bench;
    if (record.Active()) {
        m_record = &record;
        record.OnWaitingChanged([this](std::size_t waiting) {
            std::lock_guard lock(m_mutex);
            if (m_style == ProgressStyle::Bars) {
                Draw();
            } else if (m_style == ProgressStyle::Json) {
                const Json event = {{"event", "record"}, {"waiting", waiting}};
                std::printf("%s\n", JsonLine(event).c_str());
                std::fflush(stdout);
            }
        });
    }
}

void StationView::OnJobEnded(const StationJobEnd& ended) {
    StationJobEnd end = ended;
    shop::StampJob(end.record, m_bench);
    std::string state = end.outcome == JobOutcome::Finished ? "finished"
                        : end.cutShort ? "cut short: the transfer did not finish"
                                       : "failed: " + end.record.message;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(end);
        ++m_rows[end.port].done;
        (end.outcome == JobOutcome::Finished ? m_finished : m_failed) += 1;
    }
    Change(end.port, state,
           {{"event", "job"},
            {"outcome", JobOutcomeName(end.outcome)},
            {"record", JobRecordObject(end.record)}});
    if (!m_log.empty()) {
        AppendToJobLog(m_console, m_log, end.record, JobCount::Many);
        if (m_record != nullptr) {
            m_record->JobLogged();
        }
    }
}

std::string StationView::Totals() const {
    const double hours = std::chrono::duration<double>(Clock::now() - m_start).count() / 3600.0;
    char text[128];
    std::snprintf(text, sizeof text, "finished %d, failed %d, %.1f receivers per hour", m_finished,
                  m_failed, hours > 0 ? m_finished / hours : 0.0);
    const std::size_t waiting = m_record != nullptr ? m_record->Waiting() : 0;
    if (waiting > 0) {
        return text + (", " + std::to_string(waiting) +
                       Plural(waiting, " record waits", " records wait") + " for the shop record");
    }
    return text;
}

void StationView::Draw() {
    std::string text;
    for (int i = 0; i < m_drawn; ++i) {
        text += "\x1b[1A";
    }
    for (const auto& [port, row] : m_rows) {
        text +=
            "\r\x1b[2K" + port + "  [" + std::to_string(row.done) + " done]  " + row.state + "\n";
    }
    text += "\r\x1b[2K" + Totals() + "\n";
    m_drawn = static_cast<int>(m_rows.size()) + 1;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    m_lastDraw = Clock::now();
}

int StationView::Finish(bool interrupted, int interruptStatus) {
    std::lock_guard lock(m_mutex);
    bool cutShort = false;
    if (m_style == ProgressStyle::Quiet) {
        // No table: the log and the exit status say it all.
    } else if (m_style == ProgressStyle::Json) {
        const Json summary = {{"event", "summary"},
                              {"finished", m_finished},
                              {"failed", m_failed},
                              {"jobs", m_jobs.size()}};
        std::printf("%s\n", JsonLine(summary).c_str());
    } else {
        std::fprintf(stderr, "\n%-28s %-20s %10s %8s  %s\n", "port", "outcome", "bytes", "seconds",
                     "started");
    }
    for (const StationJobEnd& job : m_jobs) {
        cutShort = cutShort || job.cutShort;
        if (m_style != ProgressStyle::Json && m_style != ProgressStyle::Quiet) {
            std::fprintf(stderr, "%-28s %-20s %10llu %8.1f  %s\n", job.port.c_str(),
                         JobOutcomeName(job.outcome),
                         static_cast<unsigned long long>(job.record.bytesSent), job.record.seconds,
                         job.record.started.c_str());
        }
    }
    if (m_style != ProgressStyle::Json && m_style != ProgressStyle::Quiet) {
        std::fprintf(stderr, "%s\n", Totals().c_str());
    }
    std::fflush(stdout);
    if (interrupted && cutShort) {
        return interruptStatus;
    }
    return m_failed > 0 ? kExitJobFailed : kExitOk;
}

}  // namespace

namespace {

// The device a --port stands for, links resolved, so that two names of one
// port compare equal.
std::string DeviceKey(const std::string& text) {
    const PortChoice port = ChoosePort(text);
    std::string device = port.device.empty() ? port.portText : port.device;
    if (const int com = ComNumberOf(device); com > 0) {
        device = ResolvePortName(com);
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(device, error);
    return error ? device : resolved.string();
}

// A port given twice would be refused as held by the station itself: say
// what it is instead. Empty when every port is given once.
std::string PortGivenTwice(const std::vector<std::string>& ports) {
    std::vector<std::pair<std::string, std::string>> seen;  // as given, the device
    for (const std::string& text : ports) {
        const std::string key = DeviceKey(text);
        for (const auto& [earlier, device] : seen) {
            if (device == key) {
                return "--port " + text + " names the same port as --port " + earlier +
                       ". Give each port once.";
            }
        }
        seen.emplace_back(text, key);
    }
    return {};
}

// The checks of send, once for the file, before any port opens. Returns the
// exit status of a refusal, or 0.
int RefuseBeforeStart(Console& console, const StationOptions& options, StationSettings& settings) {
    if (const std::string twice = PortGivenTwice(options.ports); !twice.empty()) {
        console.Error(twice);
        return kExitUsage;
    }
    const JobSettings job = JobSettingsFromOptions(options.job, settings.values);
    if (const int refused = RefuseBadJob(console, job, options.job.force); refused != kExitOk) {
        return refused;
    }
    if (const std::string problem = DatabaseLimitProblem(job); !problem.empty()) {
        console.Error(problem);
        return kExitRefused;
    }
    if (IsChannelList(settings.file)) {
        WarnIfNotPlainSdx(console, settings.file);
    }
    return kExitOk;
}

// Opens every port; any that cannot be opened stops the station before a
// byte is sent. Returns 0 or the exit status.
int StartPorts(Console& console, CStation& station, StationView& view,
               const std::vector<std::string>& ports) {
    for (const std::string& text : ports) {
        const PortChoice port = ChoosePort(text);
        const std::string device = port.device.empty() ? port.portText : port.device;
        std::string why = port.error;
        view.AddRow(device);
        const StartResult started =
            why.empty() ? station.AddPort(device, why) : StartResult::PortFailed;
        if (started != StartResult::Started) {
            console.Error("Cannot use " + text + ": " + why +
                          " No receiver was upgraded; check the ports (velmora-cli ports), then "
                          "run the command again.");
            station.Stop();
            station.Wait();
            return started == StartResult::FileMissing ? kExitFileMissing : kExitPortFailed;
        }
    }
    return kExitOk;
}

// Set by Ctrl-C (or a hang-up); a station that serves every adapter runs
// until then.
class StopSignal {
public:
    void Notify() {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_cv.notify_all();
    }
    // True once stopped; waits at most `timeout` for it.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return m_stopped; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopped = false;
};

bool IsAll(const std::vector<std::string>& ports) {
    if (ports.size() != 1) {
        return false;
    }
    return AsciiLower(ports[0]) == "all";
}

// --port all: every USB serial adapter present and those plugged in later,
// until Ctrl-C; with --once, until each adapter taken has served one receiver.
int ServeEveryAdapter(Console& console, CStation& station, StationView& view, bool once,
                      StopSignal& stop) {
    const std::unique_ptr<IPortMonitor> monitor = MakePortMonitor();
    CAdapterFollower follower(station, *monitor,
                              [&view](const std::string& device, const std::string& why) {
                                  view.OnPortDropped(device, why);
                              });
    std::string error;
    if (!follower.Start(error)) {
        console.Error("Cannot follow the USB serial adapters: " + error +
                      " Name the ports with --port instead.");
        return kExitPortFailed;
    }
    console.Say("Serving every USB serial adapter, and each one plugged in later; Ctrl-C ends.");
    while (!stop.WaitFor(std::chrono::milliseconds(500))) {
        if (once && follower.Taken() > 0 && station.WaitFor(std::chrono::milliseconds(0))) {
            break;
        }
    }
    follower.Stop();
    return kExitOk;
}

}  // namespace

namespace {

// `station` takes send's options, with a repeatable --port in place of the one.
CLI::App* AddStationOptions(CLI::App& app, StationOptions& o) {
    CLI::App* command = AddCommand(app, "station");
    command
        ->add_option("FILE", o.job.file,
                     "Program or database image, or a channel list (.sdx, Enigma2 lamedb, VDR "
                     "channels.conf)")
        ->required();
    AddLineOptions(*command, o.job);
    command->remove_option(command->get_option("--port"));
    command
        ->add_option("-p,--port", o.ports,
                     "A port to serve (COM name or device path); repeat it. \"all\": every "
                     "USB serial adapter, and those plugged in later")
        ->required();
    AddDatabaseOptions(*command, o.job.values);
    AddListOptions(*command, o.job.list);
    command->add_option("--work-dir", o.job.workDir,
                        "Folder for the conversion's working files (default: current folder)");
    AddJobOutputOptions(*command, o.job);
    command->add_flag("--once", o.once, "One receiver per port, then end");
    command
        ->add_option("--log", o.job.log,
                     "Append a JSON line on each job to this file (default: jobs.jsonl in "
                     "the user's data folder)")
        ->type_name("TEXT:FILE");
    AddRecordOptions(*command, o.job, true);
    return command;
}

}  // namespace

void SetupStationCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<StationOptions>();
    CLI::App* command = AddStationOptions(app, *options);
    OnRun(*command, status, [options] { return RunStation(*options); });
}

int RunStation(const StationOptions& options) {
    const std::string& requested = options.job.progress;
    Console console(ChooseProgressStyle(options.job.quiet, requested));
    StationSettings settings;
    settings.file = options.job.file;
    settings.values = options.job.values;
    settings.workDir = options.job.workDir;
    settings.listChoice = ListChoiceOf(options.job);
    settings.force = options.job.force;
    settings.once = options.once;
    if (options.job.timeoutSeconds > 0) {
        settings.waitLimit = WaitLimit(options.job.timeoutSeconds);
    }
    if (const int refused = RefuseBeforeStart(console, options, settings); refused != kExitOk) {
        return refused;
    }
    RecordPlan plan;
    if (const int refused = PlanRecord(console, options.job, true, plan); refused != kExitOk) {
        return refused;
    }
    console.Say("Each job is logged to " + (plan.logPath.empty() ? "nowhere" : plan.logPath) + ".");
    ShopRecordHost record(console, plan);

    // The watcher comes first: the threads started after it (the station's,
    // the pacer's, the ports') leave the signals to it.
    std::atomic<bool> interrupted{false};
    std::atomic<CStation*> running{nullptr};
    StopSignal stop;
    InterruptWatcher watcher([&] {
        interrupted.store(true);
        stop.Notify();
        if (CStation* station = running.load()) {
            station->Stop();
        }
    });
    StationView view(console, plan.logPath, console.Style());
    view.AttachRecord(plan.bench, record);
    record.Start();
    CStation station(view, settings);
    running.store(&station);
    // Cleared before the station goes, on every way out.
    const std::unique_ptr<std::atomic<CStation*>, void (*)(std::atomic<CStation*>*)> forget(
        &running, [](std::atomic<CStation*>* p) { p->store(nullptr); });
    if (interrupted.load()) {
        station.Stop();
    }
    bool refusedList = false;
    if (const std::string problem = station.Prepare(refusedList); !problem.empty()) {
        console.Error(problem);
        return refusedList ? kExitRefused : kExitJobFailed;
    }
    const int failed = IsAll(options.ports)
                           ? ServeEveryAdapter(console, station, view, options.once, stop)
                           : StartPorts(console, station, view, options.ports);
    if (failed != kExitOk) {
        return failed;
    }
    station.Wait();
    record.Finish();
    return view.Finish(interrupted.load(), watcher.ExitStatus());
}

}  // namespace velmora::cli
