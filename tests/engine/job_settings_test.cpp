#include <gtest/gtest.h>

#include <string>

#include "tests/support/DefaultSettings.h"
#include "base/JobSettings.h"

namespace velmora {
namespace {

TEST(ParseHexOffset, ReadsTheOffsetFieldAsTheDialogHoldsIt) {
    EXPECT_EQ(ParseHexOffset("1b0000"), 0x1B0000U);
    EXPECT_EQ(ParseHexOffset("1B0000"), 0x1B0000U);
    EXPECT_EQ(ParseHexOffset("0x1b0000"), 0x1B0000U);  // the x counts as 0 and has no weight left
    EXPECT_EQ(ParseHexOffset(""), 0U);
    EXPECT_EQ(ParseHexOffset("g1"), 1U);
    EXPECT_EQ(ParseHexOffset("-10"), 0x010U);
    EXPECT_EQ(ParseHexOffset("FFFFFFFF"), 0xFFFFFFFFU);
    EXPECT_EQ(ParseHexOffset("1FFFFFFFF"), 0xFFFFFFFFU);  // ninth character from the end: no weight
}

TEST(ParseHexOffset, OnlyTheLastEightCharactersCountInTextsOfAnyLength) {
    const std::string longText = std::string(100000, '7') + "0012abcd";
    EXPECT_EQ(ParseHexOffset(longText), 0x0012ABCDU);
    EXPECT_EQ(ParseHexOffset(std::string(11, 'f')), 0xFFFFFFFFU);
    EXPECT_EQ(ParseHexOffset(std::string("\xff\x80") + "12"), 0x12U);  // high bytes are 0
}

TEST(ParseHexOffset, LastIndexSelectsTheEndOfTheText) {
    EXPECT_EQ(ParseHexOffset("1b0000", -1), 0U);
    EXPECT_EQ(ParseHexOffset("1b0000", 1), 0x1BU);
    EXPECT_EQ(ParseHexOffset("1b0000", 99), 0x1B0000U);  // past the end: the end
}

TEST(ConvertDialogValues, DefaultsGiveTheDefaultJob) {
    JobSettings s;
    LineParams line;
    ConvertDialogValues(DialogValues{}, s, line);
    EXPECT_EQ(line.nPort, 1);
    EXPECT_EQ(line.nBaudRate, 115200U);
    EXPECT_EQ(line.nDataBits, 8);
    EXPECT_EQ(line.nParity, kNoParity);
    EXPECT_EQ(line.nStopBits, kOneStopBit);
    test::ExpectDefaultJobSettings(s);
}

TEST(ConvertDialogValues, FollowsEachTextRuleExactly) {
    DialogValues v;
    v.strPort = "COM8";
    v.strBaudRate = "256000";
    v.strDataBits = "5";
    v.strParity = "EVEN";
    v.strStopBits = "1.5";
    v.strUpgradeType = "Db Import/Export";
    v.strModelNo = "LX3300AB";
    v.strProjectName = "DVB-S+T";
    v.strOffset = "20";
    JobSettings s;
    LineParams line;
    ConvertDialogValues(v, s, line);
    EXPECT_EQ(line.nPort, 8);
    EXPECT_EQ(line.nBaudRate, 256000U);
    EXPECT_EQ(line.nDataBits, 5);
    EXPECT_EQ(line.nParity, kEvenParity);
    EXPECT_EQ(line.nStopBits, kOne5StopBits);
    EXPECT_EQ(s.nUpgradeType, UpgradeType::DbImportExport);
    EXPECT_EQ(s.bPackedModel, 1);
    EXPECT_EQ(s.bTerrestrial, 1);
    EXPECT_EQ(s.nOffset, 0x20U);

    v.strParity = "ODD";
    v.strStopBits = "2";
    v.strPort = "COMX";  // a non-digit gives port 0, which the port then tries
    v.strModelNo = "lx3300ab";
    v.strProjectName = "dvb-s+t";
    ConvertDialogValues(v, s, line);
    EXPECT_EQ(line.nParity, kOddParity);
    EXPECT_EQ(line.nStopBits, kTwoStopBits);
    EXPECT_EQ(line.nPort, 0);
    EXPECT_EQ(s.bPackedModel, 0);  // comparisons are case-sensitive
    EXPECT_EQ(s.bTerrestrial, 0);
}

TEST(ConvertDialogValues, LeavesThePathAndTheConversionResultsAlone) {
    JobSettings s;
    s.strFilePath = "/some/file.bin";
    s.bConverted = 1;
    s.szImageName[0] = 'x';
    LineParams line;
    ConvertDialogValues(DialogValues{}, s, line);
    EXPECT_EQ(s.strFilePath, "/some/file.bin");
    EXPECT_EQ(s.bConverted, 1);
    EXPECT_EQ(s.szImageName[0], 'x');
}

TEST(UpgradeTypeFromText, AnythingButTheThreeExactTextsIsCustom) {
    EXPECT_EQ(UpgradeTypeFromText("Code"), UpgradeType::Code);
    EXPECT_EQ(UpgradeTypeFromText("Database"), UpgradeType::Database);
    EXPECT_EQ(UpgradeTypeFromText("Db Import/Export"), UpgradeType::DbImportExport);
    EXPECT_EQ(UpgradeTypeFromText("Custom"), UpgradeType::Custom);
    EXPECT_EQ(UpgradeTypeFromText("code"), UpgradeType::Custom);
    EXPECT_EQ(UpgradeTypeFromText("Database "), UpgradeType::Custom);
    EXPECT_EQ(UpgradeTypeFromText(""), UpgradeType::Custom);
}

TEST(DecimalValue, ReadsLeadingDigitsLikeTheCRuntime) {
    EXPECT_EQ(DecimalValue("115200"), 115200);
    EXPECT_EQ(DecimalValue("1.5"), 1);
    EXPECT_EQ(DecimalValue("-7"), -7);
    EXPECT_EQ(DecimalValue("abc"), 0);
    EXPECT_EQ(DecimalValue(" 42x"), 42);
}

}  // namespace
}  // namespace velmora
