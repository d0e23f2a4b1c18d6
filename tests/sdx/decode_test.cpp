#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "sdx/ConversionChain.h"
#include "sdx/ImageDecode.h"
#include "sdx/ImageText.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

TEST(SdxInspectText, Cp1252NamesBecomeUtf8) {
    EXPECT_EQ(Cp1252ToUtf8("A\xE9\x80\x9F"), "A\xC3\xA9\xE2\x82\xAC\xC5\xB8");  // A é € Ÿ
    EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xEF\xBF\xBD");  // undefined in the code page
    EXPECT_EQ(DisplayName(std::string("ORF1 HD    \0\0\0", 14)), "ORF1 HD");
    EXPECT_EQ(DisplayName("a\x01"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");

    DecodedSatellite sat;
    sat.position = 192;
    EXPECT_EQ(PositionText(sat), "19.2E");
    sat.position = 300;
    sat.west = true;
    EXPECT_EQ(PositionText(sat), "30.0W");
}

TEST(SdxInspectDecode, RefusesWhatIsNotAnImageForTheseLimits) {
    DecodedImage out;
    std::string error;
    Bytes shortImage(100, 0);
    shortImage[4] = 1;
    EXPECT_FALSE(DecodeDatabaseImage(shortImage, ImageLimits{}, out, error));
    EXPECT_NE(error.find("100 bytes long"), std::string::npos) << error;
    EXPECT_NE(error.find("47326"), std::string::npos) << error;
    // The header is tested first: a short file that is no image is not called short.
    const Bytes text = ToBytes("hello");
    EXPECT_FALSE(DecodeDatabaseImage(text, ImageLimits{}, out, error));
    EXPECT_NE(error.find("not a database image"), std::string::npos) << error;
    EXPECT_TRUE(GuessImageLimits(text, ImageLimits{}).Empty());

    Bytes noHeader(65535, 0);
    error.clear();
    EXPECT_FALSE(DecodeDatabaseImage(noHeader, ImageLimits{}, out, error));
    EXPECT_NE(error.find("header"), std::string::npos) << error;

    noHeader[4] = 1;
    EXPECT_TRUE(DecodeDatabaseImage(noHeader, ImageLimits{}, out, error));
    EXPECT_TRUE(out.satellites.empty());
    EXPECT_TRUE(out.tv.empty());
}

// A list with two satellites (Ku east, C west), three transponders, TV and
// radio channels with and without CA, converted and read back.
class RoundTrip : public ::testing::TestWithParam<bool> {
protected:
    static std::vector<Rec> Recs() {
        std::vector<Rec> recs;
        auto add = [&](const std::string& sat, int freq, char pol, int pos, char type,
                       const std::string& name, int sid, const std::string& ca) {
            Rec r;
            r.sat = sat;
            r.freq = freq;
            r.pol = pol;
            r.pos = pos;
            r.type = type;
            r.name = name;
            r.sid = sid;
            r.vpid = type == 'T' ? 100 + sid % 100 : 0;
            r.apid = 200 + sid % 100;
            r.pcr = r.vpid;
            r.nid = 1;
            r.tsid = freq % 1000;
            r.ca = ca;
            recs.push_back(r);
        };
        add("Astra 19.2E", 11303, '1', 192, 'T', "ORF1 HD", 4911, "____");
        add("Intelsat 907", 3840, '0', 3325, 'T', "Caf\xE9 \"Quote\"", 10, "VICS");
        add("Astra 19.2E", 11303, '1', 192, 'R', "FM4", 13134, "____");
        add("Astra 19.2E", 12480, '0', 192, 'T', "Sky Cinema", 21, "NAGV");
        add("Astra 19.2E", 11303, '1', 192, 'T', "ORF2 HD", 4912, "____");
        add("Astra 19.2E", 12480, '0', 192, 'R', "Sky Radio", 22, "VGRD");
        add("Astra 19.2E", 11303, '1', 192, 'D', "EPG data", 30, "____");
        return recs;
    }
};

TEST_P(RoundTrip, ConvertThenDecodeGivesBackTheAcceptedRecords) {
    TempDir dir;
    WriteAll(dir / "list.sdx", List(Recs()));
    JobSettings s = DefaultSettings((dir / "list.sdx").string(), dir.Path().string());
    s.bTerrestrial = GetParam() ? 1 : 0;
    s.nMaxTv = 3;  // one TV channel more than fits
    s.nMaxRadio = 4;
    NullProgressBar bar;
    RecordingMessages messages;
    const ChainResult r = RunConversionChain(s, bar, messages, {});
    ASSERT_EQ(r.status, ChainStatus::Continue) << r.message;

    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodeDatabaseImage(ReadAll(r.imagePath), ImageLimitsOf(s), image, error)) << error;
    EXPECT_EQ(image.nonZeroFillBytes, 0U);

    ASSERT_EQ(image.satellites.size(), 2U);
    const DecodedSatellite& astra = image.satellites[0];
    EXPECT_EQ(astra.bandByte, 0x41);
    EXPECT_EQ(astra.lnbHigh, 10600);
    EXPECT_EQ(astra.lnbLow, 9750);
    EXPECT_EQ(DisplayName(astra.name), "Astra 19.2E");
    EXPECT_EQ(PositionText(astra), "19.2E");
    const DecodedSatellite& intelsat = image.satellites[1];
    EXPECT_EQ(intelsat.bandByte, 0x01);
    EXPECT_EQ(intelsat.lnbHigh, 5150);
    EXPECT_EQ(PositionText(intelsat), "27.5W");

    // Transponders in walk order (satellite by satellite); numbers in order of creation.
    ASSERT_EQ(image.transponders.size(), 3U);
    const auto& t = image.transponders;
    EXPECT_EQ(t[0].frequency, 11303U);
    EXPECT_EQ(t[0].tpNumber, 0);
    EXPECT_EQ(t[0].polarisation, 1);
    EXPECT_EQ(t[1].frequency, 12480U);
    EXPECT_EQ(t[1].tpNumber, 2);
    EXPECT_EQ(t[1].satIndex, 0);
    EXPECT_EQ(t[2].frequency, 3840U);
    EXPECT_EQ(t[2].tpNumber, 1);
    EXPECT_EQ(t[2].satIndex, 1);
    EXPECT_EQ(t[2].symbolRate, 22000);
    EXPECT_EQ(DisplayName(t[2].network), "NET");

    // TV: ORF1, ORF2 (transponder 0), Sky Cinema (2); Intelsat's channel no longer fits.
    ASSERT_EQ(image.tv.size(), 3U);
    EXPECT_EQ(DisplayName(image.tv[0].name), "ORF1 HD");
    EXPECT_EQ(image.tv[0].serviceId, 4911);
    EXPECT_EQ(image.tv[0].videoPid, 111);
    EXPECT_EQ(image.tv[0].audioPid, 211);
    EXPECT_EQ(image.tv[0].transportStreamId, 303);
    EXPECT_FALSE(image.tv[0].scrambled);
    EXPECT_EQ(DisplayName(image.tv[1].name), "ORF2 HD");
    EXPECT_EQ(DisplayName(image.tv[2].name), "Sky Cinema");
    EXPECT_EQ(image.tv[2].tpNumber, 2);
    EXPECT_TRUE(image.tv[2].scrambled);
    EXPECT_EQ(image.tv[2].caSystemId, 1);

    ASSERT_EQ(image.radio.size(), 2U);
    EXPECT_EQ(DisplayName(image.radio[0].name), "FM4");
    EXPECT_EQ(DisplayName(image.radio[1].name), "Sky Radio");
    EXPECT_TRUE(image.radio[1].scrambled);
    EXPECT_EQ(image.radio[1].caSystemId, 0) << "radio records carry no CA id";

    // Both renderings carry the same.
    const std::string tables = FormatImageTables(image);
    EXPECT_NE(tables.find("  0  Ku       10600     9750  Astra 19.2E      19.2E\n"),
              std::string::npos)
        << tables;
    EXPECT_NE(tables.find("Totals: 2 satellites, 3 transponders, 3 TV channels, 2 radio"),
              std::string::npos)
        << tables;
    const std::string text = FormatImageJson(image);
    const nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["totals"],
              nlohmann::json({{"satellites", 2}, {"transponders", 3}, {"tv", 3}, {"radio", 2}}))
        << text;
    EXPECT_EQ(json["satellites"][1]["positionText"], "27.5W");
    EXPECT_EQ(json["tv"].size(), 3U) << "the fourth TV channel is not in the image";
    EXPECT_FALSE(json["radio"][0].contains("caSystemId")) << "radio records carry no CA id";
}

