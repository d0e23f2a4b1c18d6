// The last step of a conversion: choose the image to send and, for the
// packed receiver model, pass it through the external packer.
//
// The packer is an outside program, "xb2.exe". It gets the image behind
// nOffset zero bytes (the flash up to the database's place) in "tmp.bin" and
// writes its result to "db1.bin"; that result from byte nOffset on is the
// packed image "db.bin". All three working files live in the job's working
// folder (settings.strWorkDir, empty: the current directory).
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobSettings.h"
#include "sdx/ConversionChain.h"

namespace velmora {

inline constexpr const char* kPackerCommandLine = "xb2.exe 0x70 tmp.bin db1.bin ";
inline constexpr const char* kPackerInputName = "tmp.bin";
inline constexpr const char* kPackedImageName = "db.bin";
inline constexpr const char* kPackerStartFailMessage = "Open Xb2.exe fail!";
inline constexpr const char* kCodeRefusalMessage = "\n Please select to upgrade Database!!\n";

// After "db1.bin" has been written: names the image to send in szImageName
// ("db1.bin", or "db.bin" after the packer for bPackedModel), shows 100 on
// the analyse bar, and refuses a Code upgrade. Failed with a plain message
// when a working file cannot be created, opened, written or removed, or the
// packer produced no usable image; Failed with an empty message when `stop`
// ended the wait for the packer.
ChainResult PostProcessImage(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                             std::stop_token stop);

// The end of every conversion, also of one whose list could not be opened:
// analyse bar 100, then Refused with kCodeRefusalMessage for a Code upgrade,
// Continue otherwise.
ChainResult FinishConversion(const JobSettings& settings, IProgressBar& analyse);

}  // namespace velmora
