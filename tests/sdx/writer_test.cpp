#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "sdx/DatabaseImage.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

// The image of a list, built in memory.
Bytes ImageOf(const std::vector<Rec>& recs, const ImageLimits& limits = {},
              IProgressBar* bar = nullptr) {
    NullProgressBar quiet;
    const Bytes list = List(recs);
    SdxReadResult r = ReadSdxBuffer(list, quiet);
    SdxListGuard guard(r.pHead);
    BuildChannelDatabase(r.pHead, r.nCount, limits.nMaxSat, quiet);
    MemoryImageSink sink;
    EXPECT_TRUE(
        EmitDatabaseImage(GlobalChannelDatabase(), limits, sink, bar != nullptr ? *bar : quiet));
    return sink.bytes;
}

Bytes Slice(const Bytes& b, std::int64_t at, std::int64_t n) {
    return Bytes(b.begin() + at, b.begin() + at + n);
}

bool AllZero(const Bytes& b, std::int64_t from, std::int64_t to) {
    return std::all_of(b.begin() + from, b.begin() + to, [](std::uint8_t x) { return x == 0; });
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Text(const std::string& s, std::size_t width) {
    Bytes b(width, 0);
    std::copy_n(s.begin(), std::min(width, s.size()), b.begin());
    return b;
}

TEST(SdxImageLayout, SectionOffsets) {
    ImageLayout l = LayoutOf(ImageLimits{});
    EXPECT_EQ(l.satelliteOffset, 8);
    EXPECT_EQ(l.transponderOffset, 904);
    EXPECT_EQ(l.tvOffset, 16264);
    EXPECT_EQ(l.radioOffset, 47264);
    EXPECT_EQ(l.fillOffset, 47326);
    EXPECT_EQ(l.fillLength, 18209);

    ImageLimits t;
    t.bTerrestrial = true;
    l = LayoutOf(t);
    EXPECT_EQ(l.tvOffset - l.transponderOffset, 16384);
    EXPECT_EQ(l.tvOffset, 17288);
    EXPECT_EQ(l.radioOffset, 48288);
    EXPECT_EQ(l.fillOffset, 48350);
    EXPECT_EQ(l.fillLength, 17185);

    // Negative limits count as 0; a small database size gives no fill.
    ImageLimits odd;
    odd.nMaxSat = -1;
    odd.nMaxTp = -2;
    odd.nMaxTv = -3;
    odd.nMaxRadio = -4;
    odd.nDbSize = 4;
    l = LayoutOf(odd);
    EXPECT_EQ(l.fillOffset, 8);
    EXPECT_EQ(l.totalLength, 8);
}

TEST(SdxImage, EmptyDatabaseIsHeaderAndZeros) {
    for (const bool terrestrial : {false, true}) {
        ImageLimits limits;
        limits.bTerrestrial = terrestrial;
        const Bytes image = ImageOf({}, limits);
        ASSERT_EQ(image.size(), 65535U) << terrestrial;
        EXPECT_EQ(Slice(image, 0, 8), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
        EXPECT_TRUE(AllZero(image, 8, 65535)) << "only byte 4 is non-zero";
    }
}

TEST(SdxImage, SatelliteRecords) {
    Rec c;
    c.sat = "Intelsat 907 ABCD";  // 17 characters: only the first 16 are written
    c.freq = 3800;
    c.pos = 3325;
    Rec ku;
    ku.sat = "Astra";
    ku.pos = 1800;
    Rec w1801 = ku;
    w1801.sat = "West1801";
    w1801.pos = 1801;
    Rec w3600 = ku;
    w3600.sat = "Full3600";
    w3600.pos = 3600;
    const Bytes image = ImageOf({c, ku, w1801, w3600});

    // C band, west: 01 10 00 00, LNB 5150 twice, name, 3600 - 3325 = 275.
    EXPECT_EQ(Slice(image, 8, 28), Concat({{0x01, 0x10, 0, 0, 0x1E, 0x14, 0x1E, 0x14},
                                           Text("Intelsat 907 ABC", 16),
                                           {0x13, 0x01, 0, 0}}));
    // Ku band at exactly 180.0 E: no flag, 10600 and 9750, position 1800.
    EXPECT_EQ(Slice(image, 36, 28),
              Concat({{0x41, 0x00, 0, 0, 0x68, 0x29, 0x16, 0x26},
                      ToBytes("Astra           "),  // the list's blanks, as read
                      {0x08, 0x07, 0, 0}}));
    EXPECT_EQ(Slice(image, 64 + 24, 4), (Bytes{0x07, 0x07, 0, 0}));  // 1801 -> 1799
    EXPECT_EQ(image[64 + 1], 0x10);
    EXPECT_EQ(Slice(image, 92 + 24, 4), (Bytes{0, 0, 0, 0}));  // 3600 -> 0, west
    EXPECT_EQ(image[92 + 1], 0x10);
    EXPECT_TRUE(AllZero(image, 120, 904)) << "zero records complete the section";
}

TEST(SdxImage, TransponderRecords) {
    Rec r;
    r.freq = 70000;  // above 65535: cut in the 30-byte record, whole in the 32-byte one
    r.sr = 27500;
    r.pol = '0';
    Rec second;
    second.freq = 11000;
    second.pol = '1';

    ImageLimits plain;
    const Bytes a = ImageOf({r, second}, plain);
    EXPECT_EQ(Slice(a, 904, 30),
              Concat({Text("NET", 16),
                      {0x70, 0x11, 0x6C, 0x6B, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 1, 1, 0}}));
    EXPECT_EQ(Slice(a, 934 + 16, 14),
              (Bytes{0xF8, 0x2A, 0xF0, 0x55, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0}));

    ImageLimits terrestrial;
    terrestrial.bTerrestrial = true;
    const Bytes b = ImageOf({r, second}, terrestrial);
    EXPECT_EQ(Slice(b, 904, 32),
              Concat({Text("NET", 16),
                      {0x70, 0x11, 0x01, 0x00, 0x6C, 0x6B, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0}}));
    EXPECT_EQ(b.size(), 65535U);
}

TEST(SdxImage, TransponderSectionSkipsFrequencyZeroAndCapsAtMaxTp) {
    Rec zero;
    zero.freq = 0;
    zero.name = "On freq 0";
    Rec t1;
    t1.freq = 11000;
    Rec t2;
    t2.freq = 11100;
    Rec t3;
    t3.freq = 11200;
    ImageLimits limits;
    limits.nMaxTp = 2;
    limits.nMaxTv = 4;
    const Bytes image = ImageOf({zero, t1, t2, t3}, limits);
    const ImageLayout l = LayoutOf(limits);
    // The zero-frequency transponder takes no place: 11000 and 11100 fill the section.
    EXPECT_EQ(Slice(image, l.transponderOffset + 16, 2), (Bytes{0xF8, 0x2A}));
    EXPECT_EQ(Slice(image, l.transponderOffset + 30 + 16, 2), (Bytes{0x5C, 0x2B}));
    // ...its channel still gets a record, naming transponder number 0.
    EXPECT_EQ(Slice(image, l.tvOffset, 9), ToBytes("On freq 0"));
    EXPECT_EQ(Slice(image, l.tvOffset + 26, 2), (Bytes{0, 0}));

    limits.nMaxTp = 2;
    const Bytes one = ImageOf({t1}, limits);
    EXPECT_EQ(one[static_cast<std::size_t>(l.transponderOffset + 27)], 1);
    EXPECT_TRUE(AllZero(one, l.transponderOffset + 30, l.tvOffset)) << "one zero record";
}

TEST(SdxImage, ChannelRecords) {
    Rec tv;
    tv.name = "Channel Twenty Chars";
    tv.vpid = 0x0102;
    tv.apid = 0x0304;
    tv.pcr = 0x0506;
    tv.sid = 0x0708;
    tv.nid = 0x090A;
    tv.tsid = 0x0B0C;
    tv.ca = "VGRD";
    Rec radio = tv;
    radio.type = 'R';
    Rec data = tv;
    data.type = 'D';
    Rec fta = tv;
    fta.type = 'R';
    fta.ca = "____";
    ImageLimits limits;
    limits.nMaxRadio = 2;
    const Bytes image = ImageOf({data, tv, radio, fta}, limits);
    const ImageLayout l = LayoutOf(limits);

    const Bytes common = Concat(
        {Text("Channel Twenty Chars", 25),
         {0x01, 0x00, 0x00, 0x08, 0x07, 0x0C, 0x0B, 0x0A, 0x09, 0x02, 0x01, 0x00, 0x00, 0x04, 0x03},
         Bytes(6, 0),
         {0xFF, 0x1F},
         Bytes(6, 0),
         {0x06, 0x05}});
    // TV: the CA id in bytes 58-59; the data channel reaches no section.
    EXPECT_EQ(Slice(image, l.tvOffset, 62), Concat({common, {0x01, 0x00, 0x00, 0x09, 0, 0}}));
    EXPECT_TRUE(AllZero(image, l.tvOffset + 62, l.radioOffset));
    // Radio: the scrambled flag but no CA id; then the free channel.
    EXPECT_EQ(Slice(image, l.radioOffset, 62), Concat({common, {0x01, 0x00, 0x00, 0x00, 0, 0}}));
    EXPECT_EQ(Slice(image, l.radioOffset + 62 + 56, 4), (Bytes{0, 0, 0, 0}));
}

TEST(SdxImage, ChannelSectionsCapAndWalkOrder) {
    // 600 TV channels on 12 transponders of 50, and two radio channels.
    std::vector<Rec> recs;
    for (int i = 0; i < 600; ++i) {
        Rec r;
        r.freq = 11000 + i / 50;
        r.sid = i;
        recs.push_back(r);
    }
    Rec radio1;
    radio1.type = 'R';
    radio1.sid = 7001;
    Rec radio2 = radio1;
    radio2.sid = 7002;
    recs.insert(recs.begin() + 10, radio1);
    recs.push_back(radio2);
    const Bytes image = ImageOf(recs);
    const ImageLayout l = LayoutOf(ImageLimits{});
    ASSERT_EQ(image.size(), 65535U);
    // The first 500 in walk order fill the TV section, the radio section
    // follows at once with the first radio channel only.
    const auto sidAt = [&](std::int64_t record) {
        const std::int64_t at = l.tvOffset + record * 62 + 28;
        return image[static_cast<std::size_t>(at)] | image[static_cast<std::size_t>(at + 1)] << 8;
    };
    EXPECT_EQ(sidAt(0), 0);
    EXPECT_EQ(sidAt(499), 499);
    EXPECT_EQ(Slice(image, l.radioOffset + 28, 2), (Bytes{0x59, 0x1B}));  // 7001

    // 499 TV channels: one zero record closes the section.
    recs.erase(recs.begin() + 10);  // radio1
    recs.resize(499);
    const Bytes fewer = ImageOf(recs);
    EXPECT_TRUE(AllZero(fewer, l.tvOffset + 499 * 62, l.radioOffset));
    EXPECT_TRUE(AllZero(fewer, l.radioOffset, l.fillOffset)) << "no radio: a zero record";
}

TEST(SdxImage, SmallDatabaseSizeAndProgress) {
    ImageLimits limits;
    limits.nDbSize = 100;
    RecordingBar bar;
    const Bytes image = ImageOf({Rec{}}, limits, &bar);
    EXPECT_EQ(static_cast<std::int64_t>(image.size()), LayoutOf(limits).fillOffset);
    EXPECT_EQ(bar.Positions(), (std::vector<int>{80, 85, 90}));
}

TEST(SdxImageFile, WritesDb1InTheWorkFolderAndReleasesTheList) {
    TempDir dir;
    JobSettings s = DefaultSettings("", dir.Path().string());
    NullProgressBar bar;
    const Bytes list = List({Rec{}});
    SdxReadResult r = ReadSdxBuffer(list, bar);
    BuildChannelDatabase(r.pHead, r.nCount, s.nMaxSat, bar);
    std::string error;
    ASSERT_TRUE(WriteDatabaseImage(bar, s, r.pHead, error)) << error;
    EXPECT_EQ(r.pHead, nullptr);
    EXPECT_EQ(s.bConverted, 1);
    EXPECT_EQ(ReadAll(dir / "db1.bin"), ImageOf({Rec{}}));
}

TEST(SdxImageFile, CreateAndWriteFailuresAreReported) {
    TempDir dir;
    NullProgressBar bar;
    const Bytes list = List({Rec{}});

    JobSettings missing = DefaultSettings("", (dir / "no-such-folder").string());
    SdxReadResult r = ReadSdxBuffer(list, bar);
    BuildChannelDatabase(r.pHead, r.nCount, missing.nMaxSat, bar);
    std::string error;
    EXPECT_FALSE(WriteDatabaseImage(bar, missing, r.pHead, error));
    EXPECT_EQ(r.pHead, nullptr) << "the list is released on failure too";
    EXPECT_EQ(missing.bConverted, 0);
    EXPECT_NE(error.find("no-such-folder/db1.bin"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    // A full disk: db1.bin leads to /dev/full, where every write fails.
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available on this system";
    }
    std::filesystem::create_symlink("/dev/full", dir / "db1.bin");
    JobSettings full = DefaultSettings("", dir.Path().string());
    r = ReadSdxBuffer(list, bar);
    BuildChannelDatabase(r.pHead, r.nCount, full.nMaxSat, bar);
    error.clear();
    EXPECT_FALSE(WriteDatabaseImage(bar, full, r.pHead, error));
    EXPECT_EQ(full.bConverted, 0);
    EXPECT_NE(error.find("Cannot write"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

TEST(SdxImage, SecondConversionKeepsNothingOfTheFirst) {
    std::vector<Rec> big(30);
    for (int i = 0; i < 30; ++i) {
        big[static_cast<std::size_t>(i)].sat = "Sat" + std::to_string(i);
    }
    const Bytes first = ImageOf(big);
    Rec only;
    only.sat = "Other";
    const Bytes second = ImageOf({only});
    EXPECT_EQ(first.size(), second.size());
    EXPECT_EQ(second, ImageOf({only})) << "the same list gives the same image";
    const ImageLayout l = LayoutOf(ImageLimits{});
    EXPECT_TRUE(AllZero(second, 8 + 28, l.transponderOffset));
    EXPECT_TRUE(AllZero(second, l.transponderOffset + 30, l.tvOffset));
    EXPECT_TRUE(AllZero(second, l.tvOffset + 62, l.radioOffset));
}

}  // namespace
}  // namespace velmora::test
