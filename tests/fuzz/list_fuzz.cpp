// Fuzzes the readers of Enigma2 and VDR channel lists, bouquets and
// satellites.xml, and the conversion of what they give, checking that every
// service is counted once and that every record is one a SATCODX list could
// hold.
//
// Input: one byte that chooses the format and the choice, then the text,
// which also serves as the bouquet and the satellites.xml.
//
// Build and run (under ASan and UBSan):
//   cmake --preset fuzz && cmake --build build/fuzz -j2 --target list_fuzz
//   mkdir -p build/fuzz/list-corpus
//   build/fuzz/tests/fuzz/list_fuzz -max_total_time=60 -max_len=4096 \
//       build/fuzz/list-corpus tests/fuzz/list-corpus
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdx/ChannelDatabase.h"
#include "sdx/ChannelList.h"
#include "sdx/DatabaseImage.h"
#include "sdx/Enigma2List.h"

namespace {

using namespace velmora;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckRecords(const ChannelListRead& read) {
    std::int64_t count = 0;
    for (const SdxListNode* n = read.records.pHead; n != nullptr && n->pRecord; n = n->pNext) {
        const SdxRecord& r = *n->pRecord;
        Check(r.chServiceType == 'T' || r.chServiceType == 'R');
        Check(r.nOrbitalPosition >= 0 && r.nOrbitalPosition < 3600);
        Check(r.nSymbolRate > 0 && r.nFrequency >= 0);
        Check(r.chPolarisation == '0' || r.chPolarisation == '1');
        for (const std::int32_t pid : {r.nVideoPid, r.nAudioPid, r.nPcrPid}) {
            Check(pid >= 0 && pid <= 8191);
        }
        for (const std::int32_t id : {r.nServiceId, r.nNetworkId, r.nTransportStreamId}) {
            Check(id >= 0 && id <= 0xFFFF);
        }
        Check(r.szChannelName[20] == 0 && r.szChannelName[24] == 0);
        ++count;
    }
    Check(count == read.records.nCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t how = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const ListKind kind = (how & 3) == 3 ? ListKind{ListFormat::Vdr, 0}
                                         : ListKind{ListFormat::Enigma2, 3 + (how & 3)};
    ListChoice choice;
    choice.freeOnly = (how & 4) != 0;
    if ((how & 8) != 0) {
        choice.positions = {192, 3300};
    }
    ListSources sources;
    sources.satelliteNames = ReadSatelliteNames(text);
    if ((how & 16) != 0) {
        sources.bouquets.push_back(ReadBouquetServices(text));
    }
    (void)ListKindOfContent(text, (how & 32) != 0 ? "channels.conf" : "lamedb");

    ChannelListRead read = ReadServiceList(text, kind, choice, sources, "fuzz");
    const ServiceTally& t = read.report.services;
    Check(t.converted + t.Skipped() == t.read);
    Check(t.converted == read.records.nCount && t.withoutPids <= t.converted);
    Check(read.refusal.empty() == (t.converted != 0));
    Check(read.report.unreadableLineCount >= static_cast<std::int64_t>(read.report.unreadableLines.size()));
    CheckRecords(read);

    NullProgressBar bar;
    BuildChannelDatabase(read.records.pHead, read.records.nCount, kMaxSatellites, bar);
    MemoryImageSink sink;
    Check(EmitDatabaseImage(GlobalChannelDatabase(), ImageLimits(), sink, bar));
    ReleaseSdxList(read.records.pHead);
    return 0;
}
