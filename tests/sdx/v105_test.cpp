// Version-105 lists (UTF-8 names, 128- or 133-byte records) and lists whose
// line length the reader does not know.
#include <gtest/gtest.h>

#include "sdx/ConversionChain.h"
#include "sdx/DatabaseImage.h"
#include "sdx/ImageDecode.h"
#include "sdx/SdxReader.h"
#include "tests/sdx/SdxTestSupport.h"
#include "transfer/JobChecks.h"

namespace velmora::test {
namespace {

// One channel with its names as a version-103 list holds them (code page
// 1252) and as a version-105 list does (UTF-8).
struct Named {
    std::string sat1252, satUtf8;
    std::string name1252, nameUtf8;
};

// A version-105 record of `f` with the UTF-8 names: 133 bytes (name in bytes
// 43-50 and 115-131) or 128 bytes (43-50 and 115-126, version bytes "105").
std::string Record105(Rec f, const Named& n, bool long133) {
    f.sat.clear();
    f.name.clear();
    std::string r = Record(f);
    PutText(r, 7, 3, "105");
    PutText(r, 10, 18, n.satUtf8);
    PutText(r, 43, 8, n.nameUtf8.substr(0, 8));
    const std::string rest = n.nameUtf8.size() > 8 ? n.nameUtf8.substr(8) : std::string();
    if (!long133) {
        PutText(r, 115, 12, rest);
        return r;
    }
    r.resize(133);
    PutText(r, 115, 17, rest);
    r[132] = '\n';
    return r;
}

// Each channel on a transponder of its own, so that every name reaches the image.
std::vector<Rec> Channels(const std::vector<Named>& names) {
    std::vector<Rec> recs;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Rec r;
        r.freq = 11000 + static_cast<int>(i);
        r.sid = 100 + static_cast<int>(i);
        r.sat = names[i].sat1252;
        r.name = names[i].name1252;
        recs.push_back(r);
    }
    return recs;
}

struct Converted {
    Bytes image;
    ChainResult result;
};

Converted ConvertList(const Bytes& list) {
    TempDir dir;
    WriteAll(dir / "list.sdx", list);
    JobSettings s = DefaultSettings((dir / "list.sdx").string(), dir.Path().string());
    RecordingBar bar;
    RecordingMessages messages;
    Converted out;
    out.result = RunConversionChain(s, bar, messages, {});
    EXPECT_EQ(out.result.status, ChainStatus::Continue) << out.result.message;
    out.image = ReadAll(out.result.imagePath);
    EXPECT_EQ(bar.Positions().at(1), 20);
    return out;
}

TEST(SdxVersion105, ListsGiveTheImageTheirChannelsGiveAsAVersion103List) {
    const std::string nul(1, '\0');
    // Names of 25 bytes (133-byte records); cp1252 names up to 20 bytes.
    const std::vector<Named> long133 = {
        {"Astra 1 (19.2E)", "Astra 1 (19.2E)", "WDR HD K\xF6ln", "WDR HD K\xC3\xB6ln"},
        // é across the two name fields (bytes 50 and 115); € and Š from 0x80..0x9F.
        {"T\xFCrksat 42\xB0\x45", "T\xC3\xBCrksat 42\xC2\xB0\x45", "ABCDEFG\xE9 \x80 \x8A",
         "ABCDEFG\xC3\xA9 \xE2\x82\xAC \xC5\xA0"},
        // Greek, a C1 control (U+0085), an emoji: '?' each.
        {"Sat ?", "Sat \xCE\xB1", "???? x? y?",
         "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC x\xC2\x85 y\xF0\x9F\x98\x80"},
        // A NUL in the name; a name cut inside its last character (C3 kept).
        {"Astra 1 (19.2E)", "Astra 1 (19.2E)", "AB" + nul + "CD", "AB" + nul + "CD"},
        {"Astra 1 (19.2E)", "Astra 1 (19.2E)",
         "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xC4\xD6\xDC\xE4\xF6\xC3",
         "\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4"
         "\xC3\xB6\xC3"},
    };
    std::string list105;
    for (std::size_t i = 0; i < long133.size(); ++i) {
        list105 += Record105(Channels(long133)[i], long133[i], true);
    }
    list105 += nul + std::string(200, ' ');  // the closing NUL and padding
    const Converted v103 = ConvertList(List(Channels(long133)));
    const Converted v105 = ConvertList(ToBytes(list105));
    EXPECT_EQ(v105.image, v103.image);
    const ImageLayout layout = LayoutOf(ImageLimitsOf(DefaultSettings("", "")));
    EXPECT_EQ(
        Bytes(v105.image.begin() + layout.tvOffset, v105.image.begin() + layout.tvOffset + 25),
        ToBytes(std::string("WDR HD K\xF6ln         ") + std::string(5, '\0')));
    DecodedImage decoded;  // as inspect shows it
    std::string error;
    ASSERT_TRUE(
        DecodeDatabaseImage(v105.image, ImageLimitsOf(DefaultSettings("", "")), decoded, error));
    EXPECT_EQ(DisplayName(decoded.tv[0].name), "WDR HD K\xC3\xB6ln");
    EXPECT_EQ(DisplayName(decoded.satellites[1].name), "T\xC3\xBCrksat 42\xC2\xB0\x45");
    const ConversionReport& r = v105.result.report;
    EXPECT_EQ(r.version, "105");
    EXPECT_EQ(r.recordLength, 133);
    EXPECT_EQ(r.records, 5) << "the padding is no record";
    EXPECT_EQ(r.dropped.Total(), 0);
    EXPECT_EQ(r.namesConverted, 6);      // 4 channel names and 2 satellite names
    EXPECT_EQ(r.charactersReplaced, 7);  // Greek 4 + 1, U+0085, the emoji
    EXPECT_EQ(v103.result.report.version, "103");
    EXPECT_EQ(v103.result.report.namesConverted, 0);

    // Version 105 in 128-byte records: the names' first 20 bytes.
    const std::vector<Named> short128 = {
        {"Astra 1 (19.2E)", "Astra 1 (19.2E)", "WDR HD K\xF6ln", "WDR HD K\xC3\xB6ln"},
        {"T\xFCrksat 42\xB0\x45", "T\xC3\xBCrksat 42\xC2\xB0\x45",
         "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xC4\xD6\xC3",
         "\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xC3\x96\xC3"},
    };
    std::string list128;
    for (std::size_t i = 0; i < short128.size(); ++i) {
        list128 += Record105(Channels(short128)[i], short128[i], false);
    }
    const Converted v105short = ConvertList(ToBytes(list128));
    EXPECT_EQ(v105short.image, ConvertList(List(Channels(short128))).image);
    EXPECT_EQ(v105short.result.report.recordLength, 128);
    EXPECT_EQ(v105short.result.report.namesConverted, 3);
}

TEST(SdxVersion105, AListOfAnotherLineLengthIsRefusedUnlessForced) {
    const Bytes plain = List({Rec{}, Rec{}});
    const auto layout = [](const std::string& text) { return SdxLayoutOf(ToBytes(text)); };
    EXPECT_EQ(SdxLayoutOf(plain).recordLength, 128);
    EXPECT_TRUE(layout("SATCODX103 without any line feed").known);
    EXPECT_EQ(layout(std::string(132, 'x') + "\n").recordLength, 133);

    std::string crlf;
    for (const Rec& r : {Rec{}, Rec{}}) {
        crlf += Record(r).substr(0, 127) + "\r\n";
    }
    const SdxLayout windows = layout(crlf);
    EXPECT_FALSE(windows.known);
    EXPECT_EQ(windows.firstLine, 129);
    EXPECT_EQ(SdxLayoutFact("a.sdx", windows),
              "a.sdx cannot be read as a SATCODX channel list: its first line is 129 bytes long "
              "with its line feed, but this tool reads lines of 128 bytes (version 103) or 133 "
              "bytes (version 105). Its lines end in CR LF, as Windows editors save them.");
    EXPECT_FALSE(layout("SATCODX\nsome text").known);
    EXPECT_EQ(SdxLayoutFact("", layout(std::string(130, ' ') + "\n")).find("CR LF"),
              std::string::npos);

    TempDir dir;
    WriteAll(dir / "crlf.sdx", ToBytes(crlf));
    const std::vector<JobCheck> checks =
        CheckConversionJob(DefaultSettings((dir / "crlf.sdx").string(), dir.Path().string()));
    ASSERT_EQ(checks.size(), 1U);
    EXPECT_EQ(checks[0].problem, JobProblem::ListLineLength);
    EXPECT_TRUE(checks[0].Forceable());
    EXPECT_FALSE(CheckListLineLength((dir / "none.sdx").string()));

    // Forced, it is read as 128-byte records, as before: the second record
    // starts one byte late.
    NullProgressBar bar;
    SdxReadResult read = ReadSdxBuffer(ToBytes(crlf), bar);
    SdxListGuard guard(read.pHead);
    EXPECT_EQ(read.nPieces, 3);
}

}  // namespace
}  // namespace velmora::test
