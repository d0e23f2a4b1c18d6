#include "sdx/PostProcess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "sdx/DatabaseImage.h"
#include "sdx/ProcessLayer.h"

namespace velmora {

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr std::size_t kCopyChunk = 64 * 1024;

std::string Reason(int error) {
    return std::strerror(error != 0 ? error : EIO);
}

void SetImageName(JobSettings& settings, const char* name) {
    std::memset(settings.szImageName, 0, sizeof settings.szImageName);
    std::strncpy(settings.szImageName, name, sizeof settings.szImageName - 1);
}

ChainResult Fail(JobSettings& settings, std::string message) {
    // No image to send: nothing may pick up a half-made one.
    settings.bConverted = 0;
    std::memset(settings.szImageName, 0, sizeof settings.szImageName);
    ChainResult result;
    result.status = ChainStatus::Failed;
    result.message = std::move(message);
    return result;
}

// Opens a working file; on failure `error` names it and tells why.
FilePtr OpenWorkFile(const std::string& path, const char* mode, bool create, std::string& error) {
    FilePtr file(std::fopen(path.c_str(), mode), &std::fclose);
    if (!file) {
        error = std::string(create ? "Cannot create the working file "
                                   : "Cannot open the working "
                                     "file ") +
                path + ": " + Reason(errno) +
                ". Check that the folder exists and can be written, then try again.";
    }
    return file;
}

bool RemoveWorkFile(const std::string& path, std::string& error) {
    if (std::remove(path.c_str()) != 0) {
        error = "Cannot remove the working file " + path + ": " + Reason(errno) +
                ". Remove it by hand, check the folder's permissions, then try again.";
        return false;
    }
    return true;
}

bool WriteZeros(std::FILE* out, std::uint64_t count) {
    static constexpr std::uint8_t kZeros[kCopyChunk] = {};
    while (count > 0) {
        const std::size_t n = count < kCopyChunk ? static_cast<std::size_t>(count) : kCopyChunk;
        if (std::fwrite(kZeros, 1, n, out) != n) {
            return false;
        }
        count -= n;
    }
    return true;
}

// Copies `in` to `out` until a read yields nothing. Counts the bytes copied.
enum class CopyError { None, Read, Write };
CopyError CopyRest(std::FILE* in, std::FILE* out, std::uint64_t& copied) {
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCopyChunk]);
    copied = 0;
    for (;;) {
        const std::size_t n = std::fread(buffer.get(), 1, kCopyChunk, in);
        if (n > 0 && std::fwrite(buffer.get(), 1, n, out) != n) {
            return CopyError::Write;
        }
        copied += n;
        if (n < kCopyChunk) {
            return std::ferror(in) != 0 ? CopyError::Read : CopyError::None;
        }
    }
}

// Closes a file that was written; false (with errno) when its data did not
// all reach the disk.
bool CloseWritten(FilePtr& file) {
    std::FILE* raw = file.release();
    const bool flushed = std::fflush(raw) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(raw) == 0;
    if (!flushed) {
        errno = flushErrno;
    }
    return flushed && closed;
}

// After a copy from `source` into `target` (`copyErrno`: errno as the copy
// left it): closes both and says which side failed, by its name in the message.
bool EndCopy(CopyError copy, int copyErrno, FilePtr& source, FilePtr& target,
             const std::string& sourceName, const std::string& targetName, std::string& error) {
    source.reset();
    const bool closed = CloseWritten(target);
    if (copy == CopyError::Read) {
        error =
            "Cannot read " + sourceName + ": " + Reason(copyErrno) + ". Try the conversion again.";
        return false;
    }
    if (copy == CopyError::Write || !closed) {
        error = "Cannot write " + targetName + ": " +
                Reason(copy == CopyError::Write ? copyErrno : errno) +
                ". Free some space or choose another folder, then try again.";
        return false;
    }
    return true;
}

// Step 1: tmp.bin = nOffset zero bytes, then the image; db1.bin is removed
// so that only the packer's output can stand under that name afterwards.
bool MakePackerInput(const JobSettings& settings, std::string& error) {
    const std::string tmpPath = WorkFilePath(settings, kPackerInputName);
    const std::string imagePath = WorkFilePath(settings, kImageFileName);
    {
        FilePtr tmp = OpenWorkFile(tmpPath, "w+b", true, error);
        if (!tmp) {
            return false;
        }
        FilePtr image = OpenWorkFile(imagePath, "r+b", false, error);
        if (!image) {
            return false;
        }
        std::uint64_t copied = 0;
        CopyError copy = CopyError::None;
        if (!WriteZeros(tmp.get(), settings.nOffset)) {
            copy = CopyError::Write;
        } else {
            copy = CopyRest(image.get(), tmp.get(), copied);
        }
        const int copyErrno = errno;
        if (!EndCopy(copy, copyErrno, image, tmp, "the database image " + imagePath,
                     "the working file " + tmpPath, error)) {
            return false;
        }
    }
    return RemoveWorkFile(imagePath, error);
}

