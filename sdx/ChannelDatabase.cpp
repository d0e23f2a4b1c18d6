#include "sdx/ChannelDatabase.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

// Zero at program start (static storage) and never allocated again.
constinit ChannelDatabase g_channelDatabase{};

constexpr std::size_t kSatKeyLength = 16;

// Empties one satellite slot. Every build fills entries only at the index of
// a count and then raises that count, so nothing beyond the counts of a slot
// is ever non-zero: clearing the entries below the counts leaves the whole
// slot zero, without touching (and paging in) the unused part of the table.
void ClearSatellite(SatelliteEntry& sat) {
    const int tpCount = std::clamp(sat.nTpCount, 0, kMaxTranspondersPerSatellite);
    for (int t = 0; t < tpCount; ++t) {
        TransponderEntry& tp = sat.aTransponders[t];
        const int channels = std::clamp(tp.nChannelCount, 0, kMaxChannelsPerTransponder);
        std::fill_n(tp.aChannels, channels, ChannelEntry{});
        tp.nSatIndex = 0;
        tp.pszNetworkName = nullptr;
        tp.nFrequency = 0;
        tp.nSymbolRate = 0;
        tp.nPolarisation = 0;
        tp.nChannelCount = 0;
        tp.nTpNumber = 0;
    }
    sat.pszName = nullptr;
    sat.nOrbitalPosition = 0;
    sat.nBand = 0;
    sat.nTpCount = 0;
}

void FillChannel(ChannelEntry& ch, const TransponderEntry& tp, const SdxRecord& rec) {
    ch.nTpNumber = tp.nTpNumber;
    ch.pszName = rec.szChannelName;
    ch.nServiceId = rec.nServiceId;
    ch.nTransportStreamId = rec.nTransportStreamId;
    ch.nNetworkId = rec.nNetworkId;
    ch.nVideoPid = rec.nVideoPid;
    ch.nAudioPid = rec.nAudioPid;
    ch.nReserved2 = rec.nReserved2;
    ch.nPcrPid = rec.nPcrPid;
    ch.nReserved1 = rec.nReserved1;
    ch.chServiceType = rec.chServiceType;
    ch.nCaSystemId = rec.nCaSystemId;
}

// A new transponder in slot nTpCount of satellite `satIndex`, with the
// record as its first channel.
void AddTransponder(ChannelDatabase& db, int satIndex, const SdxRecord& rec,
                    std::int32_t polarisation) {
    SatelliteEntry& sat = db.aSatellites[satIndex];
    TransponderEntry& tp = sat.aTransponders[sat.nTpCount];
    tp.nSatIndex = satIndex;
    tp.pszNetworkName = rec.szNetworkName;
    tp.nFrequency = rec.nFrequency;
    tp.nSymbolRate = rec.nSymbolRate;
    tp.nPolarisation = polarisation;
    tp.nTpNumber = db.nNextTpNumber++;
    FillChannel(tp.aChannels[0], tp, rec);
    tp.nChannelCount = 1;
    ++sat.nTpCount;
}

}  // namespace

ChannelDatabase& GlobalChannelDatabase() {
    return g_channelDatabase;
}

BandCode BandOfFrequency(std::int32_t frequencyMhz) {
    return frequencyMhz > kKuBandThresholdMhz ? KuBand : CBand;
}

bool IsSameSatellite(const char* satName, std::int32_t frequencyMhz,
                     const SatelliteEntry& satellite) {
    return std::memcmp(satName, satellite.pszName, kSatKeyLength) == 0 &&
           BandOfFrequency(frequencyMhz) == satellite.nBand;
}

