#include "transfer/JobChecks.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "sdx/SdxReader.h"
#include "transfer/UpgradeController.h"
#include "transfer/UpgradeWorker.h"

namespace velmora {

namespace {

std::uint64_t FileSize(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

// A channel list that is not one: refused unless forced, as converting it
// would replace the receiver's channels with nothing or with rubbish.
void CheckListContent(const std::string& path, std::vector<JobCheck>& problems) {
    if (FileSize(path) == 0) {
        problems.push_back({JobProblem::NotSatcodx, path + " is empty: it holds no channels.",
                            "Choose the exported SATCODX list, then try again."});
        return;
    }
    if (!FileBeginsWithSdxSignature(path)) {
        problems.push_back({JobProblem::NotSatcodx,
                            path + " is not a SATCODX channel list: it does not begin with SATCODX "
                                   "(it may be JSON, text or another format).",
                            "Export the list in the SATCODX format, then try again."});
    } else if (std::optional<JobCheck> lines = CheckListLineLength(path)) {
        problems.push_back(std::move(*lines));
    }
}

std::vector<JobCheck> Check(const JobSettings& settings, bool isList) {
    std::vector<JobCheck> problems;
    const std::string& path = settings.strFilePath;
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) {
        problems.push_back({JobProblem::FileMissing, kFileMissingMessage, {}});
        return problems;
    }
    if (std::filesystem::is_directory(path, ec)) {
        problems.push_back(
            {JobProblem::IsFolder,
             path + " is a folder, not " + (isList ? "a channel list." : "a file."),
             isList ? "Choose the .sdx file inside it." : "Choose the file inside it."});
        return problems;
    }
    if (!std::filesystem::is_regular_file(path, ec)) {
        // Reading a pipe or a device could wait for ever, or never end.
        problems.push_back({JobProblem::NotAFile,
                            path + " is not a regular file (it is a pipe or a device).",
                            "Choose the file itself, then try again."});
        return problems;
    }
    if (settings.nUpgradeType == UpgradeType::Custom) {
        problems.push_back({JobProblem::NothingToSend, "Upgrade type Custom sends nothing.",
                            "Choose Code, Database or Db Import/Export."});
        return problems;
    }
    if (!isList) {
        if (FileBeginsWithSdxSignature(path)) {
            const bool code = settings.nUpgradeType == UpgradeType::Code;
            problems.push_back(
                {JobProblem::ListAsImage,
                 path + " is a SATCODX channel list, not a " +
                     (code ? "program image: flashed as the receiver's program it could "
                             "leave the receiver unable to start."
                           : "database image: the receiver would store its text as channels."),
                 "To load its channels, give it a name ending in .sdx and choose the upgrade "
                 "type Database."});
        }
        return problems;
    }
    CheckListContent(path, problems);
    if (const ConversionCheck check = CheckConversion(settings);
        check.problem != ConversionProblem::None) {
        problems.push_back({JobProblem::Conversion, check.message, {}, check.problem});
    }
    return problems;
}

}  // namespace

std::optional<JobCheck> CheckListLineLength(const std::string& path) {
    const SdxLayout layout = SdxLayoutOfFile(path);
    if (layout.known) {
        return std::nullopt;
    }
    return JobCheck{JobProblem::ListLineLength, SdxLayoutFact(path, layout), kSdxLayoutAdvice};
}

std::vector<JobCheck> CheckJob(const JobSettings& settings) {
    return Check(settings, IsSdxFileName(settings.strFilePath));
}

std::vector<JobCheck> CheckConversionJob(const JobSettings& settings) {
    return Check(settings, true);
}

}  // namespace velmora