// Step 2: the packer reads tmp.bin and writes a new db1.bin. A start failure
// is shown in its own box and the step goes on, so that tmp.bin is removed.
enum class PackerRun { Ended, NotStarted, Stopped };
PackerRun RunPacker(const JobSettings& settings, IMessageBox& messages, std::stop_token stop,
                    std::string& startError) {
    const ProcessRun run = RunHiddenProcess(kPackerCommandLine, settings.strWorkDir, stop);
    if (run.status == ProcessRun::Status::Stopped) {
        return PackerRun::Stopped;
    }
    if (run.status == ProcessRun::Status::Ended) {
        return PackerRun::Ended;
    }
    startError = run.error;
    messages.Show(kPackerStartFailMessage, MessageCaption::Prompt);
    return PackerRun::NotStarted;
}

// Reads and drops the first `count` bytes of `in`; returns how many there were.
std::uint64_t SkipBytes(std::FILE* in, std::uint64_t count) {
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCopyChunk]);
    std::uint64_t skipped = 0;
    while (skipped < count) {
        const std::uint64_t left = count - skipped;
        const std::size_t want = left < kCopyChunk ? static_cast<std::size_t>(left) : kCopyChunk;
        const std::size_t n = std::fread(buffer.get(), 1, want, in);
        skipped += n;
        if (n < want) {
            break;
        }
    }
    return skipped;
}

std::string PackerOutputMissing(bool started, const std::string& startError,
                                const std::string& imagePath, const std::string& reason) {
    if (!started) {
        return "No packed database image was made: the packer xb2.exe could not be started (" +
               startError +
               "). Put xb2.exe beside this program or in a folder on PATH, then try again.";
    }
    return "The packer xb2.exe ended without writing " + imagePath + " (" + reason +
           "), so there is no packed image to send. Check the packer, then try again.";
}

// Step 3: db.bin = the packer's db1.bin from byte nOffset on; db1.bin is removed.
bool ExtractPackedImage(const JobSettings& settings, bool started, const std::string& startError,
                        std::string& error) {
    const std::string imagePath = WorkFilePath(settings, kImageFileName);
    const std::string packedPath = WorkFilePath(settings, kPackedImageName);
    FilePtr packed = OpenWorkFile(packedPath, "w+b", true, error);
    if (!packed) {
        return false;
    }
    FilePtr output(std::fopen(imagePath.c_str(), "r+b"), &std::fclose);
    if (!output) {
        error = PackerOutputMissing(started, startError, imagePath, Reason(errno));
        return false;
    }
    const std::uint64_t skipped = SkipBytes(output.get(), settings.nOffset);
    std::uint64_t copied = 0;
    const CopyError copy = std::ferror(output.get()) != 0
                               ? CopyError::Read
                               : CopyRest(output.get(), packed.get(), copied);
    const int copyErrno = errno;
    if (!EndCopy(copy, copyErrno, output, packed, "the packer's output " + imagePath,
                 "the packed image " + packedPath, error)) {
        return false;
    }
    if (!RemoveWorkFile(imagePath, error)) {
        return false;
    }
    if (copied == 0) {
        // Sending this would "upgrade" the receiver with an empty database.
        error = "The packer xb2.exe wrote only " + std::to_string(skipped) +
                " bytes, no more than the " + std::to_string(settings.nOffset) +
                "-byte flash prefix, so the packed image " + packedPath +
                " is empty and was not sent. Check the packer and the Offset, then try again.";
        return false;
    }
    return true;
}

ChainResult PackImage(JobSettings& settings, IMessageBox& messages, std::stop_token stop) {
    std::string error;
    if (!MakePackerInput(settings, error)) {
        return Fail(settings, error);
    }
    std::string startError;
    const PackerRun run = RunPacker(settings, messages, std::move(stop), startError);
    const std::string tmpPath = WorkFilePath(settings, kPackerInputName);
    if (run == PackerRun::Stopped) {
        std::remove(tmpPath.c_str());
        return Fail(settings, std::string());
    }
    if (!RemoveWorkFile(tmpPath, error)) {
        return Fail(settings, error);
    }
    if (!ExtractPackedImage(settings, run == PackerRun::Ended, startError, error)) {
        return Fail(settings, error);
    }
    SetImageName(settings, kPackedImageName);
    return {};
}

}  // namespace

ChainResult FinishConversion(const JobSettings& settings, IProgressBar& analyse) {
    analyse.SetPos(100);
    ChainResult result;
    if (settings.nUpgradeType == UpgradeType::Code) {
        result.status = ChainStatus::Refused;
        result.message = kCodeRefusalMessage;
    }
    return result;
}

ChainResult PostProcessImage(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                             std::stop_token stop) {
    std::memset(settings.szImageName, 0, sizeof settings.szImageName);
    if (settings.bPackedModel == 0) {
        SetImageName(settings, kImageFileName);
    } else {
        ChainResult packed = PackImage(settings, messages, std::move(stop));
        if (packed.status != ChainStatus::Continue) {
            return packed;
        }
    }
    ChainResult result = FinishConversion(settings, analyse);
    result.imagePath = WorkFilePath(settings, settings.szImageName);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(result.imagePath, ec);
    result.imageSize = ec ? 0 : static_cast<std::uint64_t>(size);
    return result;
}

}  // namespace velmora
