// The boot loader's protocol: the bytes, the header, the word sum and the
// timing of a transfer.
//
//   receiver: AB AC            (ready signal; AC within 20 ms of AB)
//   tool:     40               (start byte)
//   tool:     12-byte header   offset, length, 16-bit word checksum; bytes >= 101 us apart
//   receiver: 4F ('O')
//   tool:     240-byte block   bytes >= 70 us apart          } until the whole
//   receiver: 4F               acknowledgement of the block  } file is sent
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "base/JobSettings.h"

namespace velmora {

// Bytes of the boot loader's protocol.
inline constexpr std::uint8_t kReadyFirst = 0xAB;
inline constexpr std::uint8_t kReadySecond = 0xAC;
inline constexpr std::uint8_t kStartByte = 0x40;
inline constexpr std::uint8_t kAck = 0x4F;  // 'O'

// Program images always go to this flash offset.
inline constexpr std::uint32_t kCodeFlashOffset = 0x00010000;
inline constexpr std::uint32_t kBlockSize = 240;
inline constexpr std::uint32_t kChecksumChunk = 2U * 1024U * 1024U;
// A byte is handed over only once more than this many microseconds have passed.
inline constexpr std::int64_t kHeaderGapMicros = 100;
inline constexpr std::int64_t kDataGapMicros = 69;
// The second byte of the ready signal must be queued this long after the first.
inline constexpr std::chrono::milliseconds kReadySettle{20};

// The 12 bytes that announce the data, each field least significant byte first.
struct UpgradeHeader {
    std::uint32_t dwOffset = 0;
    std::uint32_t dwLength = 0;
    std::uint32_t dwChecksum = 0;
    std::array<std::uint8_t, 12> Bytes() const;
};

// Where the receiver writes the data: a program image (Code) always at
// kCodeFlashOffset, anything else at the Offset field.
inline std::uint32_t FlashOffsetOf(const JobSettings& settings) {
    return settings.nUpgradeType == UpgradeType::Code ? kCodeFlashOffset : settings.nOffset;
}

// Sum of the little-endian 16-bit words of the data, wrapping at 2^32. An odd
// last byte has no partner and is left out.
std::uint32_t WordSum16(const std::uint8_t* data, std::uint32_t count);

}  // namespace velmora
