#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/JobLogHost.h"
#include "cli/JobSetup.h"
#include "cli/PortChoice.h"
#include "cli/ShopRecordHost.h"
#include "sdx/ListFormat.h"
#include "transfer/JobChecks.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

int ExitForOutcome(JobOutcome outcome) {
    switch (outcome) {
        case JobOutcome::Finished:
            return kExitOk;
        case JobOutcome::NothingToDo:
        case JobOutcome::Refused:
            return kExitRefused;
        case JobOutcome::ConversionFailed:
        case JobOutcome::FileError:
        case JobOutcome::FileShrank:
        case JobOutcome::FileChanged:
        case JobOutcome::ReceiverRestarted:
        case JobOutcome::DeviceLost:
        case JobOutcome::TimedOut:
        case JobOutcome::Cancelled:
            return kExitJobFailed;
    }
    return kExitJobFailed;
}

// The outcome as the JSON result names it.
std::string OutcomeName(JobOutcome outcome) {
    std::string name = JobOutcomeName(outcome);
    for (char& c : name) {
        c = c == ' ' ? '-' : c;
    }
    return name;
}

int StartJob(CUpgradeController& controller, Console& console, const PortChoice& port,
             const JobOptions& options, const DialogValues& values) {
    switch (controller.Start(options.file, values)) {
        case StartResult::Started:
            return kExitOk;
        case StartResult::FileMissing:
            return Ended(console, "file-missing", kExitFileMissing);
        case StartResult::Busy:
        case StartResult::LimitRefused:
        case StartResult::ImageRefused:
            return Ended(console, "refused", kExitRefused);
        case StartResult::PortFailed:
            ReportPortFailure(console, controller, port);
            return Ended(console, "port-failed", kExitPortFailed);
    }
    return kExitJobFailed;
}

// What the job takes beyond the dialog's values: the port as chosen, --force,
// the file, the work folder, the list choice and the wait limit.
void SetUpJob(CUpgradeController& controller, const JobOptions& options, const PortChoice& port,
              const JobSettings& settings) {
    controller.SetDeviceOverride(port.device);
    controller.SetForce(options.force);
    controller.Settings().strFilePath = options.file;
    controller.Settings().strWorkDir = options.workDir;
    controller.Settings().listChoice = settings.listChoice;
    if (options.timeoutSeconds > 0) {
        controller.SetWaitLimit(WaitLimit(options.timeoutSeconds));
    }
}

int RunSend(const JobOptions& options) {
    Console console(ChooseProgressStyle(options.quiet, options.progress));
    DialogValues values = options.values;
    values.strPort = options.port;

    const JobSettings settings = JobSettingsFromOptions(options, values);
    console.SetJob(options.port, LineText(values), settings);
    if (const int refused = RefuseBadJob(console, settings, options.force); refused != kExitOk) {
        return refused;
    }
    RecordPlan plan;
    if (const int refused = PlanRecord(console, options, false, plan); refused != kExitOk) {
        return Ended(console, "refused", refused);
    }
    const PortChoice port = ChoosePort(options.port);
    if (!port.error.empty()) {
        console.Error(port.error);
        return Ended(console, "port-failed", kExitPortFailed);
    }
    // COM1..COM8 take the dialog's way: the last character of the text.
    values.strPort = port.portText;
    if (IsChannelList(options.file)) {
        WarnIfNotPlainSdx(console, options.file);
    }

    JobLogHost log(console, plan.logPath, plan.bench);
    ShopRecordHost record(console, plan);
    CUpgradeController controller(console.AnalyseBar(), console.SendBar(), log.Messages());
    controller.SetEvents(&log.Events());
    SetUpJob(controller, options, port, settings);

    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&] {
        interrupted.store(true);
        controller.Cancel();
    });
    // After the watcher, whose signals its thread leaves to it.
    record.Start();
    if (const int notStarted = StartJob(controller, console, port, options, values);
        notStarted != kExitOk) {
        return notStarted;
    }
    controller.Wait();
    const JobOutcome outcome = controller.LastOutcome();
    log.Write(outcome, port.device.empty() ? port.portText : port.device);
    record.Finish();
    if (interrupted.load() && outcome != JobOutcome::Finished) {
        console.Error(
            "Cancelled: the transfer did not finish. Press Start again (run the command "
            "again) to upgrade the receiver.");
        return Ended(console, "interrupted", watcher.ExitStatus());
    }
    return Ended(console, OutcomeName(outcome), ExitForOutcome(outcome));
}

}  // namespace

void SetupSendCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<JobOptions>();
    CLI::App* command = AddCommand(app, "send");
    command
        ->add_option("FILE", options->file,
                     "Program or database image, or a channel list (.sdx, Enigma2 lamedb, VDR "
                     "channels.conf)")
        ->required();
    AddLineOptions(*command, *options);
    AddDatabaseOptions(*command, options->values);
    AddListOptions(*command, options->list);
    command->add_option("--work-dir", options->workDir,
                        "Folder for the conversion's working files (default: current folder)");
    AddJobOutputOptions(*command, *options);
    command->add_option("--log", options->log, "Append a JSON line on the job to this file")
        ->type_name("TEXT:FILE");
    AddRecordOptions(*command, *options, true);
    OnRun(*command, status, [command, options] {
        if (command->count("--offset") > 0 && options->values.strUpgradeType == "Code") {
            throw UsageProblem("send",
                               "velmora-cli send: --offset does not apply to --type Code: a "
                               "program image always goes to 0x10000. Leave --offset out, or "
                               "give --type Database for a database image, for example --type "
                               "Database --offset 1b0000");
        }
        return RunSend(*options);
    });
}

}  // namespace velmora::cli
