// Reading a channel database image back: the records of each section decoded
// into plain values (shown by sdx/ImageText.h).
// The layout of the image is described in sdx/DatabaseImage.h; the limits
// (and the project's transponder record size) must be those it was written with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/CodePage.h"  // DisplayName: the stored names are code page 1252
#include "sdx/DatabaseImage.h"

namespace velmora {

struct DecodedSatellite {
    std::int64_t index = 0;     // position of the record in its section
    std::uint8_t bandByte = 0;  // 01 C band, 41 Ku band
    bool west = false;          // west flag 10 set
    std::uint16_t lnbHigh = 0;  // MHz
    std::uint16_t lnbLow = 0;   // MHz
    std::string name;           // the 16 name bytes as stored (CP1252)
    std::int32_t position = 0;  // tenths of a degree, east or west by the flag
};

struct DecodedTransponder {
    std::int64_t index = 0;
    std::string network;          // the 16 network-name bytes as stored
    std::uint32_t frequency = 0;  // MHz (16 bits in the 30-byte form)
    std::uint16_t symbolRate = 0;
    std::uint16_t satIndex = 0;
    std::uint16_t tpNumber = 0;
    std::uint8_t polarisation = 0;
};

struct DecodedChannel {
    std::int64_t index = 0;
    std::string name;  // the 25 name bytes as stored
    std::uint16_t tpNumber = 0;
    std::uint16_t serviceId = 0;
    std::uint16_t transportStreamId = 0;
    std::uint16_t networkId = 0;
    std::uint16_t videoPid = 0;
    std::uint16_t audioPid = 0;
    std::uint16_t pcrPid = 0;
    bool scrambled = false;
    std::uint16_t caSystemId = 0;  // always 0 in radio records
};

struct DecodedImage {
    ImageLayout layout;
    bool terrestrial = false;
    std::uint64_t imageSize = 0;
    // Records that are not all zero, in section order; zero records are free slots.
    std::vector<DecodedSatellite> satellites;
    std::vector<DecodedTransponder> transponders;
    std::vector<DecodedChannel> tv;
    std::vector<DecodedChannel> radio;
    // Bytes after the radio section that are not zero (a sound image has none).
    std::uint64_t nonZeroFillBytes = 0;
};

// Decodes `image` as laid out for `limits` (nMaxSat, nMaxTp, nMaxTv,
// nMaxRadio and bTerrestrial are used). False, with a plain message in
// `error`, when the header is not 00 00 00 00 01 00 00 00 (tested first), or
// the image is shorter than its sections.
bool DecodeDatabaseImage(std::span<const std::uint8_t> image, const ImageLimits& limits,
                         DecodedImage& out, std::string& error);

// The limits an image was written with, as far as its records tell: the
// transponder section begins with the first "NET" record on a satellite
// record boundary, the record length shows the project, the TV section begins
// with the first channel record after the transponders, and a run of empty
// records followed by channels marks where the radio section begins. Empty
// where the image does not tell (no transponders, no channels, a full TV
// section); nothing at all when the header is not a database header.
struct ImageLimitGuess {
    std::optional<std::int32_t> maxSat;
    std::optional<bool> terrestrial;
    std::optional<std::int32_t> maxTp;
    std::optional<std::int32_t> maxTv;
    // Radio records found; the section holds at least that many.
    std::optional<std::int32_t> radioAtLeast;
    bool Empty() const { return !maxSat && !terrestrial && !maxTp && !maxTv && !radioAtLeast; }
};

// `given` fills in what the image cannot tell: where the guessed TV section
// begins where the given one does, a full TV section is taken to be as long
// as given.
ImageLimitGuess GuessImageLimits(std::span<const std::uint8_t> image, const ImageLimits& given);

// True when `image` (the whole file, or its beginning when the file is
// longer) is a channel database image: the database header, and records
// where the sections of an image would hold them, or the length of an image
// written with `given`. `fileSize` is the length of the whole file.
bool LooksLikeDatabaseImage(std::span<const std::uint8_t> image, std::uint64_t fileSize,
                            const ImageLimits& given);

}  // namespace velmora
