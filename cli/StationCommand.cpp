#include "cli/StationCommand.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "base/JobLog.h"
#include "base/TextFormat.h"
#include "cli/CommandOptions.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/JobLogHost.h"
#include "cli/JobSetup.h"
#include "cli/PortChoice.h"
#include "cli/ShopRecordHost.h"
#include "cli/StationScreen.h"
#include "cli/Terminal.h"
#include "sdx/ListFormat.h"
#include "serial/PortDevice.h"
#include "serial/PortMonitor.h"
#include "transfer/Station.h"
#include "transfer/StationStart.h"

namespace velmora::cli {

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
int RefuseBeforeStart(Console& console, const StationOptions& options,
                      const StationSettings& settings) {
    if (const std::string twice = PortGivenTwice(options.ports); !twice.empty()) {
        console.Error(twice);
        return kExitUsage;
    }
    const StationChecks checks = CheckStation(settings);
    const JobSettings job = StationJobSettings(settings);
    if (const int refused = RefuseProblems(console, checks.problems, job, options.job.force);
        refused != kExitOk) {
        return refused;
    }
    if (!checks.limitProblem.empty()) {
        console.Error(checks.limitProblem);
        return kExitRefused;
    }
    if (IsChannelList(settings.file)) {
        WarnIfNotPlainSdx(console, settings.file);
    }
    return kExitOk;
}

// Opens every port; any that cannot be named or opened stops the station
// before a byte is sent. Returns 0 or the exit status.
int StartPorts(Console& console, CStation& station, StationScreen& screen,
               const std::vector<std::string>& ports) {
    const auto refuse = [&console](const std::string& text, const std::string& why) {
        console.Error("Cannot use " + text + ": " + why +
                      " No receiver was upgraded; check the ports (velmora-cli ports), then "
                      "run the command again.");
    };
    std::vector<std::string> devices;
    for (const std::string& text : ports) {
        const PortChoice port = ChoosePort(text);
        if (!port.error.empty()) {
            refuse(text, port.error);
            return kExitPortFailed;
        }
        devices.push_back(port.device.empty() ? port.portText : port.device);
    }
    const std::optional<PortStartFailure> failed = OpenStationPorts(
        station, devices, [&screen](const std::string& device) { screen.AddPort(device); });
    if (failed) {
        refuse(ports[failed->index], failed->why);
        return failed->result == StartResult::FileMissing ? kExitFileMissing : kExitPortFailed;
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

// --port all: every USB serial adapter present and those plugged in later,
// until Ctrl-C; with --once, until each adapter taken has served one receiver.
int ServeEveryAdapter(Console& console, CStation& station, StationScreen& screen, bool once,
                      StopSignal& stop) {
    const std::unique_ptr<IPortMonitor> monitor = MakePortMonitor();
    CAdapterFollower follower(station, *monitor,
                              [&screen](const std::string& device, const std::string& why) {
                                  screen.Host().OnPortDropped(device, why);
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

void AddStationOptions(CLI::App& command, StationOptions& o) {
    command.add_option("FILE", o.job.file,
                       "Program or database image, or a channel list (.sdx, Enigma2 lamedb, VDR "
                       "channels.conf)");
    AddLineOptions(command, o.job);
    command.remove_option(command.get_option("--port"));
    command.add_option("-p,--port", o.ports,
                       "A port to serve (COM name or device path); repeat it. \"all\": every "
                       "USB serial adapter, and those plugged in later");
    AddDatabaseOptions(command, o.job.values);
    AddListOptions(command, o.job.list);
    command.add_option("--work-dir", o.job.workDir,
                       "Folder for the conversion's working files (default: current folder)");
    AddJobOutputOptions(command, o.job);
    command.add_flag("--once", o.once, "One receiver per port, then end");
    command
        .add_option("--log", o.job.log,
                    "Append a JSON line on each job to this file (default: jobs.jsonl in "
                    "the user's data folder)")
        ->type_name("TEXT:FILE");
    AddRecordOptions(command, o.job, true);
}

void SetupStationCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<StationOptions>();
    CLI::App* command = AddCommand(app, "station");
    AddStationOptions(*command, *options);
    command->get_option("FILE")->required();
    command->get_option("--port")->required();
    OnRun(*command, status, [options] { return RunStation(*options); });
}

bool ServesEveryAdapter(const std::vector<std::string>& ports) {
    return ports.size() == 1 && AsciiLower(ports[0]) == "all";
}

namespace {

StationSettings StationSettingsOf(const StationOptions& options) {
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
    return settings;
}

// Converts a channel list once and says what it made of it. Returns 0 or the
// exit status.
int PrepareStation(Console& console, CStation& station, const StationSettings& settings) {
    bool refusedList = false;
    if (const std::string problem = station.Prepare(refusedList); !problem.empty()) {
        console.Error(problem);
        return refusedList ? kExitRefused : kExitJobFailed;
    }
    if (const std::optional<ConversionReport>& report = station.Conversion()) {
        console.SetJob({}, {}, StationJobSettings(settings));  // the limits the report names
        console.OnConversionReport(*report);
    }
    return kExitOk;
}

}  // namespace

int RunStation(const StationOptions& options) {
    Console console(ChooseProgressStyle(options.job.quiet, options.job.progress));
    const StationSettings settings = StationSettingsOf(options);
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
    StationScreen screen(console, plan, record, options.once);
    record.Start();
    CStation station(screen.Host(), settings);
    running.store(&station);
    // Cleared before the station goes, on every way out.
    const std::unique_ptr<std::atomic<CStation*>, void (*)(std::atomic<CStation*>*)> forget(
        &running, [](std::atomic<CStation*>* p) { p->store(nullptr); });
    if (interrupted.load()) {
        station.Stop();
    }
    int failed = PrepareStation(console, station, settings);
    if (failed == kExitOk) {
        failed = ServesEveryAdapter(options.ports)
                     ? ServeEveryAdapter(console, station, screen, options.once, stop)
                     : StartPorts(console, station, screen, options.ports);
    }
    if (failed != kExitOk) {
        return failed;
    }
    station.Wait();
    record.Finish();
    return screen.Finish(interrupted.load(), watcher.ExitStatus());
}

}  // namespace velmora::cli
