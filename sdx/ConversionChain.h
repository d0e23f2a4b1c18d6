// The channel-list conversion as the upgrade worker runs it: read the SATCODX
// list, group it into the channel database, write the receiver's image and
// post-process it (packer for the packed model).
#pragma once

#include <stop_token>
#include <string>

#include "transfer/JobHost.h"
#include "transfer/JobSettings.h"

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
};

// Converts settings.strFilePath in the working directory settings.strWorkDir
// (empty: the current directory). Reports on the analyse bar (10, 20, 20+70*i/n,
// 80, 85, 90, 100) and shows the packer's start failure itself. A stop request
// ends the wait for the external packer (the tool is then terminated) and the
// chain returns Failed with an empty message.
ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse,
                               IMessageBox& messages, std::stop_token stop);

}  // namespace velmora
