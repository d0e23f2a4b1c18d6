#include <gtest/gtest.h>

#include "sdx/ConversionChain.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

class ChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        Rec a, b, c;
        a.freq = 11000;
        b.freq = 11100;
        c.freq = 11200;
        c.type = 'R';
        WriteAll(m_dir / "list.sdx", List({a, b, c}));
        m_settings = DefaultSettings(ListPath(), m_dir.Path().string());
    }
    std::string ListPath() const { return (m_dir / "list.sdx").string(); }
    ChainResult Convert(const ChainOptions& options = {}) {
        return RunConversionChain(m_settings, m_bar, m_messages, {}, options);
    }

    TempDir m_dir;
    JobSettings m_settings;
    RecordingBar m_bar;
    RecordingMessages m_messages;
};

TEST_F(ChainTest, CodeUpgradeIsConvertedThenRefused) {
    m_settings.nUpgradeType = UpgradeType::Code;
    const ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Refused);
    EXPECT_EQ(r.message, "\n Please select to upgrade Database!!\n");
    EXPECT_TRUE(m_messages.shown.empty()) << "the worker shows the refusal";
    EXPECT_TRUE(m_dir.Has("db1.bin"));
    EXPECT_EQ(r.imageSize, 65535U);
    EXPECT_EQ(m_bar.Positions(), (std::vector<int>{10, 20, 20, 43, 66, 80, 85, 90, 100}));
}

TEST_F(ChainTest, DatabaseUpgradeNamesTheImageToSend) {
    const ChainResult r = Convert();
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
    EXPECT_EQ(m_settings.bConverted, 1);
    EXPECT_STREQ(m_settings.szImageName, "db1.bin");
    EXPECT_EQ(ConvertedImagePath(m_settings), (m_dir / "db1.bin").string());
    EXPECT_EQ(r.imagePath, ConvertedImagePath(m_settings));
    EXPECT_EQ(std::filesystem::file_size(r.imagePath), r.imageSize);
}

TEST_F(ChainTest, ListThatCannotBeOpened) {
    m_settings.strFilePath = (m_dir / "gone.sdx").string();
    m_settings.bConverted = 1;  // left over: must not survive
    ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Continue) << "the chosen file itself is sent";
    EXPECT_EQ(m_settings.bConverted, 0);
    EXPECT_FALSE(r.listError.empty());
    EXPECT_EQ(r.imagePath, "");
    EXPECT_EQ(ConvertedImagePath(m_settings), "");
    EXPECT_EQ(m_bar.Positions(), (std::vector<int>{100}));
    EXPECT_FALSE(m_dir.Has("db1.bin"));

    m_settings.nUpgradeType = UpgradeType::Code;
    r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Refused);
    EXPECT_EQ(r.message, "\n Please select to upgrade Database!!\n");
}

TEST_F(ChainTest, ListThatCannotBeHeldOrReadEndsWithAMessage) {
    SdxReadFaults faults;
    faults.failNodeAt = 1;
    ChainOptions options;
    options.readFaults = &faults;
    ChainResult r = Convert(options);
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_EQ(r.message, "\n  (" + ListPath() + " )Open this file fail!\n");
    EXPECT_FALSE(m_dir.Has("db1.bin"));

    std::filesystem::create_directory(m_dir / "folder.sdx");
    m_settings.strFilePath = (m_dir / "folder.sdx").string();
    r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Failed);
    EXPECT_EQ(r.problem, ConversionProblem::ListIsFolder);
    EXPECT_NE(r.message.find(m_settings.strFilePath + " is a folder"), std::string::npos)
        << r.message;
}

TEST_F(ChainTest, ImpossibleImageIsRefusedBeforeAnythingIsWritten) {
    m_settings.nMaxTv = 2147483647;
    const ChainResult r = Convert();
    EXPECT_EQ(r.status, ChainStatus::Refused);
    EXPECT_EQ(r.problem, ConversionProblem::ImageTooLarge);
    EXPECT_FALSE(m_dir.Has("db1.bin"));
}

TEST_F(ChainTest, ReportCountsEveryRecordOnceByCause) {
    std::vector<Rec> recs;
    Rec full;  // 51 channels on one transponder: the last is dropped
    full.freq = 10700;
    recs.insert(recs.end(), 51, full);
    for (int f = 0; f < 200; ++f) {  // 201 transponders with the first: the last is dropped
        Rec tp;
        tp.freq = 11000 + f;
        tp.type = f < 2 ? 'R' : 'T';  // two radio channels: one beyond Max Radio 1
        recs.push_back(tp);
    }
    Rec data;  // on a transponder with room
    data.freq = 11000;
    data.type = 'D';
    recs.push_back(data);
    Rec silent;
    silent.sr = 0;  // unreadable
    recs.push_back(silent);
    Rec other;  // a second satellite with Max Sat 1: grouping stops, 2 records left out
    other.sat = "Hot Bird";
    recs.push_back(other);
    recs.push_back(full);
    WriteAll(m_dir / "list.sdx", List(recs));
    m_settings.nMaxSat = 1;
    m_settings.nMaxTv = 200;

    const ChainResult r = Convert();
    ASSERT_TRUE(r.hasReport) << r.message;
    const ConversionReport& report = r.report;
    EXPECT_EQ(report.records, 51 + 200 + 4);
    EXPECT_EQ(report.dropped.channelsPerTransponder, 1);
    EXPECT_EQ(report.dropped.transpondersPerSatellite, 1);
    EXPECT_EQ(report.dropped.satelliteLimit, 2);
    EXPECT_EQ(report.dropped.serviceType, 1);
    EXPECT_EQ(report.dropped.unreadable, 1);
    EXPECT_EQ(report.dropped.maxRadio, 1);
    EXPECT_EQ(report.kept.radio, 1);
    EXPECT_EQ(report.kept.tv, 200);
    EXPECT_EQ(report.dropped.maxTv, 50 + 197 - 200);
    EXPECT_EQ(report.kept.tv + report.kept.radio + report.dropped.Total(), report.records);
    EXPECT_EQ(report.kept.satellites, 1);
    // 200 transponders fit a satellite; Max TP 512 takes all of them.
    EXPECT_EQ(report.kept.transponders, 200);
    EXPECT_EQ(report.imageSize, 65535U);
}

TEST_F(ChainTest, NegativeLimitsCountAsZero) {
    m_settings.nMaxSat = -1;
    m_settings.nMaxTp = -1;
    m_settings.nMaxTv = -1;
    m_settings.nMaxRadio = -1;
    const ChainResult r = Convert();
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
    const Bytes image = ReadAll(m_dir / "db1.bin");
    ASSERT_EQ(image.size(), 65535U);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0), 65534);
    EXPECT_EQ(image[4], 1);
}

}  // namespace
}  // namespace velmora::test
