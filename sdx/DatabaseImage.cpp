#include "sdx/DatabaseImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace velmora {

namespace {

constexpr std::uint8_t kZeros[4096] = {};

bool WriteZeros(IImageSink& sink, std::int64_t count) {
    while (count > 0) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(count, static_cast<std::int64_t>(sizeof kZeros)));
        if (!sink.Write(kZeros, n)) {
            return false;
        }
        count -= static_cast<std::int64_t>(n);
    }
    return true;
}

// Walks the channels of the database in image order: satellites by index,
// their transponders by slot, their channels by slot.
template <typename Visit>
bool ForEachChannel(const ChannelDatabase& db, Visit&& visit) {
    const int satCount = std::clamp(db.nSatCount, 0, kMaxSatellites);
    for (int s = 0; s < satCount; ++s) {
        const SatelliteEntry& sat = db.aSatellites[s];
        const int tpCount = std::clamp(sat.nTpCount, 0, kMaxTranspondersPerSatellite);
        for (int t = 0; t < tpCount; ++t) {
            const TransponderEntry& tp = sat.aTransponders[t];
            const int chCount = std::clamp(tp.nChannelCount, 0, kMaxChannelsPerTransponder);
            for (int c = 0; c < chCount; ++c) {
                if (!visit(tp.aChannels[c])) {
                    return false;
                }
            }
        }
    }
    return true;
}

// One channel section: the channels of one service type, up to `limit`,
// then zero records up to `limit`.
bool EmitChannelSection(const ChannelDatabase& db, char serviceType, std::int64_t limit,
                        bool withCaSystemId, IImageSink& sink) {
    std::int64_t written = 0;
    const bool ok = ForEachChannel(db, [&](const ChannelEntry& ch) {
        if (ch.chServiceType != serviceType || written >= limit) {
            return true;
        }
        const auto bytes = ChannelRecordBytes(ch, withCaSystemId);
        ++written;
        return sink.Write(bytes.data(), bytes.size());
    });
    return ok && WriteZeros(sink, (limit - written) * kChannelRecordSize);
}

class FileImageSink final : public IImageSink {
public:
    explicit FileImageSink(std::FILE* file) : m_file(file) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (std::fwrite(data, 1, size, m_file) != size) {
            m_errno = errno != 0 ? errno : EIO;
            return false;
        }
        return true;
    }
    int Errno() const { return m_errno; }

private:
    std::FILE* m_file;
    int m_errno = 0;
};

// The job the dialog's defaults make, worked out once.
const JobSettings& DefaultSettings() {
    static const JobSettings settings = [] {
        JobSettings defaults;
        LineParams unused;
        ConvertDialogValues(DialogValues{}, defaults, unused);
        return defaults;
    }();
    return settings;
}

}  // namespace

ImageLimits::ImageLimits() : ImageLimits(DefaultSettings()) {}

ImageLimits::ImageLimits(const JobSettings& s)
    : nMaxSat(s.nMaxSat),
      nMaxTp(s.nMaxTp),
      nMaxTv(s.nMaxTv),
      nMaxRadio(s.nMaxRadio),
      nDbSize(s.nDbSize),
      nLnbCHigh(s.nLnbCHigh),
      nLnbCLow(s.nLnbCLow),
      nLnbKuHigh(s.nLnbKuHigh),
      nLnbKuLow(s.nLnbKuLow),
      bTerrestrial(s.bTerrestrial != 0) {}

ImageLimits ImageLimitsOf(const JobSettings& s) {
    return ImageLimits(s);
}

ImageLayout LayoutOf(const ImageLimits& limits) {
    ImageLayout l;
    l.nSatellites = std::max<std::int64_t>(limits.nMaxSat, 0);
    l.nTransponders = std::max<std::int64_t>(limits.nMaxTp, 0);
    l.nTv = std::max<std::int64_t>(limits.nMaxTv, 0);
    l.nRadio = std::max<std::int64_t>(limits.nMaxRadio, 0);
    l.nTpRecordSize =
        limits.bTerrestrial ? kTerrestrialTransponderRecordSize : kTransponderRecordSize;
    l.satelliteOffset = kImageHeaderSize;
    l.transponderOffset = l.satelliteOffset + kSatelliteRecordSize * l.nSatellites;
    l.tvOffset = l.transponderOffset + l.nTpRecordSize * l.nTransponders;
    l.radioOffset = l.tvOffset + kChannelRecordSize * l.nTv;
    l.fillOffset = l.radioOffset + kChannelRecordSize * l.nRadio;
    l.fillLength = std::max<std::int64_t>(limits.nDbSize - l.fillOffset, 0);
    l.totalLength = l.fillOffset + l.fillLength;
    return l;
}

