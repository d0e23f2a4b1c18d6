// The channel-list conversion as the upgrade worker runs it: read the SATCODX
// list, group it into the channel database, write the receiver's image and
// post-process it (packer for the packed model).
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "sdx/SdxReader.h"
#include "job/JobHost.h"
#include "job/JobSettings.h"

namespace velmora {

enum class ChainStatus {
    Continue,  // go on with the transfer; bConverted/szImageName name the file to send
    Refused,   // a channel list with upgrade type Code: the caller closes the port,
               // sets the analyse bar to 0 and shows `message`
    Failed,    // the conversion could not finish: the caller closes the port and shows `message`
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

// The converted image's path: szImageName inside the working folder; empty
// when bConverted is clear or no name is set.
std::string ConvertedImagePath(const JobSettings& settings);

}  // namespace velmora
