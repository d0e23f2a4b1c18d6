// velmora-cli convert: the channel-list conversion without a port.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <vector>

#include "base/InputFile.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/JobSetup.h"
#include "cli/ReportText.h"
#include "sdx/ConversionChain.h"
#include "sdx/ImageDecode.h"
#include "sdx/ListFormat.h"
#include "sdx/SdxReader.h"
#include "transfer/JobChecks.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

// Why a conversion that ran produced no image, with the hint the command
// line can add; the exit status.
int ConversionEnd(Console& console, const ChainResult& result) {
    if (!result.listError.empty()) {
        console.Error("Cannot open the channel list: " + result.listError + ".");
        return kExitJobFailed;
    }
    std::string text =
        result.message.empty() ? "The conversion did not produce an image." : result.message;
    if (result.problem == ConversionProblem::CannotWrite ||
        result.problem == ConversionProblem::NoSpace ||
        result.problem == ConversionProblem::WorkFolderMissing) {
        text += " A working folder is chosen with --work-dir DIR.";
    }
    console.Error(text);
    return result.status == ChainStatus::Refused ? kExitRefused : kExitJobFailed;
}

int RunConvert(const JobOptions& options) {
    Console console(ChooseProgressStyle(options.quiet, options.progress));
    JobSettings settings = JobSettingsFromOptions(options, options.values);
    // A conversion on its own is a database job: the image is kept, not refused.
    settings.nUpgradeType = UpgradeType::Database;
    console.SetJob({}, {}, settings);
    if (const int refused = RefuseBadJob(console, settings, options.force, true);
        refused != kExitOk) {
        return refused;
    }
    WarnIfNotPlainSdx(console, options.file);
    if (const std::string problem = DatabaseLimitProblem(settings); !problem.empty()) {
        console.Error(problem);
        return kExitRefused;
    }

    std::stop_source stop;
    InterruptWatcher watcher([&stop] { stop.request_stop(); });
    const ChainResult result =
        RunConversionChain(settings, console.AnalyseBar(), console.Messages(), stop.get_token());
    if (stop.stop_requested()) {
        console.Error("Cancelled: the conversion did not finish.");
        console.Result("interrupted", watcher.ExitStatus());
        return watcher.ExitStatus();
    }
    if (result.status != ChainStatus::Continue || settings.bConverted == 0 || !result.hasReport) {
        const int status = ConversionEnd(console, result);
        console.Result(status == kExitRefused ? "refused" : "conversion-failed", status);
        return status;
    }
    if (console.Style() == ProgressStyle::Json) {
        console.OnConversionReport(result.report);
    } else if (!options.json) {
        console.Say("");
        for (const std::string& line : ConversionReportLines(result.report, settings)) {
            std::printf("%s\n", line.c_str());
        }
    }
    if (options.json) {
        std::printf("%s\n", JsonLine(ConversionReportObject(result.report)).c_str());
    } else if (console.Style() != ProgressStyle::Json) {
        std::printf("Wrote %s (%llu bytes)\n", result.imagePath.c_str(),
                    static_cast<unsigned long long>(result.imageSize));
    }
    console.Result("finished", kExitOk);
    return kExitOk;
}

}  // namespace

void SetupConvertCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<JobOptions>();
    CLI::App* command = AddCommand(app, "convert");
    command
        ->add_option("LIST", options->file,
                     "The channel list: SATCODX (.sdx), Enigma2 (lamedb, lamedb5) or VDR "
                     "(channels.conf)")
        ->required();
    AddDatabaseOptions(*command, options->values);
    AddListOptions(*command, options->list);
    command->add_option("--work-dir", options->workDir,
                        "Folder for db1.bin, tmp.bin and db.bin (default: current folder)");
    AddJobOutputOptions(*command, *options);
    command->add_flag("--json", options->json,
                      "Print the conversion report as one JSON object on stdout");
    OnRun(*command, status, [options] { return RunConvert(*options); });
}

}  // namespace velmora::cli