std::array<std::uint8_t, kSatelliteRecordSize> SatelliteRecordBytes(const SatelliteEntry& sat,
                                                                    const ImageLimits& limits) {
    using At = SatelliteRecordAt;
    std::array<std::uint8_t, kSatelliteRecordSize> r{};
    const bool cBand = sat.nBand == CBand;
    r[At::kBand] = cBand ? kBandByteC : kBandByteKu;
    const bool west = sat.nOrbitalPosition > kWestThreshold;
    r[At::kWest] = west ? kWestFlag : 0;
    PutLe16(&r[At::kLnbHigh], cBand ? limits.nLnbCHigh : limits.nLnbKuHigh);
    PutLe16(&r[At::kLnbLow], cBand ? limits.nLnbCLow : limits.nLnbKuLow);
    if (sat.pszName != nullptr) {
        std::memcpy(&r[At::kName], sat.pszName, kSatelliteNameLength);
    }
    const std::int64_t position =
        west ? 3600 - static_cast<std::int64_t>(sat.nOrbitalPosition) : sat.nOrbitalPosition;
    PutLe32(&r[At::kPosition], position);
    return r;
}

void TransponderRecordBytes(const TransponderEntry& tp, bool terrestrial,
                            std::uint8_t out[kTerrestrialTransponderRecordSize]) {
    const TransponderRecordAt at = TransponderFieldsOf(terrestrial);
    std::memset(out, 0, kTerrestrialTransponderRecordSize);
    if (tp.pszNetworkName != nullptr) {
        std::memcpy(out + at.networkName, tp.pszNetworkName, kNetworkNameLength);
    }
    if (terrestrial) {
        PutLe32(out + at.frequency, tp.nFrequency);
    } else {
        PutLe16(out + at.frequency, tp.nFrequency);
    }
    PutLe16(out + at.symbolRate, tp.nSymbolRate);
    PutLe16(out + at.satIndex, tp.nSatIndex);
    PutLe16(out + at.tpNumber, tp.nTpNumber);
    out[at.polarisation] =
        static_cast<std::uint8_t>(static_cast<std::uint32_t>(tp.nPolarisation) & 0xFFU);
    std::memcpy(out + at.tail, kTransponderTail, sizeof kTransponderTail);
}

std::array<std::uint8_t, kChannelRecordSize> ChannelRecordBytes(const ChannelEntry& ch,
                                                                bool withCaSystemId) {
    using At = ChannelRecordAt;
    std::array<std::uint8_t, kChannelRecordSize> r{};
    if (ch.pszName != nullptr) {
        std::memcpy(&r[At::kName], ch.pszName, kChannelNameLength);
    }
    r[At::kMarker] = kChannelMarker;
    PutLe16(&r[At::kTpNumber], ch.nTpNumber);
    PutLe16(&r[At::kServiceId], ch.nServiceId);
    PutLe16(&r[At::kTransportStreamId], ch.nTransportStreamId);
    PutLe16(&r[At::kNetworkId], ch.nNetworkId);
    PutLe16(&r[At::kVideoPid], ch.nVideoPid);
    PutLe16(&r[At::kAudioPid], ch.nAudioPid);
    PutLe16(&r[At::kNullPid], kNullPid);
    PutLe16(&r[At::kPcrPid], ch.nPcrPid);
    r[At::kScrambled] = ch.nCaSystemId != 0 ? 1 : 0;
    if (withCaSystemId) {
        PutLe16(&r[At::kCaSystemId], ch.nCaSystemId);
    }
    return r;
}