namespace {

// The slots that matched the previous record. Keys are unique (no two
// satellites share name and band, no two transponders of a satellite share
// frequency and polarisation), so the slot that matched the previous record,
// when it matches again, is the one a scan in slot order would find first.
struct LastMatch {
    int sat = -1;
    int tp = -1;
};

// The satellite of the record's name and band, or -1.
int FindSatellite(const ChannelDatabase& db, const SdxRecord& rec, LastMatch& last) {
    const std::int32_t f = rec.nFrequency;
    if (last.sat >= 0 && IsSameSatellite(rec.szSatName, f, db.aSatellites[last.sat])) {
        return last.sat;
    }
    last.tp = -1;
    for (int k = 0; k < db.nSatCount; ++k) {
        if (IsSameSatellite(rec.szSatName, f, db.aSatellites[k])) {
            return k;
        }
    }
    return -1;
}

// The satellite's transponder of frequency `f` and polarisation `p`, or -1.
int FindTransponder(const SatelliteEntry& sat, std::int32_t f, std::int32_t p, int lastTp) {
    if (lastTp >= 0 && sat.aTransponders[lastTp].nFrequency == f &&
        sat.aTransponders[lastTp].nPolarisation == p) {
        return lastTp;
    }
    for (int k = 0; k < sat.nTpCount; ++k) {
        if (sat.aTransponders[k].nFrequency == f && sat.aTransponders[k].nPolarisation == p) {
            return k;
        }
    }
    return -1;
}

// A new satellite in the next slot, with the record's transponder.
void StartSatellite(ChannelDatabase& db, const SdxRecord& rec, std::int32_t p) {
    const int s = db.nSatCount;
    SatelliteEntry& sat = db.aSatellites[s];
    sat.pszName = rec.szSatName;
    sat.nOrbitalPosition = rec.nOrbitalPosition;
    sat.nBand = BandOfFrequency(rec.nFrequency);
    sat.nTpCount = 0;
    AddTransponder(db, s, rec, p);
    ++db.nSatCount;
}

// The record as a channel of satellite `s`: on its transponder when the
// satellite has it, else on a new one; dropped when there is no room.
void AddToSatellite(ChannelDatabase& db, int s, const SdxRecord& rec, std::int32_t p,
                    LastMatch& last, BuildTally& dropped) {
    SatelliteEntry& sat = db.aSatellites[s];
    const int t = FindTransponder(sat, rec.nFrequency, p, last.tp);
    if (t >= 0) {
        last.tp = t;
        TransponderEntry& tp = sat.aTransponders[t];
        if (tp.nChannelCount >= kMaxChannelsPerTransponder) {
            ++dropped.channelsPerTransponder;  // transponder full: the record is dropped
            return;
        }
        FillChannel(tp.aChannels[tp.nChannelCount], tp, rec);
        ++tp.nChannelCount;
        return;
    }
    if (sat.nTpCount >= kMaxTranspondersPerSatellite) {
        last.tp = -1;
        ++dropped.transpondersPerSatellite;  // satellite full: the record is dropped
        return;
    }
    last.tp = sat.nTpCount;
    AddTransponder(db, s, rec, p);
}

}  // namespace

void BuildChannelDatabase(ChannelDatabase& db, const SdxListNode* pHead, std::int64_t count,
                          std::int32_t nMaxSat, IProgressBar& analyse, BuildTally* tally) {
    BuildTally unused;
    BuildTally& dropped = tally != nullptr ? *tally : unused;
    dropped = BuildTally{};
    const int maxSat = std::clamp(nMaxSat, 0, kMaxSatellites);
    for (int s = 0; s < maxSat; ++s) {
        ClearSatellite(db.aSatellites[s]);
    }
    db.nSatCount = 0;
    db.nNextTpNumber = 0;
    if (count <= 0) {
        return;
    }

    LastMatch last;
    int shown = -1;
    const SdxListNode* node = pHead;
    for (std::int64_t i = 0; i < count && node != nullptr && node->pRecord != nullptr;
         ++i, node = node->pNext) {
        const int pos = static_cast<int>(20 + (70 * i) / count);
        if (pos != shown) {
            analyse.SetPos(pos);
            shown = pos;
        }
        const SdxRecord& rec = *node->pRecord;
        const std::int32_t p = static_cast<std::int32_t>(rec.chPolarisation) - '0';
        const int s = FindSatellite(db, rec, last);
        if (s >= 0) {
            last.sat = s;
            AddToSatellite(db, s, rec, p, last, dropped);
            continue;
        }
        if (db.nSatCount >= maxSat) {
            // No room for another satellite: the grouping ends here.
            dropped.satelliteLimit = count - i;
            break;
        }
        last = LastMatch{db.nSatCount, 0};
        StartSatellite(db, rec, p);
    }
}

void BuildChannelDatabase(const SdxListNode* pHead, std::int64_t count, std::int32_t nMaxSat,
                          IProgressBar& analyse, BuildTally* tally) {
    BuildChannelDatabase(g_channelDatabase, pHead, count, nMaxSat, analyse, tally);
}

}  // namespace velmora
