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

    // Keys are unique (no two satellites share name and band, no two
    // transponders of a satellite share frequency and polarisation), so the
    // slot that matched the previous record, when it matches again, is the
    // one a scan in slot order would find first.
    int lastSat = -1;
    int lastTp = -1;
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
        const std::int32_t f = rec.nFrequency;

        int s = -1;
        if (lastSat >= 0 && IsSameSatellite(rec.szSatName, f, db.aSatellites[lastSat])) {
            s = lastSat;
        } else {
            for (int k = 0; k < db.nSatCount; ++k) {
                if (IsSameSatellite(rec.szSatName, f, db.aSatellites[k])) {
                    s = k;
                    break;
                }
            }
            lastTp = -1;
        }

        if (s < 0) {
            if (db.nSatCount >= maxSat) {
                // No room for another satellite: the grouping ends here.
                dropped.satelliteLimit = count - i;
                break;
            }
            s = db.nSatCount;
            SatelliteEntry& sat = db.aSatellites[s];
            sat.pszName = rec.szSatName;
            sat.nOrbitalPosition = rec.nOrbitalPosition;
            sat.nBand = BandOfFrequency(f);
            sat.nTpCount = 0;
            AddTransponder(db, s, rec, p);
            ++db.nSatCount;
            lastSat = s;
            lastTp = 0;
            continue;
        }

        lastSat = s;
        SatelliteEntry& sat = db.aSatellites[s];
        int t = -1;
        if (lastTp >= 0 && sat.aTransponders[lastTp].nFrequency == f &&
            sat.aTransponders[lastTp].nPolarisation == p) {
            t = lastTp;
        } else {
            for (int k = 0; k < sat.nTpCount; ++k) {
                if (sat.aTransponders[k].nFrequency == f &&
                    sat.aTransponders[k].nPolarisation == p) {
                    t = k;
                    break;
                }
            }
        }

        if (t >= 0) {
            lastTp = t;
            TransponderEntry& tp = sat.aTransponders[t];
            if (tp.nChannelCount >= kMaxChannelsPerTransponder) {
                ++dropped.channelsPerTransponder;  // transponder full: the record is dropped
                continue;
            }
            FillChannel(tp.aChannels[tp.nChannelCount], tp, rec);
            ++tp.nChannelCount;
        } else {
            if (sat.nTpCount >= kMaxTranspondersPerSatellite) {
                lastTp = -1;
                ++dropped.transpondersPerSatellite;  // satellite full: the record is dropped
                continue;
            }
            lastTp = sat.nTpCount;
            AddTransponder(db, s, rec, p);
        }
    }
}

void BuildChannelDatabase(const SdxListNode* pHead, std::int64_t count, std::int32_t nMaxSat,
                          IProgressBar& analyse, BuildTally* tally) {
    BuildChannelDatabase(g_channelDatabase, pHead, count, nMaxSat, analyse, tally);
}

}  // namespace velmora
