// The channel-list conversion as the upgrade worker runs it: read the list
// (SATCODX, Enigma2 or VDR), group it into the channel database, write the
// receiver's image and post-process it (packer for the packed model).
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "sdx/SdxReader.h"

namespace velmora {

enum class ChainStatus {
    Continue,  // go on with the transfer; bConverted/szImageName name the file to send
    Refused,   // a channel list with upgrade type Code, an image that cannot be made
               // (ConversionProblem), or a list of which nothing can be converted (its
               // choice does not fit it, or no service is left): the caller closes the
               // port, sets the analyse bar to 0 and shows `message`
    Failed,    // the conversion could not finish: the caller closes the port and shows `message`
};

// Why a conversion cannot be made or could not finish, where a front end
// may want to say more (for example name its option for the working folder).
enum class ConversionProblem {
    None,
    ListIsFolder,        // the channel list is a folder
    ImageTooLarge,       // the image would be longer than a transfer can announce (4 GiB)
    WorkFolderMissing,   // the working folder does not exist
    WorkFolderReadOnly,  // nothing can be created in the working folder
    NoSpace,             // the working folder has not enough free space for the image
    CannotWrite,         // a working file could not be created or written
};

struct ConversionCheck {
    ConversionProblem problem = ConversionProblem::None;
    std::string message;  // plain words: what is wrong and what to do
};

struct ChainResult {
    ChainStatus status = ChainStatus::Continue;
    std::string message;
    // The image the conversion produced (also when a Code upgrade is then
    // refused): its path in the working folder and its size in bytes. Empty
    // and 0 when no image was produced.
    std::string imagePath;
    std::uint64_t imageSize = 0;
    // Why the channel list could not be opened. The chain then produces no
    // image and goes on without one (bConverted clear), so that the chosen
    // file itself is sent for a database upgrade.
    std::string listError;
    ConversionProblem problem = ConversionProblem::None;
    // What the image holds and what was left out; valid when hasReport.
    bool hasReport = false;
    ConversionReport report;
};

// Test hooks; a front end passes none.
struct ChainOptions {
    const SdxReadFaults* readFaults = nullptr;
};

// Converts settings.strFilePath in the working directory settings.strWorkDir
// (empty: the current directory). Reports on the analyse bar (10, 20, 20+70*i/n,
// 80, 85, 90, 100) and shows the packer's start failure itself. A stop request
// ends the wait for the external packer (the tool is then terminated) and the
// chain returns Failed with an empty message.
//
// Conversions share the process-wide channel database, so a second call waits
// until the first has finished (or its own stop token is triggered).
//
// Without a port (a command-line "convert"), call it with upgrade type
// Database: on Continue with bConverted set, the image is result.imagePath
// (settings.szImageName in the working folder), result.imageSize bytes long.
ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop);

ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop, const ChainOptions& options);

// The longest image a transfer can announce: its length field has 32 bits.
inline constexpr std::uint64_t kLargestImage = 0xFFFFFFFFULL;

// What can be checked before anything is read or written: the list is not a
// folder, the image's length fits the transfer, the working folder exists and
// has room for the image (and, for the packed model, the packer's input).
ConversionCheck CheckConversion(const JobSettings& settings);

// The room part alone, with `freeBytes` free in the working folder.
ConversionCheck CheckConversionRoom(const JobSettings& settings, std::uint64_t freeBytes);

// The working folder as a path to show: settings.strWorkDir, or the current
// directory when that is empty.
std::string WorkFolderText(const JobSettings& settings);

// The converted image's path: szImageName inside the working folder; empty
// when bConverted is clear or no name is set.
std::string ConvertedImagePath(const JobSettings& settings);

}  // namespace velmora
