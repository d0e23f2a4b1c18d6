#include <gtest/gtest.h>

#include "sdx/ChannelDatabase.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

// Parses the records and groups them into the process-wide table; the list
// stays alive (the table refers into it) until the object goes.
class Built {
public:
    explicit Built(const std::vector<Rec>& recs, std::int32_t maxSat = 32,
                   IProgressBar* bar = nullptr)
        : m_bytes(List(recs)) {
        NullProgressBar quiet;
        SdxReadResult r = ReadSdxBuffer(m_bytes, quiet);
        m_list.Head() = r.pHead;
        BuildChannelDatabase(r.pHead, r.nCount, maxSat, bar != nullptr ? *bar : quiet);
    }
    const ChannelDatabase& Db() const { return GlobalChannelDatabase(); }

private:
    Bytes m_bytes;
    SdxListGuard m_list;
};

Rec On(const std::string& sat, int freq, char pol = '1', int sid = 0) {
    Rec r;
    r.sat = sat;
    r.freq = freq;
    r.pol = pol;
    r.sid = sid;
    return r;
}

TEST(SdxBuild, BandBoundaryAndSatelliteKey) {
    EXPECT_EQ(BandOfFrequency(9500), CBand);
    EXPECT_EQ(BandOfFrequency(9501), KuBand);
    EXPECT_EQ(BandOfFrequency(3800), CBand);

    // Same name either side of 9500 MHz: two satellites. Names equal in their
    // first 16 characters: one satellite, named by the first record.
    Built b({On("Same Name", 9500), On("Same Name", 9501),
             On("Sixteen chars ok"
                "AA",
                12000),
             On("Sixteen chars ok"
                "BB",
                12000)});
    const ChannelDatabase& db = b.Db();
    ASSERT_EQ(db.nSatCount, 3);
    EXPECT_EQ(db.aSatellites[0].nBand, CBand);
    EXPECT_EQ(db.aSatellites[1].nBand, KuBand);
    EXPECT_EQ(std::string(db.aSatellites[2].pszName, 18), "Sixteen chars okAA");
    EXPECT_EQ(db.aSatellites[2].aTransponders[0].nChannelCount, 2);
}

TEST(SdxBuild, TransponderKeyAndRunningNumbers) {
    // Polarisation 0 and 1 on one frequency are two transponders; a list that
    // alternates between satellites numbers transponders in creation order.
    Built b({On("A", 11000, '0', 1), On("A", 11000, '1', 2), On("B", 11000, '1', 3),
             On("A", 11500, '1', 4), On("A", 11000, '0', 5)});
    const ChannelDatabase& db = b.Db();
    ASSERT_EQ(db.nSatCount, 2);
    const SatelliteEntry& a = db.aSatellites[0];
    ASSERT_EQ(a.nTpCount, 3);
    EXPECT_EQ(a.aTransponders[0].nPolarisation, 0);
    EXPECT_EQ(a.aTransponders[1].nPolarisation, 1);
    EXPECT_EQ(a.aTransponders[0].nTpNumber, 0);
    EXPECT_EQ(a.aTransponders[1].nTpNumber, 1);
    EXPECT_EQ(db.aSatellites[1].aTransponders[0].nTpNumber, 2);
    EXPECT_EQ(db.aSatellites[1].aTransponders[0].nSatIndex, 1);
    EXPECT_EQ(a.aTransponders[2].nTpNumber, 3);
    EXPECT_EQ(db.nNextTpNumber, 4);
    // Channels carry their transponder's number, in file order.
    ASSERT_EQ(a.aTransponders[0].nChannelCount, 2);
    EXPECT_EQ(a.aTransponders[0].aChannels[1].nServiceId, 5);
    EXPECT_EQ(a.aTransponders[0].aChannels[1].nTpNumber, 0);
    EXPECT_EQ(std::string(a.aTransponders[0].pszNetworkName), "NET");
}