bool EmitDatabaseImage(const ChannelDatabase& db, const ImageLimits& limits, IImageSink& sink,
                       IProgressBar& analyse) {
    const ImageLayout layout = LayoutOf(limits);

    if (!sink.Write(kImageHeader, sizeof kImageHeader)) {
        return false;
    }

    // Satellites: never more than the section holds.
    const std::int64_t satCount =
        std::min<std::int64_t>(std::clamp(db.nSatCount, 0, kMaxSatellites), layout.nSatellites);
    for (std::int64_t s = 0; s < satCount; ++s) {
        const auto bytes = SatelliteRecordBytes(db.aSatellites[s], limits);
        if (!sink.Write(bytes.data(), bytes.size())) {
            return false;
        }
    }
    if (!WriteZeros(sink, (layout.nSatellites - satCount) * kSatelliteRecordSize)) {
        return false;
    }
    analyse.SetPos(80);

    // Transponders with a frequency and a symbol rate, up to nMaxTp.
    std::int64_t k = 0;
    const auto recordSize = static_cast<std::size_t>(layout.nTpRecordSize);
    std::uint8_t record[kTerrestrialTransponderRecordSize];
    for (std::int64_t s = 0; s < satCount && k < layout.nTransponders; ++s) {
        const SatelliteEntry& sat = db.aSatellites[s];
        const int tpCount = std::clamp(sat.nTpCount, 0, kMaxTranspondersPerSatellite);
        for (int t = 0; t < tpCount && k < layout.nTransponders; ++t) {
            const TransponderEntry& tp = sat.aTransponders[t];
            if (tp.nFrequency == 0 || tp.nSymbolRate == 0) {
                continue;
            }
            TransponderRecordBytes(tp, limits.bTerrestrial, record);
            if (!sink.Write(record, recordSize)) {
                return false;
            }
            ++k;
        }
    }
    if (!WriteZeros(sink, (layout.nTransponders - k) * layout.nTpRecordSize)) {
        return false;
    }
    analyse.SetPos(85);

    if (!EmitChannelSection(db, 'T', layout.nTv, true, sink) ||
        !EmitChannelSection(db, 'R', layout.nRadio, false, sink)) {
        return false;
    }
    analyse.SetPos(90);

    return WriteZeros(sink, layout.fillLength);
}

void TallyImage(const ChannelDatabase& db, const ImageLimits& limits, ConversionReport& report) {
    const ImageLayout layout = LayoutOf(limits);
    const std::int64_t satCount =
        std::min<std::int64_t>(std::clamp(db.nSatCount, 0, kMaxSatellites), layout.nSatellites);
    std::int64_t tpWithRecord = 0;
    std::int64_t tpWithout = 0;
    for (std::int64_t s = 0; s < satCount; ++s) {
        const SatelliteEntry& sat = db.aSatellites[s];
        const int tpCount = std::clamp(sat.nTpCount, 0, kMaxTranspondersPerSatellite);
        for (int t = 0; t < tpCount; ++t) {
            const TransponderEntry& tp = sat.aTransponders[t];
            ++(tp.nFrequency == 0 || tp.nSymbolRate == 0 ? tpWithout : tpWithRecord);
        }
    }
    std::int64_t tv = 0;
    std::int64_t radio = 0;
    std::int64_t other = 0;
    ForEachChannel(db, [&](const ChannelEntry& ch) {
        ++(ch.chServiceType == 'T' ? tv : ch.chServiceType == 'R' ? radio : other);
        return true;
    });
    report.kept.satellites = satCount;
    report.kept.transponders = std::min(tpWithRecord, layout.nTransponders);
    report.transpondersBeyondMaxTp = tpWithRecord - report.kept.transponders;
    report.transpondersWithoutFrequency = tpWithout;
    report.kept.tv = std::min(tv, layout.nTv);
    report.kept.radio = std::min(radio, layout.nRadio);
    report.dropped.maxTv = tv - report.kept.tv;
    report.dropped.maxRadio = radio - report.kept.radio;
    report.dropped.serviceType = other;
}

std::string WorkFilePath(const JobSettings& settings, const char* name) {
    if (settings.strWorkDir.empty()) {
        return name;
    }
    return (std::filesystem::path(settings.strWorkDir) / name).string();
}

bool WriteDatabaseImage(IProgressBar& analyse, JobSettings& settings, SdxListNode*& pHead,
                        std::string& error) {
    // The database refers into the records: release them on every path, but
    // only once the image has been written.
    SdxListGuard list(pHead);
    pHead = nullptr;

    const std::string path = WorkFilePath(settings, kImageFileName);
    // Messages name the folder too when the image goes to the current directory.
    std::error_code here;
    const std::string shown =
        settings.strWorkDir.empty() ? (std::filesystem::current_path(here) / path).string() : path;
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file == nullptr) {
        error = "Cannot create the database image " + shown + ": " + std::strerror(errno) +
                ". Check that the folder exists and can be written, then try again.";
        return false;
    }
    FileImageSink sink(file);
    bool ok = EmitDatabaseImage(GlobalChannelDatabase(), ImageLimitsOf(settings), sink, analyse);
    int failure = sink.Errno();
    if (ok && std::fflush(file) != 0) {
        ok = false;
        failure = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        error = "Cannot write the database image " + shown + ": " +
                std::strerror(failure != 0 ? failure : EIO) +
                ". The image is incomplete; free some space or choose another folder, then try "
                "again.";
        return false;
    }
    settings.bConverted = 1;
    return true;
}

}  // namespace velmora
