// velmora-cli inspect: shows a database image as tables (or JSON).
#include <cstdio>
#include <memory>
#include <vector>

#include "base/InputFile.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "sdx/DatabaseImage.h"
#include "sdx/ImageDecode.h"
#include "sdx/ImageText.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

struct InspectOptions {
    DialogValues values;  // the limits and the project the image was written with
    std::string image;
    bool json = false;
};

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

}  // namespace

void SetupInspectCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<InspectOptions>();
    CLI::App* command = AddCommand(app, "inspect");
    command->add_option("IMAGE", options->image, "db1.bin, db.bin or another image")->required();
    AddDatabaseOptions(*command, options->values);
    command->add_flag("--json", options->json, "Print JSON instead of tables");
    OnRun(*command, status, [options] { return RunInspect(*options); });
}

}  // namespace velmora::cli
