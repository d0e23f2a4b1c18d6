// velmora-cli convert and inspect: the channel-list conversion without a port,
// and a readable view of a database image.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stop_token>
#include <system_error>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "sdx/ConversionChain.h"
#include "sdx/ImageDecode.h"
#include "sdx/SdxReader.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

bool IsExistingFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

void WarnIfNotPlainSdx(const std::string& path) {
    const std::string warning = SdxFormatWarningForFile(path);
    if (!warning.empty()) {
        std::fprintf(stderr, "velmora-cli: warning: %s\n", warning.c_str());
    }
}

int RunConvert(const JobOptions& options) {
    if (!IsExistingFile(options.file)) {
        std::fprintf(stderr, "velmora-cli: the channel list %s does not exist.\n",
                     options.file.c_str());
        return kExitFileMissing;
    }
    WarnIfNotPlainSdx(options.file);

    JobSettings settings;
    LineParams unused;
    ConvertDialogValues(options.values, settings, unused);
    // A conversion on its own is a database job: the image is kept, not refused.
    settings.nUpgradeType = UpgradeType::Database;
    settings.strFilePath = options.file;
    settings.strWorkDir = options.workDir;
    if (const std::string problem = DatabaseLimitProblem(settings); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitRefused;
    }

    const ProgressStyle style = ChooseProgressStyle(options.quiet);
    Console console(stderr, style);
    std::stop_source stop;
    InterruptWatcher watcher([&stop] { stop.request_stop(); });
    const ChainResult result =
        RunConversionChain(settings, console.AnalyseBar(), console.Messages(), stop.get_token());
    if (stop.stop_requested()) {
        console.Say("Cancelled: the conversion did not finish.");
        return kExitJobFailed;
    }
    if (!result.listError.empty()) {
        console.Say(result.listError);
        return kExitJobFailed;
    }
    if (result.status != ChainStatus::Continue || settings.bConverted == 0) {
        console.Say(result.message.empty() ? "The conversion did not produce an image."
                                           : result.message);
        return kExitJobFailed;
    }
    console.Say("");
    std::printf("Wrote %s (%llu bytes)\n", result.imagePath.c_str(),
                static_cast<unsigned long long>(result.imageSize));
    return kExitOk;
}

int RunInspect(const InspectOptions& options) {
    std::ifstream in(options.image, std::ios::binary);
    if (!IsExistingFile(options.image) || !in) {
        std::fprintf(stderr, "velmora-cli: the image %s does not exist or cannot be read.\n",
                     options.image.c_str());
        return kExitFileMissing;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    JobSettings settings;
    LineParams unused;
    ConvertDialogValues(options.values, settings, unused);
    if (const std::string problem = DatabaseLimitProblem(settings); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitRefused;
    }
    DecodedImage decoded;
    std::string error;
    if (!DecodeDatabaseImage(bytes, ImageLimitsOf(settings), decoded, error)) {
        std::fprintf(stderr, "velmora-cli: %s\n", error.c_str());
        return kExitJobFailed;
    }
    const std::string text = options.json ? FormatImageJson(decoded) : FormatImageTables(decoded);
    std::fputs(text.c_str(), stdout);
    if (!text.empty() && text.back() != '\n') {
        std::fputc('\n', stdout);
    }
    return kExitOk;
}

}  // namespace velmora::cli
