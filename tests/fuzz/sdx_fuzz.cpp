// Fuzzes a channel list through the whole conversion in memory: reader,
// database builder, image writer, then the image decoder and its renderings,
// checking on the way that the limits and the image layout hold.
//
// Input: 8 bytes that choose the limits, then the list itself.
//
// Build and run (about a minute, under ASan and UBSan):
//   cmake --preset fuzz && cmake --build build/fuzz -j2 --target sdx_fuzz
//   mkdir -p build/fuzz/corpus
//   build/fuzz/tests/fuzz/sdx_fuzz -max_total_time=60 -max_len=4096 \
//       build/fuzz/corpus tests/fuzz/corpus
// New inputs go to build/fuzz/corpus; tests/fuzz/corpus holds the seeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "sdx/ChannelDatabase.h"
#include "sdx/DatabaseImage.h"
#include "sdx/ImageDecode.h"
#include "sdx/ImageText.h"
#include "sdx/SdxReader.h"

namespace {

using namespace velmora;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Expected {
    std::int64_t transponders = 0;
    std::int64_t tv = 0;
    std::int64_t radio = 0;
};

// Checks the database's invariants and counts what the image must hold.
Expected CheckDatabase(const ChannelDatabase& db, std::int32_t maxSat) {
    Expected e;
    const int limit = maxSat < 0 ? 0 : (maxSat > kMaxSatellites ? kMaxSatellites : maxSat);
    Check(db.nSatCount >= 0 && db.nSatCount <= limit);
    std::int64_t tpNumbers = 0;
    for (int s = 0; s < db.nSatCount; ++s) {
        const SatelliteEntry& sat = db.aSatellites[s];
        Check(sat.nTpCount >= 1 && sat.nTpCount <= kMaxTranspondersPerSatellite);
        for (int t = 0; t < sat.nTpCount; ++t) {
            const TransponderEntry& tp = sat.aTransponders[t];
            Check(tp.nSatIndex == s);
            Check(tp.nTpNumber >= 0 && tp.nTpNumber < db.nNextTpNumber);
            Check(tp.nChannelCount >= 1 && tp.nChannelCount <= kMaxChannelsPerTransponder);
            ++tpNumbers;
            if (tp.nFrequency != 0 && tp.nSymbolRate != 0) {
                ++e.transponders;
            }
            for (int c = 0; c < tp.nChannelCount; ++c) {
                const ChannelEntry& ch = tp.aChannels[c];
                Check(ch.nTpNumber == tp.nTpNumber);
                e.tv += ch.chServiceType == 'T' ? 1 : 0;
                e.radio += ch.chServiceType == 'R' ? 1 : 0;
            }
        }
    }
    Check(tpNumbers == db.nNextTpNumber);
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    ImageLimits limits;
    limits.nMaxSat = static_cast<std::int32_t>(data[0] % 203) - 2;  // -2 .. 200
    limits.nMaxTp = static_cast<std::int32_t>(data[1]) * 4 - 8;
    limits.nMaxTv = static_cast<std::int32_t>(data[2]) * 4 - 8;
    limits.nMaxRadio = static_cast<std::int32_t>(data[3] % 64) - 4;
    limits.nDbSize = (static_cast<std::int32_t>(data[4]) | data[5] << 8) * 2 - 4096;
    limits.bTerrestrial = (data[6] & 1) != 0;
    limits.nLnbKuHigh = 10600 + data[7];
    const std::span<const std::uint8_t> list(data + 8, size - 8);

    NullProgressBar bar;
    SdxReadResult read = ReadSdxBuffer(list, bar);
    Check(read.status == SdxReadStatus::Ok);
    std::int64_t listed = 0;
    for (const SdxListNode* n = read.pHead; n != nullptr && n->pRecord != nullptr; n = n->pNext) {
        Check(n->pRecord->nSymbolRate != 0);
        ++listed;
    }
    Check(listed == read.nCount && read.nCount <= static_cast<std::int64_t>(list.size() / 127));

    BuildChannelDatabase(read.pHead, read.nCount, limits.nMaxSat, bar);
    const Expected e = CheckDatabase(GlobalChannelDatabase(), limits.nMaxSat);

    MemoryImageSink sink;
    Check(EmitDatabaseImage(GlobalChannelDatabase(), limits, sink, bar));
    ReleaseSdxList(read.pHead);

    const ImageLayout layout = LayoutOf(limits);
    Check(static_cast<std::int64_t>(sink.bytes.size()) == layout.totalLength);
    DecodedImage image;
    std::string error;
    Check(DecodeDatabaseImage(sink.bytes, limits, image, error));
    auto capped = [](std::int64_t n, std::int64_t cap) { return n < cap ? n : cap; };
    Check(static_cast<std::int64_t>(image.satellites.size()) == GlobalChannelDatabase().nSatCount);
    Check(static_cast<std::int64_t>(image.transponders.size()) ==
          capped(e.transponders, layout.nTransponders));
    Check(static_cast<std::int64_t>(image.tv.size()) == capped(e.tv, layout.nTv));
    Check(static_cast<std::int64_t>(image.radio.size()) == capped(e.radio, layout.nRadio));
    Check(image.nonZeroFillBytes == 0);
    Check(!FormatImageTables(image).empty());
    Check(!FormatImageJson(image).empty());
    (void)SdxFormatWarning("fuzz.sdx", list.first(list.size() < 10 ? list.size() : 10),
                           list.size());
    return 0;
}