TEST(SdxBuild, SilentLimits) {
    // 51 channels on one transponder: the 51st is dropped, a new frequency
    // still gets a transponder.
    std::vector<Rec> recs(51, On("A", 11000, '1'));
    for (int i = 0; i < 51; ++i) {
        recs[static_cast<std::size_t>(i)].sid = i;
    }
    recs.push_back(On("A", 11100, '1', 99));
    {
        Built b(recs);
        const SatelliteEntry& a = b.Db().aSatellites[0];
        ASSERT_EQ(a.nTpCount, 2);
        EXPECT_EQ(a.aTransponders[0].nChannelCount, 50);
        EXPECT_EQ(a.aTransponders[0].aChannels[49].nServiceId, 49);
        EXPECT_EQ(a.aTransponders[1].aChannels[0].nServiceId, 99);
    }
    // 201 frequencies: 200 transponders; records for the first 200 keep coming.
    recs.clear();
    for (int f = 0; f < 201; ++f) {
        recs.push_back(On("A", 10000 + f, '1', f));
    }
    recs.push_back(On("A", 10000, '1', 500));
    {
        Built b(recs);
        const SatelliteEntry& a = b.Db().aSatellites[0];
        EXPECT_EQ(a.nTpCount, 200);
        EXPECT_EQ(a.aTransponders[0].nChannelCount, 2);
        EXPECT_EQ(a.aTransponders[0].aChannels[1].nServiceId, 500);
        EXPECT_EQ(b.Db().nNextTpNumber, 200);
    }
}

TEST(SdxBuild, SatelliteLimitEndsTheGrouping) {
    // With nMaxSat 1: A, then B, then A again: only the A records before B.
    {
        Built b({On("A", 11000, '1', 1), On("A", 11000, '1', 2), On("B", 11000, '1', 3),
                 On("A", 11000, '1', 4)},
                1);
        ASSERT_EQ(b.Db().nSatCount, 1);
        EXPECT_EQ(b.Db().aSatellites[0].aTransponders[0].nChannelCount, 2);
    }
    for (const std::int32_t maxSat : {0, -5}) {
        Built b({On("A", 11000)}, maxSat);
        EXPECT_EQ(b.Db().nSatCount, 0) << maxSat;
        EXPECT_EQ(b.Db().nNextTpNumber, 0) << maxSat;
    }
}

TEST(SdxBuild, ProgressIs20Plus70iOverN) {
    RecordingBar bar;
    { Built b({On("A", 11000), On("A", 11000), On("A", 11000)}, 32, &bar); }
    EXPECT_EQ(bar.Positions(), (std::vector<int>{20, 43, 66}));

    RecordingBar empty;
    { Built b({}, 32, &empty); }
    EXPECT_TRUE(empty.Positions().empty());

    // 140 records: 20, 20, 21, 21, ... shown once each, 20 to 89.
    RecordingBar many;
    { Built b(std::vector<Rec>(140, On("A", 11000)), 32, &many); }
    std::vector<int> expected;
    for (int p = 20; p < 90; ++p) {
        expected.push_back(p);
    }
    EXPECT_EQ(many.Positions(), expected);

    // The grouping stops at the satellite limit: the bar keeps its last value.
    RecordingBar stopped;
    { Built b({On("A", 11000), On("B", 11000), On("A", 11000)}, 1, &stopped); }
    EXPECT_EQ(stopped.Positions(), (std::vector<int>{20, 43}));
}

TEST(SdxBuild, RebuildLeavesNothingOfTheLastList) {
    {
        Built first({On("A", 11000, '1', 1), On("A", 11000, '1', 2), On("A", 11200, '1', 3),
                     On("B", 11000, '1', 4), On("C", 11000, '1', 5)},
                    3);
    }
    Built second({On("Z", 12000, '0', 9)}, 2);
    const ChannelDatabase& db = second.Db();
    ASSERT_EQ(db.nSatCount, 1);
    const SatelliteEntry& z = db.aSatellites[0];
    EXPECT_EQ(z.nTpCount, 1);
    EXPECT_EQ(z.aTransponders[0].nChannelCount, 1);
    // Everything beyond the counts of the first nMaxSat slots is zero again.
    EXPECT_EQ(z.aTransponders[0].aChannels[1].pszName, nullptr);
    EXPECT_EQ(z.aTransponders[0].aChannels[1].nServiceId, 0);
    EXPECT_EQ(z.aTransponders[1].nFrequency, 0);
    EXPECT_EQ(z.aTransponders[1].aChannels[0].nServiceId, 0);
    EXPECT_EQ(db.aSatellites[1].pszName, nullptr);
    EXPECT_EQ(db.aSatellites[1].nTpCount, 0);
    EXPECT_EQ(db.aSatellites[1].aTransponders[0].aChannels[0].nServiceId, 0);
    // Slots beyond nMaxSat are left as they were.
    EXPECT_EQ(db.aSatellites[2].nTpCount, 1);
    EXPECT_EQ(db.aSatellites[2].aTransponders[0].aChannels[0].nServiceId, 5);
}

}  // namespace
}  // namespace velmora::test
