#include <atomic>
#include <chrono>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/PortChoice.h"
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
        case JobOutcome::DeviceLost:
        case JobOutcome::TimedOut:
        case JobOutcome::Cancelled:
            return kExitJobFailed;
    }
    return kExitJobFailed;
}

}  // namespace

int RunSend(const JobOptions& options) {
    const ProgressStyle style = ChooseProgressStyle(options.quiet);
    Console console(stderr, style);
    CUpgradeController controller(console.AnalyseBar(), console.SendBar(), console.Messages());

    const PortChoice port = ChoosePort(options.port);
    if (!port.error.empty()) {
        console.Say(port.error);
        return kExitPortFailed;
    }
    DialogValues values = options.values;
    // COM1..COM8 take the dialog's way: the last character of the text.
    values.strPort = port.portText;
    controller.SetDeviceOverride(port.device);
    if (IsSdxFileName(options.file)) {
        WarnIfNotPlainSdx(options.file);
    }
    controller.Settings().strFilePath = options.file;
    controller.Settings().strWorkDir = options.workDir;
    if (options.timeoutSeconds > 0) {
        controller.SetWaitLimit(
            std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0)));
    }

    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&] {
        interrupted.store(true);
        controller.Cancel();
    });

    switch (controller.Start(options.file, values)) {
        case StartResult::Started:
            break;
        case StartResult::FileMissing:
            return kExitFileMissing;
        case StartResult::Busy:
        case StartResult::LimitRefused:
            return kExitRefused;
        case StartResult::PortFailed:
            ReportPortFailure(console, controller, port);
            return kExitPortFailed;
    }
    if (style != ProgressStyle::Quiet) {
        console.Say("Waiting for the receiver on " + port.Where() +
                    ": switch it on or reset it now.");
    }
    controller.Wait();
    const JobOutcome outcome = controller.LastOutcome();
    if (outcome == JobOutcome::Cancelled || interrupted.load()) {
        if (outcome != JobOutcome::Finished) {
            console.Say(
                "Cancelled: the transfer did not finish. Press Start again (run the "
                "command again) to upgrade the receiver.");
        }
    }
    return ExitForOutcome(outcome);
}

}  // namespace velmora::cli
