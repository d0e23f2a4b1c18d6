#include "cli/JobSetup.h"

#include <cmath>

#include "cli/CommandOptions.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "sdx/ListFormat.h"
#include "sdx/SdxFormat.h"
#include "sdx/SdxReader.h"
#include "transfer/JobChecks.h"

namespace velmora::cli {

JobSettings JobSettingsFromOptions(const JobOptions& options, const DialogValues& values) {
    JobSettings settings = JobSettingsFor(values, options.file, options.workDir);
    settings.listChoice = ListChoiceOf(options);
    return settings;
}

std::chrono::milliseconds WaitLimit(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000.0)));
}

int Ended(Console& console, const std::string& outcome, int status) {
    console.Result(outcome, status);
    return status;
}

std::string LineText(const DialogValues& values) {
    const char parity = values.strParity.empty() ? 'N' : values.strParity[0];
    return values.strBaudRate + " " + values.strDataBits + parity + values.strStopBits;
}

int RefuseBadJob(Console& console, const JobSettings& settings, bool force, bool convert) {
    return RefuseProblems(console, convert ? CheckConversionJob(settings) : CheckJob(settings),
                          settings, force);
}

int RefuseProblems(Console& console, const std::vector<JobCheck>& problems,
                   const JobSettings& settings, bool force) {
    for (const JobCheck& check : problems) {
        if (check.Forceable() && force) {
            // A list that is not SATCODX gets the format warning further on.
            if (check.problem != JobProblem::NotSatcodx) {
                console.Warn(check.fact + " Going on as --force asks.");
            }
            continue;
        }
        const bool missing = check.problem == JobProblem::FileMissing ||
                             check.problem == JobProblem::IsFolder ||
                             check.problem == JobProblem::NotAFile;
        std::string text = check.Message();
        if (check.Forceable()) {
            text += " To go on all the same, add --force.";
        }
        if (check.conversion == ConversionProblem::NoSpace ||
            check.conversion == ConversionProblem::WorkFolderMissing ||
            check.conversion == ConversionProblem::WorkFolderReadOnly) {
            text += " A working folder is chosen with --work-dir DIR.";
        }
        if (check.problem == JobProblem::FileMissing) {
            console.Error(text + " (" + settings.strFilePath + ")");
        } else {
            console.Error(text);
        }
        return Ended(console, missing ? "file-missing" : "refused",
                     missing ? kExitFileMissing : kExitRefused);
    }
    return kExitOk;
}

void WarnIfNotPlainSdx(Console& console, const std::string& path) {
    if (ListKindOfFile(path)) {
        return;  // an Enigma2 or VDR list
    }
    const std::string warning = SdxFormatWarningForFile(path);
    if (!warning.empty()) {
        console.Warn(warning);
    }
}

}  // namespace velmora::cli
