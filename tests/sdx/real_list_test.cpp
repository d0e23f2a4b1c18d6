// The conversion of a real channel list: 1108 records of Astra 19.2E as
// published by a channel-list editor, kept outside the project.
#include <gtest/gtest.h>

#include "sdx/ConversionChain.h"
#include "sdx/ImageDecode.h"
#include "sdx/ImageText.h"
#include "sdx/SdxReader.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

const std::filesystem::path kRealList =
    std::filesystem::path(VELMORA_SHARED_DATA_DIR) / "astra-19.2e-v103.sdx";

TEST(SdxRealList, AstraListWithTheDefaults) {
    if (!std::filesystem::exists(kRealList)) {
        GTEST_SKIP() << "the shared real-world list " << kRealList
                     << " is not there (set VELMORA_SHARED_DATA_DIR to the folder that holds it)";
    }
    EXPECT_EQ(SdxFormatWarningForFile(kRealList.string()), "");

    TempDir dir;
    JobSettings s = DefaultSettings(kRealList.string(), dir.Path().string());
    RecordingBar bar;
    RecordingMessages messages;
    const ChainResult r = RunConversionChain(s, bar, messages, {});
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;
    ASSERT_EQ(r.imageSize, 65535U);

    const Bytes bytes = ReadAll(r.imagePath);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodeDatabaseImage(bytes, ImageLimitsOf(s), image, error)) << error;

    // One Ku-band satellite at 19.2 E.
    ASSERT_EQ(image.satellites.size(), 1U);
    EXPECT_EQ(
        Bytes(bytes.begin() + 8, bytes.begin() + 36),
        (Bytes{0x41, 0x00, 0x00, 0x00, 0x68, 0x29, 0x16, 0x26, 'A', 's', 't',  'r',  'a',  ' ',
               '1',  ' ',  '(',  '1',  '9',  '.',  '2',  'E',  ')', ' ', 0xC0, 0x00, 0x00, 0x00}));
    EXPECT_EQ(PositionText(image.satellites[0]), "19.2E");

    // 91 frequency/polarisation pairs; the TV section is full, the radio
    // section holds its one channel.
    EXPECT_EQ(image.transponders.size(), 91U);
    EXPECT_EQ(image.tv.size(), 500U);
    EXPECT_EQ(image.radio.size(), 1U);
    EXPECT_EQ(DisplayName(image.radio[0].name), "FM4");
    EXPECT_EQ(image.radio[0].serviceId, 13134);
    EXPECT_EQ(image.radio[0].tpNumber, 4);

    // The first channel: ORF1 HD on 11303 MHz; its PIDs read "____" in the
    // list, which the digit arithmetic turns into 52217 (F9 CB).
    const ImageLayout l = LayoutOf(ImageLimitsOf(s));
    const auto at = static_cast<std::ptrdiff_t>(l.tvOffset);
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 62),
              (Bytes{'O',  'R',  'F',  '1',  ' ',  'H',  'D',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',
                     ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  0,    0,    0,    0,    0,    0x01,
                     0x00, 0x00, 0x2F, 0x13, 0xEF, 0x03, 0x01, 0x00, 0xF9, 0xCB, 0x00, 0x00, 0xF9,
                     0xCB, 0,    0,    0,    0,    0,    0,    0xFF, 0x1F, 0,    0,    0,    0,
                     0,    0,    0xF9, 0xCB, 0,    0,    0,    0,    0,    0}));

    // What the report says of it: 15 channels on full transponders, 448 TV
    // and 144 radio channels beyond Max TV and Max Radio.
    ASSERT_TRUE(r.hasReport);
    EXPECT_EQ(r.report.records, 1108);
    EXPECT_EQ(r.report.dropped.channelsPerTransponder, 15);
    EXPECT_EQ(r.report.dropped.maxTv, 448);
    EXPECT_EQ(r.report.dropped.maxRadio, 144);
    EXPECT_EQ(r.report.dropped.Total(), 15 + 448 + 144);
    EXPECT_EQ(r.report.kept.transponders, 91);

    // Progress: 10, 20, then 20 to 89 while grouping, then 80, 85, 90, 100.
    const std::vector<int> p = bar.Positions();
    ASSERT_GE(p.size(), 6U);
    EXPECT_EQ(std::vector<int>(p.begin(), p.begin() + 3), (std::vector<int>{10, 20, 20}));
    EXPECT_EQ(std::vector<int>(p.end() - 4, p.end()), (std::vector<int>{80, 85, 90, 100}));
    EXPECT_EQ(p[p.size() - 5], 89);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end() - 4));
}

}  // namespace
}  // namespace velmora::test
