#include "transfer/JobChecks.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "base/InputFile.h"
#include "base/TextFormat.h"
#include "sdx/ChannelList.h"
#include "sdx/ImageDecode.h"
#include "sdx/ListFormat.h"
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

// A list whose choice of services does not fit it: refused; an Enigma2
// version the reader does not know: refused unless forced.
void CheckChoice(const JobSettings& settings, std::vector<JobCheck>& problems) {
    // Checked as if not forced, so that --force goes on with a warning.
    ListChoice choice = settings.listChoice;
    choice.anyVersion = false;
    const ListChoiceCheck check = CheckListChoice(settings.strFilePath, choice);
    if (check.fact.empty()) {
        return;
    }
    if (check.version) {
        problems.push_back({JobProblem::ListVersion, check.fact,
                            "Export the list in version 4 or 5 (lamedb, lamedb5), then try "
                            "again."});
    } else {
        problems.push_back({JobProblem::ListChoice, check.fact, {}});
    }
}

// An Enigma2 or VDR list none of whose services the choice lets in.
void CheckSomethingToConvert(const JobSettings& settings, std::vector<JobCheck>& problems) {
    NullProgressBar bar;
    ChannelListRead read = ReadChannelList(settings.strFilePath, settings.listChoice, bar);
    ReleaseSdxList(read.records.pHead);
    if (!read.refusal.empty()) {
        problems.push_back({JobProblem::ListChoice, read.refusal, {}});
    }
}

// A channel list that is not one: refused unless forced, as converting it
// would replace the receiver's channels with nothing or with rubbish.
void CheckListContent(const JobSettings& settings, std::vector<JobCheck>& problems) {
    const std::string& path = settings.strFilePath;
    if (ListKindOfFile(path)) {
        CheckChoice(settings, problems);
        if (std::all_of(problems.begin(), problems.end(),
                        [](const JobCheck& p) { return p.Forceable(); })) {
            CheckSomethingToConvert(settings, problems);
        }
        return;
    }
    if (FileSize(path) == 0) {
        problems.push_back({JobProblem::NotSatcodx, path + " is empty: it holds no channels.",
                            "Choose the exported SATCODX list, then try again."});
        return;
    }
    if (const std::string mismatch = VdrListMismatch(path); !mismatch.empty()) {
        problems.push_back({JobProblem::NotSatcodx,
                            path + " is not a VDR channel list: " + mismatch + ".",
                            "Choose the channels.conf that VDR wrote, then try again."});
    } else if (!FileBeginsWithSdxSignature(path)) {
        problems.push_back({JobProblem::NotSatcodx,
                            path + " is not a SATCODX channel list: it does not begin with SATCODX "
                                   "(it may be JSON, text or another format).",
                            "Export the list in the SATCODX format, then try again."});
    } else if (std::optional<JobCheck> lines = CheckListLineLength(path)) {
        problems.push_back(std::move(*lines));
    }
    CheckChoice(settings, problems);
}

// How much of a file is looked at to tell a database image: its header and
// the first records of its sections.
constexpr std::size_t kImageLook = 4U * 1024U * 1024U;

bool IsDatabaseImage(const JobSettings& settings) {
    InputFile file;
    if (!file.Open(settings.strFilePath)) {
        return false;
    }
    std::vector<std::uint8_t> head(
        static_cast<std::size_t>(std::min<std::uint64_t>(file.Length(), kImageLook)));
    head.resize(file.Read(head.data(), head.size()));
    return LooksLikeDatabaseImage(head, file.Length(), ImageLimitsOf(settings));
}

// A file that cannot be meant as sent: too long to announce, or wrong for
// the program area.
void CheckImageFile(const JobSettings& settings, std::vector<JobCheck>& problems) {
    const std::string& path = settings.strFilePath;
    const std::uint64_t size = FileSize(path);
    if (size > kLargestTransfer) {
        problems.push_back({JobProblem::TooLarge,
                            path + " is " + GroupedDigits(size) +
                                " bytes long, but a transfer can announce at most " +
                                GroupedDigits(kLargestTransfer) + " bytes (4 GiB less one byte).",
                            "Choose the receiver's image file, then try again."});
        return;
    }
    if (settings.nUpgradeType != UpgradeType::Code) {
        return;
    }
    if (size == 0) {
        problems.push_back({JobProblem::EmptyCode,
                            path + " is empty: flashed as the receiver's program it would leave "
                                   "the receiver unable to start.",
                            "Choose the program image file, then try again."});
        return;
    }
    if (auto check = CheckDatabaseAsCode(settings)) {
        problems.push_back(std::move(*check));
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
             isList ? "Choose the channel list file inside it." : "Choose the file inside it."});
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
            return problems;
        }
        CheckImageFile(settings, problems);
        return problems;
    }
    CheckListContent(settings, problems);
    if (const ConversionCheck check = CheckConversion(settings);
        check.problem != ConversionProblem::None) {
        problems.push_back({JobProblem::Conversion, check.message, {}, check.problem});
    }
    return problems;
}

}  // namespace

std::optional<JobCheck> CheckListLineLength(const std::string& path) {
    const SdxLayout layout = SdxLayoutOfFile(path);
    if (layout.known || ListKindOfFile(path)) {
        return std::nullopt;
    }
    return JobCheck{JobProblem::ListLineLength, SdxLayoutFact(path, layout), kSdxLayoutAdvice};
}

std::optional<JobCheck> CheckDatabaseAsCode(const JobSettings& settings) {
    if (settings.nUpgradeType != UpgradeType::Code || IsChannelList(settings.strFilePath) ||
        !IsDatabaseImage(settings)) {
        return std::nullopt;
    }
    return JobCheck{JobProblem::DatabaseAsCode,
                    settings.strFilePath +
                        " is a channel database image, not a program image: flashed as the "
                        "receiver's program at 0x10000 it would leave the receiver unable to "
                        "start.",
                    "To load its channels, choose the upgrade type Database."};
}

std::vector<JobCheck> CheckJob(const JobSettings& settings) {
    return Check(settings, IsChannelList(settings.strFilePath));
}

std::vector<JobCheck> CheckConversionJob(const JobSettings& settings) {
    return Check(settings, true);
}

}  // namespace velmora
