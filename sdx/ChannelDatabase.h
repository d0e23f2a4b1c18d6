// The in-memory channel database: satellites, each with its transponders,
// each with its channels, in one process-wide table of fixed capacity
// (200 satellites x 200 transponders x 50 channels). It is filled from the
// parsed SATCODX records and then written out as the receiver's image.
//
// The entries refer to the names inside the SdxRecords (they do not copy
// them), so the record list must stay alive until the image is written.
#pragma once

#include <cstdint>

#include "base/HostInterfaces.h"
#include "sdx/SdxReader.h"

namespace velmora {

inline constexpr int kMaxSatellites = 200;
inline constexpr int kMaxTranspondersPerSatellite = 200;
inline constexpr int kMaxChannelsPerTransponder = 50;
// Frequencies above this many MHz are Ku band.
inline constexpr std::int32_t kKuBandThresholdMhz = 9500;

enum BandCode : std::int32_t {
    KuBand = 0,  // above 9500 MHz
    CBand = 1,   // 9500 MHz or less
};

BandCode BandOfFrequency(std::int32_t frequencyMhz);

struct ChannelEntry {
    std::int32_t nTpNumber;  // running number of the transponder that holds the channel
    const char* pszName;     // the record's szChannelName (25 bytes readable)
    std::int32_t nServiceId;
    std::int32_t nTransportStreamId;
    std::int32_t nNetworkId;
    std::int32_t nVideoPid;
    std::int32_t nAudioPid;
    std::int32_t nReserved2;
    std::int32_t nPcrPid;
    std::int32_t nReserved1;
    char chServiceType;  // 'T', 'R' or whatever the list holds
    std::int32_t nCaSystemId;
};

struct TransponderEntry {
    std::int32_t nSatIndex;      // index of the owning satellite
    const char* pszNetworkName;  // the creating record's szNetworkName (16 bytes readable)
    std::int32_t nFrequency;     // MHz
    std::int32_t nSymbolRate;
    std::int32_t nPolarisation;  // polarisation character minus '0'
    std::int32_t nChannelCount;
    std::int32_t nTpNumber;  // 0-based, unique in the database, in order of creation
    ChannelEntry aChannels[kMaxChannelsPerTransponder];
};

struct SatelliteEntry {
    const char* pszName;            // the creating record's szSatName (18 bytes, first 16 used)
    std::int32_t nOrbitalPosition;  // tenths of a degree, as in the list
    std::int32_t nBand;             // a BandCode
    std::int32_t nTpCount;
    TransponderEntry aTransponders[kMaxTranspondersPerSatellite];
};

struct ChannelDatabase {
    SatelliteEntry aSatellites[kMaxSatellites];
    std::int32_t nSatCount;
    std::int32_t nNextTpNumber;  // number for the next new transponder
};

// The process-wide table: zero at program start, rebuilt by each conversion.
// Only one conversion may use it at a time; RunConversionChain serialises
// its callers, and anyone calling the builder or writer directly must not do
// so while a conversion runs.
ChannelDatabase& GlobalChannelDatabase();

// True when the first 16 bytes of `satName` equal the first 16 bytes of the
// satellite's name and the frequency's band equals the satellite's band.
bool IsSameSatellite(const char* satName, std::int32_t frequencyMhz,
                     const SatelliteEntry& satellite);

// Records the builder left out, by the limit that stopped them.
struct BuildTally {
    std::int64_t satelliteLimit = 0;  // from the first record that needed a satellite too many
    std::int64_t transpondersPerSatellite = 0;
    std::int64_t channelsPerTransponder = 0;
};

// Groups the first `count` records of the list into `db`:
// satellites keyed by name (16 bytes) and band, transponders by frequency and
// polarisation, channels in file order. Limits are silent: a full transponder
// (50) or satellite (200) drops the record; a record that needs a satellite
// beyond nMaxSat ends the grouping. Clears the first nMaxSat satellite slots
// before it starts (nMaxSat below 0 counts as 0, above 200 as 200). Shows
// 20 + 70*i/count on the analyse bar for record i (only when the position
// changes). The entries refer into the records of the list. When `tally` is
// given, it receives the counts of the records left out.
void BuildChannelDatabase(ChannelDatabase& db, const SdxListNode* pHead, std::int64_t count,
                          std::int32_t nMaxSat, IProgressBar& analyse, BuildTally* tally = nullptr);

// The same on the process-wide table.
void BuildChannelDatabase(const SdxListNode* pHead, std::int64_t count, std::int32_t nMaxSat,
                          IProgressBar& analyse, BuildTally* tally = nullptr);

}  // namespace velmora
