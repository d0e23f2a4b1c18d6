// The receiver's channel database image, byte by byte: what the writer
// (DatabaseImage.cpp) puts where and the decoder (ImageDecode.cpp) reads back.
//
// Fixed sections, one after the other, every number least significant byte
// first; each section holds its real records first and then all-zero records
// up to its full count, and zero bytes fill the image up to the database size:
//
//   offset 0   header          8 bytes: 00 00 00 00 01 00 00 00
//   8          satellites      nMaxSat   x 28 bytes
//   T          transponders    nMaxTp    x 30 bytes (32 for the DVB-S+T project)
//   V          TV channels     nMaxTv    x 62 bytes
//   A          radio channels  nMaxRadio x 62 bytes
//   E          zero fill       up to nDbSize (none when the sections are longer)
//
// Satellite record (28): band (01 C, 41 Ku), west flag (10 when the position
// is above 180.0 degrees), 0, 0, LNB high (16), LNB low (16), name (16 bytes),
// position (32, tenths of a degree east, or west as 3600 - position).
// Transponder record (30/32): network name (16), frequency (16, or 32 in the
// 32-byte form, where every later field lies 2 bytes further on), symbol
// rate, satellite index, transponder number (16 each), polarisation (8), then
// 00 00 01 01 00.
// Channel record (62): name (25), 01, transponder number, service id, TS id,
// network id, video PID, 0, audio PID, 6 x 00, 1FFF (null PID), 6 x 00,
// PCR PID, scrambled flag (8), 00, CA system id (TV only; 0 in radio records),
// 0 (all 16-bit).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

inline constexpr std::int64_t kImageHeaderSize = 8;
inline constexpr std::uint8_t kImageHeader[kImageHeaderSize] = {0, 0, 0, 0, 1, 0, 0, 0};

inline constexpr std::int64_t kSatelliteRecordSize = 28;
inline constexpr std::int64_t kTransponderRecordSize = 30;
inline constexpr std::int64_t kTerrestrialTransponderRecordSize = 32;
inline constexpr std::int64_t kChannelRecordSize = 62;

inline constexpr std::uint8_t kBandByteC = 0x01;
inline constexpr std::uint8_t kBandByteKu = 0x41;  // 'A'
inline constexpr std::uint8_t kWestFlag = 0x10;
inline constexpr std::int32_t kWestThreshold = 1800;  // tenths of a degree
inline constexpr std::uint16_t kNullPid = 0x1FFF;

// Where the fields of a satellite record lie.
struct SatelliteRecordAt {
    static constexpr std::size_t kBand = 0;
    static constexpr std::size_t kWest = 1;
    static constexpr std::size_t kLnbHigh = 4;    // 16 bits
    static constexpr std::size_t kLnbLow = 6;     // 16 bits
    static constexpr std::size_t kName = 8;       // kSatelliteNameLength bytes
    static constexpr std::size_t kPosition = 24;  // 32 bits
};
inline constexpr std::size_t kSatelliteNameLength = 16;

// Where the fields of a transponder record lie: the 32-byte form holds the
// frequency in 32 bits, which moves every later field 2 bytes on.
struct TransponderRecordAt {
    std::size_t networkName = 0;  // kNetworkNameLength bytes
    std::size_t frequency = 16;
    std::size_t frequencySize = 2;
    std::size_t symbolRate = 18;
    std::size_t satIndex = 20;
    std::size_t tpNumber = 22;
    std::size_t polarisation = 24;  // 8 bits
    std::size_t tail = 25;          // kTransponderTail
};
constexpr TransponderRecordAt TransponderFieldsOf(bool terrestrial) {
    const std::size_t shift = terrestrial ? 2 : 0;
    return {0, 16, 2 + shift, 18 + shift, 20 + shift, 22 + shift, 24 + shift, 25 + shift};
}
inline constexpr std::size_t kNetworkNameLength = 16;
// The five bytes that close every transponder record.
inline constexpr std::uint8_t kTransponderTail[5] = {0, 0, 1, 1, 0};

// Where the fields of a channel record lie; every number is 16 bits.
struct ChannelRecordAt {
    static constexpr std::size_t kName = 0;     // kChannelNameLength bytes
    static constexpr std::size_t kMarker = 25;  // kChannelMarker
    static constexpr std::size_t kTpNumber = 26;
    static constexpr std::size_t kServiceId = 28;
    static constexpr std::size_t kTransportStreamId = 30;
    static constexpr std::size_t kNetworkId = 32;
    static constexpr std::size_t kVideoPid = 34;
    static constexpr std::size_t kAudioPid = 38;
    static constexpr std::size_t kNullPid = 46;  // kNullPid in every record
    static constexpr std::size_t kPcrPid = 54;
    static constexpr std::size_t kScrambled = 56;   // 8 bits: 1 when the CA id is not 0
    static constexpr std::size_t kCaSystemId = 58;  // TV records only
};
inline constexpr std::size_t kChannelNameLength = 25;
inline constexpr std::uint8_t kChannelMarker = 1;

// Numbers in the image, least significant byte first. A value is cut to the
// field's width.
inline void PutLe16(std::uint8_t* out, std::int64_t value) {
    const auto v = static_cast<std::uint64_t>(value);
    out[0] = static_cast<std::uint8_t>(v & 0xFFU);
    out[1] = static_cast<std::uint8_t>((v >> 8) & 0xFFU);
}

inline void PutLe32(std::uint8_t* out, std::int64_t value) {
    const auto v = static_cast<std::uint64_t>(value);
    for (unsigned b = 0; b < 4; ++b) {
        out[b] = static_cast<std::uint8_t>((v >> (8 * b)) & 0xFFU);
    }
}

inline std::uint16_t GetLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t GetLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace velmora
