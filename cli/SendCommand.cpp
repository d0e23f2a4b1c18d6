#include <atomic>
#include <chrono>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

bool IsComName(const std::string& port) {
    return port.rfind("COM", 0) == 0;
}

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

    DialogValues values = options.values;
    // The port number comes from the last character of the text, as in the dialog.
    values.strPort = options.port;
    if (!IsComName(options.port)) {
        controller.SetDeviceOverride(options.port);
    }
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
            if (!controller.LastPortError().empty()) {
                console.Say(controller.LastPortError());
            }
            return kExitPortFailed;
    }
    if (style != ProgressStyle::Quiet) {
        std::string where = options.port;
        const std::string device = ResolvePortName(controller.LastLineParams().nPort);
        if (IsComName(options.port) && device != options.port) {
            where += " (" + device + ")";
        }
        console.Say("Waiting for the receiver on " + where + ": switch it on or reset it now.");
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
