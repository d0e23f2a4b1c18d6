#include "sdx/ConversionChain.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "base/TextFormat.h"
#include "sdx/ChannelDatabase.h"
#include "sdx/ChannelList.h"
#include "sdx/DatabaseImage.h"
#include "sdx/PostProcess.h"

namespace velmora {

namespace {

// One conversion at a time owns the process-wide channel database. A caller
// waiting for its turn can still be cancelled through its stop token.
class ConversionGate {
public:
    bool Enter(std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait(lock, stop, [this] { return !m_busy; })) {
            return false;
        }
        m_busy = true;
        return true;
    }
    void Leave() {
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_cv.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    bool m_busy = false;
};

ConversionGate& Gate() {
    static ConversionGate gate;
    return gate;
}

class GateTicket {
public:
    explicit GateTicket(std::stop_token stop) : m_entered(Gate().Enter(std::move(stop))) {}
    GateTicket(const GateTicket&) = delete;
    GateTicket& operator=(const GateTicket&) = delete;
    ~GateTicket() {
        if (m_entered) {
            Gate().Leave();
        }
    }
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

ChainResult Failed(std::string message) {
    ChainResult result;
    result.status = ChainStatus::Failed;
    result.message = std::move(message);
    return result;
}

// A conversion that cannot be made: nothing has been read or written.
ChainResult NotMade(const ConversionCheck& check) {
    ChainResult result;
    result.status = check.problem == ConversionProblem::ListIsFolder ? ChainStatus::Failed
                                                                     : ChainStatus::Refused;
    result.message = check.message;
    result.problem = check.problem;
    return result;
}

std::uint64_t SizeOrZero(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::string LimitsText(const JobSettings& s) {
    return "Max Sat No. " + std::to_string(s.nMaxSat) + ", Max TP No. " + std::to_string(s.nMaxTp) +
           ", Max TV No. " + std::to_string(s.nMaxTv) + ", Max Radio No. " +
           std::to_string(s.nMaxRadio);
}

ConversionReport ReportOf(const JobSettings& settings, const ChannelListRead& list,
                          const BuildTally& tally) {
    const SdxReadResult& read = list.records;
    ConversionReport report;
    report.list = list.report;
    report.listPath = settings.strFilePath;
    report.records = read.nPieces;
    report.version = read.version;
    report.recordLength = read.layout.recordLength;
    report.namesConverted = read.names.namesConverted;
    report.charactersReplaced = read.names.charactersReplaced;
    report.dropped.unreadable = read.nPieces - read.nCount;
    report.dropped.satelliteLimit = tally.satelliteLimit;
    report.dropped.transpondersPerSatellite = tally.transpondersPerSatellite;
    report.dropped.channelsPerTransponder = tally.channelsPerTransponder;
    TallyImage(GlobalChannelDatabase(), ImageLimitsOf(settings), report);
    return report;
}

}  // namespace

std::string WorkFolderText(const JobSettings& settings) {
    if (!settings.strWorkDir.empty()) {
        return settings.strWorkDir;
    }
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    return ec ? std::string("the current folder") : here.string();
}

ConversionCheck CheckConversionRoom(const JobSettings& settings, std::uint64_t freeBytes) {
    const auto image = static_cast<std::uint64_t>(LayoutOf(ImageLimitsOf(settings)).totalLength);
    // The packer's input (the flash prefix and the image) stands beside the image.
    std::uint64_t needed = image;
    std::uint64_t replaced = SizeOrZero(WorkFilePath(settings, kImageFileName));
    if (settings.bPackedModel != 0) {
        needed += settings.nOffset + image;
        replaced += SizeOrZero(WorkFilePath(settings, "tmp.bin")) +
                    SizeOrZero(WorkFilePath(settings, "db.bin"));
    }
    if (needed <= freeBytes + replaced) {
        return {};
    }
    return {ConversionProblem::NoSpace,
            "The conversion needs " + GroupedDigits(needed) + " bytes in the working folder " +
                WorkFolderText(settings) + ", but only " + GroupedDigits(freeBytes) +
                " bytes are free there. Free some space or choose another working folder, then "
                "try again."};
}

namespace {

// Whether a file can be created in `folder`: tried with an empty file of our
// own, made only where no such file exists, and removed at once.
bool CanCreateFilesIn(const std::string& folder) {
    const std::filesystem::path probe = std::filesystem::path(folder) / "velmora-write-check.tmp";
    std::error_code ec;
    if (std::filesystem::exists(probe, ec) || ec) {
        return true;  // not ours to touch: the writes will tell
    }
    std::FILE* file = std::fopen(probe.string().c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    std::filesystem::remove(probe, ec);
    return true;
}

}  // namespace

ConversionCheck CheckConversion(const JobSettings& settings) {
    std::error_code ec;
    if (std::filesystem::is_directory(settings.strFilePath, ec)) {
        return {ConversionProblem::ListIsFolder,
                settings.strFilePath +
                    " is a folder, not a channel list. Choose the .sdx file inside it."};
    }
    const auto image = static_cast<std::uint64_t>(LayoutOf(ImageLimitsOf(settings)).totalLength);
    if (image > kLargestImage) {
        return {ConversionProblem::ImageTooLarge,
                "With " + LimitsText(settings) + " the database image would be " +
                    GroupedDigits(image) + " bytes long, but a transfer can announce at most " +
                    GroupedDigits(kLargestImage) +
                    " bytes (4 GiB). Lower the limits to those of the receiver, then try again."};
    }
    const std::string folder = settings.strWorkDir.empty() ? "." : settings.strWorkDir;
    if (!std::filesystem::is_directory(folder, ec)) {
        return {ConversionProblem::WorkFolderMissing,
                "The working folder " + WorkFolderText(settings) +
                    " does not exist or is not a folder. Create it or choose another one, then "
                    "try again."};
    }
    if (!CanCreateFilesIn(folder)) {
        return {ConversionProblem::WorkFolderReadOnly,
                "Nothing can be written in the working folder " + WorkFolderText(settings) +
                    " (it is read-only, or not yours). Choose another working folder, then try "
                    "again."};
    }
    const std::filesystem::space_info room = std::filesystem::space(folder, ec);
    if (ec) {
        return {};  // nothing known about the room: the writes will tell
    }
    return CheckConversionRoom(settings, static_cast<std::uint64_t>(room.available));
}

namespace {

// Where a conversion ends once its list has been read: a list refused, or
// one that could not be read; nothing when it goes on.
std::optional<ChainResult> EndOfRead(const ChannelListRead& listRead, JobSettings& settings,
                                     IProgressBar& analyse) {
    const SdxReadResult& read = listRead.records;
    if (!listRead.refusal.empty()) {
        // Nothing can be converted: nothing is written either.
        ChainResult refused;
        refused.status = ChainStatus::Refused;
        refused.message = listRead.refusal;
        return refused;
    }
    switch (read.status) {
        case SdxReadStatus::Ok:
            break;
        case SdxReadStatus::CannotOpen: {
            // No image: the job goes on with the chosen file itself.
            settings.bConverted = 0;
            ChainResult result = FinishConversion(settings, analyse);
            result.listError = read.error;
            return result;
        }
        case SdxReadStatus::OutOfMemory:
            return Failed(SdxOpenFailText(settings.strFilePath));
        case SdxReadStatus::ReadError:
            return Failed("Cannot read the channel list " + settings.strFilePath + ": " +
                          read.error + ". Check the file and try again.");
    }
    return std::nullopt;
}

}  // namespace

ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop) {
    return RunConversionChain(settings, analyse, messages, std::move(stop), ChainOptions{});
}

ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop, const ChainOptions& options) {
    GateTicket ticket(stop);
    if (!ticket.Entered()) {
        return Failed(std::string());  // stopped while another conversion ran
    }

    if (const ConversionCheck check = CheckConversion(settings);
        check.problem != ConversionProblem::None) {
        return NotMade(check);
    }

    ChannelListRead listRead =
        ReadChannelList(settings.strFilePath, settings.listChoice, analyse, options.readFaults);
    SdxReadResult& read = listRead.records;
    SdxListGuard list(read.pHead);
    if (std::optional<ChainResult> end = EndOfRead(listRead, settings, analyse)) {
        return std::move(*end);
    }
    if (stop.stop_requested()) {
        return Failed(std::string());
    }

    BuildTally tally;
    BuildChannelDatabase(list.Head(), read.nCount, settings.nMaxSat, analyse, &tally);
    if (stop.stop_requested()) {
        return Failed(std::string());
    }

    std::string error;
    if (!WriteDatabaseImage(analyse, settings, list.Head(), error)) {
        ChainResult failed = Failed(error);
        failed.problem = ConversionProblem::CannotWrite;
        return failed;
    }
    if (stop.stop_requested()) {
        return Failed(std::string());
    }
    ChainResult result = PostProcessImage(settings, analyse, messages, std::move(stop));
    if (!result.imagePath.empty()) {
        result.hasReport = true;
        result.report = ReportOf(settings, listRead, tally);
        result.report.imagePath = result.imagePath;
        result.report.imageSize = result.imageSize;
    }
    return result;
}

std::string ConvertedImagePath(const JobSettings& settings) {
    if (settings.bConverted == 0 || settings.szImageName[0] == '\0') {
        return {};
    }
    std::string name(settings.szImageName,
                     strnlen(settings.szImageName, sizeof settings.szImageName));
    return WorkFilePath(settings, name.c_str());
}

}  // namespace velmora
