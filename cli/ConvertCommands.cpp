// velmora-cli convert and inspect: the channel-list conversion without a port,
// and a readable view of a database image.
#include <cstdio>
#include <stop_token>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/ReportText.h"
#include "job/InputFile.h"
#include "sdx/ConversionChain.h"
#include "sdx/ImageDecode.h"
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

// Which limits fit what the image holds, as far as it tells; nothing when it
// tells nothing.
void PrintLimitsHint(const std::vector<std::uint8_t>& bytes, const ImageLimits& given) {
    const ImageLimitGuess guess = GuessImageLimits(bytes, given);
    std::string options;
    if (guess.maxSat) {
        options += " --max-sat " + std::to_string(*guess.maxSat);
    }
    if (guess.terrestrial && *guess.terrestrial != given.bTerrestrial) {
        options += *guess.terrestrial ? " --project DVB-S+T" : " --project DVB-S";
    }
    if (guess.maxTp) {
        options += " --max-tp " + std::to_string(*guess.maxTp);
    }
    if (guess.maxTv) {
        options += " --max-tv " + std::to_string(*guess.maxTv);
    }
    if (guess.radioAtLeast) {
        options += " --max-radio " + std::to_string(*guess.radioAtLeast) + " (or more)";
    }
    if (!options.empty()) {
        std::fprintf(stderr, "velmora-cli: what the image holds fits:%s\n", options.c_str());
    }
}

}  // namespace

void WarnIfNotPlainSdx(Console& console, const std::string& path) {
    const std::string warning = SdxFormatWarningForFile(path);
    if (!warning.empty()) {
        console.Warn(warning);
    }
}

int RunConvert(const JobOptions& options) {
    Console console(ChooseProgressStyle(options.quiet, options.progress));
    JobSettings settings;
    LineParams unused;
    ConvertDialogValues(options.values, settings, unused);
    // A conversion on its own is a database job: the image is kept, not refused.
    settings.nUpgradeType = UpgradeType::Database;
    settings.strFilePath = options.file;
    settings.strWorkDir = options.workDir;
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
        std::printf("%s\n", ConversionReportJson(result.report).c_str());
    } else if (console.Style() != ProgressStyle::Json) {
        std::printf("Wrote %s (%llu bytes)\n", result.imagePath.c_str(),
                    static_cast<unsigned long long>(result.imageSize));
    }
    console.Result("finished", kExitOk);
    return kExitOk;
}

int RunInspect(const InspectOptions& options) {
    // Opened without blocking: a pipe or a device is refused, not waited on.
    InputFile in;
    std::vector<std::uint8_t> bytes;
    bool read = in.Open(options.image);
    if (read) {
        bytes.resize(static_cast<std::size_t>(in.Length()));
        bytes.resize(in.Read(bytes.data(), bytes.size()));
        read = !in.ReadFailed();
    }
    if (!read) {
        std::fprintf(stderr, "velmora-cli: the image %s does not exist or cannot be read.\n",
                     options.image.c_str());
        return kExitFileMissing;
    }
    JobSettings settings;
    LineParams unused;
    ConvertDialogValues(options.values, settings, unused);
    if (const std::string problem = DatabaseLimitProblem(settings); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitRefused;
    }
    const ImageLimits limits = ImageLimitsOf(settings);
    DecodedImage decoded;
    std::string error;
    if (!DecodeDatabaseImage(bytes, limits, decoded, error)) {
        std::fprintf(stderr, "velmora-cli: %s\n", error.c_str());
        PrintLimitsHint(bytes, limits);
        return kExitJobFailed;
    }
    const std::string text = options.json ? FormatImageJson(decoded) : FormatImageTables(decoded);
    std::fputs(text.c_str(), stdout);
    if (!text.empty() && text.back() != '\n') {
        std::fputc('\n', stdout);
    }
    if (decoded.nonZeroFillBytes != 0) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "velmora-cli: the bytes after the radio section are not zero: the limits "
                     "given are probably not the ones the image was written with.\n");
        PrintLimitsHint(bytes, limits);
    }
    return kExitOk;
}

}  // namespace velmora::cli
