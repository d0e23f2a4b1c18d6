// The receiver's channel database image ("db1.bin"): its section layout for a
// job's limits, the builders of its three records and the writer that puts
// the channel database into it. The bytes of each record are described in
// sdx/ImageFormat.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "sdx/ChannelDatabase.h"
#include "sdx/ImageFormat.h"
#include "sdx/SdxReader.h"

namespace velmora {

// The file the writer produces, in the working directory.
inline constexpr const char* kImageFileName = "db1.bin";

// The settings that shape an image.
struct ImageLimits {
    // The dialog's defaults (DialogValues), as a job takes them.
    ImageLimits();
    explicit ImageLimits(const JobSettings& settings);

    std::int32_t nMaxSat;
    std::int32_t nMaxTp;
    std::int32_t nMaxTv;
    std::int32_t nMaxRadio;
    std::int32_t nDbSize;
    std::int32_t nLnbCHigh;  // local-oscillator frequencies, MHz
    std::int32_t nLnbCLow;
    std::int32_t nLnbKuHigh;
    std::int32_t nLnbKuLow;
    bool bTerrestrial;
};

ImageLimits ImageLimitsOf(const JobSettings& settings);

// Section offsets and lengths in bytes. Negative limits count as 0.
struct ImageLayout {
    std::int64_t nSatellites = 0;
    std::int64_t nTransponders = 0;
    std::int64_t nTv = 0;
    std::int64_t nRadio = 0;
    std::int64_t nTpRecordSize = kTransponderRecordSize;
    std::int64_t satelliteOffset = kImageHeaderSize;
    std::int64_t transponderOffset = 0;
    std::int64_t tvOffset = 0;
    std::int64_t radioOffset = 0;
    std::int64_t fillOffset = 0;   // end of the radio section
    std::int64_t fillLength = 0;   // nDbSize - fillOffset when positive
    std::int64_t totalLength = 0;  // fillOffset + fillLength
};

ImageLayout LayoutOf(const ImageLimits& limits);

// Where the image's bytes go.
class IImageSink {
public:
    virtual ~IImageSink() = default;
    // False when the bytes could not be stored; the writer stops then.
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

class MemoryImageSink final : public IImageSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

// The three record builders.
std::array<std::uint8_t, kSatelliteRecordSize> SatelliteRecordBytes(const SatelliteEntry& sat,
                                                                    const ImageLimits& limits);
// Fills the first R bytes of `out` (R = 30, or 32 when terrestrial).
void TransponderRecordBytes(const TransponderEntry& tp, bool terrestrial,
                            std::uint8_t out[kTerrestrialTransponderRecordSize]);
std::array<std::uint8_t, kChannelRecordSize> ChannelRecordBytes(const ChannelEntry& ch,
                                                                bool withCaSystemId);

// Writes the whole image of `db` into `sink`, showing 80 after the satellite
// section, 85 after the transponder section and 90 after the radio section.
// False as soon as the sink refuses bytes.
bool EmitDatabaseImage(const ChannelDatabase& db, const ImageLimits& limits, IImageSink& sink,
                       IProgressBar& analyse);

// What the image of `db` holds and what its sections leave out: fills
// report.kept, report.dropped's maxTv, maxRadio and serviceType, and the
// transponders without a record. Reads no names, so it may run after the
// record list has been released.
void TallyImage(const ChannelDatabase& db, const ImageLimits& limits, ConversionReport& report);

// Writes "db1.bin" in settings.strWorkDir (empty: the current directory) from
// the process-wide database, then sets bConverted and releases the record
// list (pHead becomes null), whatever the outcome. False, with a plain
// message in `error` naming the file and the reason, when the file cannot be
// created or written completely; bConverted stays clear then.
bool WriteDatabaseImage(IProgressBar& analyse, JobSettings& settings, SdxListNode*& pHead,
                        std::string& error);

// The path of a working file: `name` inside settings.strWorkDir.
std::string WorkFilePath(const JobSettings& settings, const char* name);

}  // namespace velmora