INSTANTIATE_TEST_SUITE_P(Projects, RoundTrip, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "DvbST" : "DvbS"; });

TEST(SdxInspectRender, EscapesNamesInJsonAndTables) {
    TempDir dir;
    Rec r;
    r.name = "Caf\xE9 \"Quote\\\"";
    WriteAll(dir / "list.sdx", List({r}));
    JobSettings s = DefaultSettings((dir / "list.sdx").string(), dir.Path().string());
    NullProgressBar bar;
    RecordingMessages messages;
    ASSERT_EQ(RunConversionChain(s, bar, messages, {}).status, ChainStatus::Continue);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodeDatabaseImage(ReadAll(dir / "db1.bin"), ImageLimitsOf(s), image, error));
    EXPECT_EQ(nlohmann::json::parse(FormatImageJson(image))["tv"][0]["name"],
              "Caf\xC3\xA9 \"Quote\\\"");
    EXPECT_NE(FormatImageTables(image).find("Caf\xC3\xA9 \"Quote\\\""), std::string::npos);
}

TEST(SdxInspectDecode, TellsWhichLimitsFitAnImageReadWithOthers) {
    std::vector<Rec> recs(3);
    recs[0].freq = 11000;
    recs[1].freq = 11100;
    recs[1].type = 'R';
    recs[2].freq = 11200;
    recs[2].type = 'R';
    TempDir dir;
    WriteAll(dir / "list.sdx", List(recs));
    auto convert = [&](const std::function<void(JobSettings&)>& limits) {
        JobSettings s = DefaultSettings((dir / "list.sdx").string(), dir.Path().string());
        limits(s);
        RecordingBar bar;
        RecordingMessages messages;
        EXPECT_EQ(RunConversionChain(s, bar, messages, {}).status, ChainStatus::Continue);
        return ReadAll(dir / "db1.bin");
    };

    // Written with Max Radio 3, read with the defaults: the second radio
    // channel lies where the defaults expect zero fill.
    const Bytes radio3 = convert([](JobSettings& s) { s.nMaxRadio = 3; });
    DecodedImage out;
    std::string error;
    ASSERT_TRUE(DecodeDatabaseImage(radio3, ImageLimits{}, out, error)) << error;
    EXPECT_NE(out.nonZeroFillBytes, 0U);
    ImageLimitGuess guess = GuessImageLimits(radio3, ImageLimits{});
    EXPECT_EQ(guess.maxSat, 32);
    EXPECT_EQ(guess.maxTp, 512);
    EXPECT_EQ(guess.maxTv, 500);
    EXPECT_EQ(guess.radioAtLeast, 2);

    // Other section lengths and the 32-byte transponder records show as well.
    const Bytes other = convert([](JobSettings& s) {
        s.nMaxSat = 4;
        s.nMaxTp = 7;
        s.nMaxTv = 20;
        s.bTerrestrial = 1;
    });
    guess = GuessImageLimits(other, ImageLimits{});
    EXPECT_EQ(guess.maxSat, 4);
    EXPECT_EQ(guess.terrestrial, true);
    EXPECT_EQ(guess.maxTp, 7);
    EXPECT_EQ(guess.maxTv, 20);
}

}  // namespace
}  // namespace velmora::test
