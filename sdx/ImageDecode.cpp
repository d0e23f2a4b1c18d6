#include "sdx/ImageDecode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "base/TextFormat.h"

namespace velmora {

namespace {

bool AllZero(const std::uint8_t* p, std::int64_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

std::string Bytes(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

DecodedChannel DecodeChannel(const std::uint8_t* r, std::int64_t index) {
    using At = ChannelRecordAt;
    DecodedChannel ch;
    ch.index = index;
    ch.name = Bytes(r + At::kName, kChannelNameLength);
    ch.tpNumber = GetLe16(r + At::kTpNumber);
    ch.serviceId = GetLe16(r + At::kServiceId);
    ch.transportStreamId = GetLe16(r + At::kTransportStreamId);
    ch.networkId = GetLe16(r + At::kNetworkId);
    ch.videoPid = GetLe16(r + At::kVideoPid);
    ch.audioPid = GetLe16(r + At::kAudioPid);
    ch.pcrPid = GetLe16(r + At::kPcrPid);
    ch.scrambled = r[At::kScrambled] != 0;
    ch.caSystemId = GetLe16(r + At::kCaSystemId);
    return ch;
}

bool HasDatabaseHeader(std::span<const std::uint8_t> image) {
    return image.size() >= sizeof kImageHeader &&
           std::equal(std::begin(kImageHeader), std::end(kImageHeader), image.begin());
}

// The network name every transponder record carries: "NET" and zero bytes.
bool IsNetworkName(const std::uint8_t* r) {
    return r[0] == 'N' && r[1] == 'E' && r[2] == 'T' && AllZero(r + 3, kNetworkNameLength - 3);
}

// The constant tail of a transponder record of the form `terrestrial` gives.
bool HasTransponderTail(const std::uint8_t* r, bool terrestrial) {
    const std::uint8_t* t = r + TransponderFieldsOf(terrestrial).tail;
    return std::equal(std::begin(kTransponderTail), std::end(kTransponderTail), t);
}

bool IsChannelRecord(const std::uint8_t* r) {
    return r[ChannelRecordAt::kMarker] == kChannelMarker &&
           GetLe16(r + ChannelRecordAt::kNullPid) == kNullPid;
}

// Where the records of the channel sections from `tvOffset` on tell where the
// radio section begins: TV channels, empty records, then radio channels.
void GuessChannelSections(std::span<const std::uint8_t> image, std::int64_t tvOffset,
                          std::optional<std::int32_t> givenTv, ImageLimitGuess& guess) {
    const auto size = static_cast<std::int64_t>(image.size());
    std::int64_t firstEmpty = -1;
    std::int64_t radioStart = -1;
    std::int64_t lastChannel = -1;
    for (std::int64_t i = 0; tvOffset + (i + 1) * kChannelRecordSize <= size; ++i) {
        const std::uint8_t* r = image.data() + tvOffset + i * kChannelRecordSize;
        if (IsChannelRecord(r)) {
            lastChannel = i;
            if (firstEmpty >= 0 && radioStart < 0) {
                radioStart = i;
            }
        } else if (AllZero(r, kChannelRecordSize)) {
            if (firstEmpty < 0) {
                firstEmpty = i;
            }
        } else if (radioStart >= 0 || firstEmpty >= 0) {
            break;  // the zero fill holds something else: no more records
        }
    }
    if (radioStart >= 0) {
        guess.maxTv = static_cast<std::int32_t>(radioStart);
    } else if (givenTv) {
        radioStart = *givenTv;
    }
    if (radioStart >= 0 && lastChannel >= radioStart) {
        guess.radioAtLeast = static_cast<std::int32_t>(lastChannel + 1 - radioStart);
    }
}

}  // namespace

ImageLimitGuess GuessImageLimits(std::span<const std::uint8_t> image, const ImageLimits& given) {
    ImageLimitGuess guess;
    if (!HasDatabaseHeader(image)) {
        return guess;
    }
    const auto size = static_cast<std::int64_t>(image.size());
    const std::uint8_t* base = image.data();
    std::int64_t tpOffset = -1;
    for (std::int64_t o = kImageHeaderSize;
         o + static_cast<std::int64_t>(kNetworkNameLength) <= size; o += kSatelliteRecordSize) {
        if (IsNetworkName(base + o)) {
            tpOffset = o;
            break;
        }
    }
    if (tpOffset < 0 || tpOffset + kTerrestrialTransponderRecordSize > size) {
        return guess;
    }
    guess.maxSat = static_cast<std::int32_t>((tpOffset - kImageHeaderSize) / kSatelliteRecordSize);
    std::int64_t tpSize = 0;
    if (HasTransponderTail(base + tpOffset, false)) {
        tpSize = kTransponderRecordSize;
    } else if (HasTransponderTail(base + tpOffset, true)) {
        tpSize = kTerrestrialTransponderRecordSize;
    } else {
        return guess;
    }
    guess.terrestrial = tpSize == kTerrestrialTransponderRecordSize;
    for (std::int64_t o = tpOffset; o + kChannelRecordSize <= size; o += tpSize) {
        if (IsChannelRecord(base + o)) {
            guess.maxTp = static_cast<std::int32_t>((o - tpOffset) / tpSize);
            const bool sameStart = o == LayoutOf(given).tvOffset;
            GuessChannelSections(
                image, o, sameStart ? std::optional<std::int32_t>(given.nMaxTv) : std::nullopt,
                guess);
            break;
        }
    }
    return guess;
}

bool LooksLikeDatabaseImage(std::span<const std::uint8_t> image, std::uint64_t fileSize,
                            const ImageLimits& given) {
    if (!HasDatabaseHeader(image)) {
        return false;
    }
    const auto written = static_cast<std::uint64_t>(LayoutOf(given).totalLength);
    return fileSize == written || !GuessImageLimits(image, given).Empty();
}

namespace {

// Why `image` cannot be decoded with layout `l`; empty when it can.
std::string ImageShapeProblem(std::span<const std::uint8_t> image, const ImageLimits& limits,
                              const ImageLayout& l) {
    if (!HasDatabaseHeader(image)) {
        return "The file does not begin with a channel database header (00 00 00 00 01 00 00 "
               "00); it is not a database image, or it is a packed one.";
    }
    const auto size = static_cast<std::int64_t>(image.size());
    if (size < l.fillOffset) {
        return "The image is " + std::to_string(size) + " bytes long, but with " +
               std::to_string(l.nSatellites) + " satellites, " + std::to_string(l.nTransponders) +
               " transponders, " + std::to_string(l.nTv) + " TV and " + std::to_string(l.nRadio) +
               " " +
               Plural(static_cast<std::uint64_t>(l.nRadio), "radio channel", "radio channels") +
               (limits.bTerrestrial ? " (DVB-S+T)" : "") + " its sections need " +
               std::to_string(l.fillOffset) +
               " bytes. Give the limits and project it was written with.";
    }
    return {};
}

void DecodeSatellites(const std::uint8_t* base, const ImageLayout& l, DecodedImage& out) {
    using At = SatelliteRecordAt;
    for (std::int64_t i = 0; i < l.nSatellites; ++i) {
        const std::uint8_t* r = base + l.satelliteOffset + i * kSatelliteRecordSize;
        if (AllZero(r, kSatelliteRecordSize)) {
            continue;
        }
        DecodedSatellite sat;
        sat.index = i;
        sat.bandByte = r[At::kBand];
        sat.west = (r[At::kWest] & kWestFlag) != 0;
        sat.lnbHigh = GetLe16(r + At::kLnbHigh);
        sat.lnbLow = GetLe16(r + At::kLnbLow);
        sat.name = Bytes(r + At::kName, kSatelliteNameLength);
        sat.position = static_cast<std::int32_t>(GetLe32(r + At::kPosition));
        out.satellites.push_back(std::move(sat));
    }
}

void DecodeTransponders(const std::uint8_t* base, const ImageLayout& l, bool terrestrial,
                        DecodedImage& out) {
    const TransponderRecordAt at = TransponderFieldsOf(terrestrial);
    for (std::int64_t i = 0; i < l.nTransponders; ++i) {
        const std::uint8_t* r = base + l.transponderOffset + i * l.nTpRecordSize;
        if (AllZero(r, l.nTpRecordSize)) {
            continue;
        }
        DecodedTransponder tp;
        tp.index = i;
        tp.network = Bytes(r + at.networkName, kNetworkNameLength);
        tp.frequency = terrestrial ? GetLe32(r + at.frequency) : GetLe16(r + at.frequency);
        tp.symbolRate = GetLe16(r + at.symbolRate);
        tp.satIndex = GetLe16(r + at.satIndex);
        tp.tpNumber = GetLe16(r + at.tpNumber);
        tp.polarisation = r[at.polarisation];
        out.transponders.push_back(std::move(tp));
    }
}

void DecodeChannels(const std::uint8_t* section, std::int64_t count,
                    std::vector<DecodedChannel>& out) {
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t* r = section + i * kChannelRecordSize;
        if (!AllZero(r, kChannelRecordSize)) {
            out.push_back(DecodeChannel(r, i));
        }
    }
}

}  // namespace

bool DecodeDatabaseImage(std::span<const std::uint8_t> image, const ImageLimits& limits,
                         DecodedImage& out, std::string& error) {
    out = DecodedImage{};
    out.layout = LayoutOf(limits);
    out.terrestrial = limits.bTerrestrial;
    out.imageSize = image.size();
    const ImageLayout& l = out.layout;
    if (std::string problem = ImageShapeProblem(image, limits, l); !problem.empty()) {
        error = std::move(problem);
        return false;
    }
    const std::uint8_t* base = image.data();
    DecodeSatellites(base, l, out);
    DecodeTransponders(base, l, limits.bTerrestrial, out);
    DecodeChannels(base + l.tvOffset, l.nTv, out.tv);
    DecodeChannels(base + l.radioOffset, l.nRadio, out.radio);
    out.nonZeroFillBytes = static_cast<std::uint64_t>(std::count_if(
        base + l.fillOffset, base + image.size(), [](std::uint8_t b) { return b != 0; }));
    return true;
}

}  // namespace velmora
