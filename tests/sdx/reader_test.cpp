#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "sdx/SdxReader.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

std::vector<const SdxRecord*> Records(const SdxListNode* head) {
    std::vector<const SdxRecord*> out;
    for (; head != nullptr && head->pRecord != nullptr; head = head->pNext) {
        out.push_back(head->pRecord);
    }
    return out;
}

// Walks to the end and checks that the list closes with exactly one empty node.
bool EndsWithEmptyNode(const SdxListNode* head) {
    while (head != nullptr && head->pRecord != nullptr) {
        head = head->pNext;
    }
    return head != nullptr && head->pRecord == nullptr && head->pNext == nullptr;
}

TEST(SdxNumbers, SignedBytesMinus48WithoutDigitTest) {
    const auto n = [](const char* text) {
        return SdxNumber(reinterpret_cast<const std::uint8_t*>(text),
                         static_cast<int>(std::strlen(text)));
    };
    EXPECT_EQ(n("011303"), 11303);
    EXPECT_EQ(n("     "), -16 * 11111);    // spaces count -16 per place
    EXPECT_EQ(n("1 "), 10 - 16);           // a blank in the units place
    EXPECT_EQ(n("\xC8"), 200 - 256 - 48);  // a byte of 128 or more counts v - 304
    EXPECT_EQ(n("____"), 47 * 1111);       // "no value" in a real list
}

TEST(SdxParse, EveryFieldFromItsPosition) {
    Rec f;
    f.sat = "Hot Bird 13E  ABCD";  // 18 characters
    f.type = 'R';
    f.freq = 12345;
    f.pol = '0';
    f.name = "ABCDEFGHijklmnopqrst";
    f.pos = 130;
    f.sr = 27500;
    f.vpid = 1001;
    f.apid = 1002;
    f.pcr = 1003;
    f.sid = 12001;
    f.nid = 318;
    f.tsid = 15700;
    f.ca = "VICS";
    const Bytes piece = ToBytes(Record(f));

    SdxRecord* raw = ParseSdxRecord(piece.data(), 0, 127);
    ASSERT_NE(raw, nullptr);
    std::unique_ptr<SdxRecord> r(raw);
    EXPECT_EQ(r->nSpan, 127);
    EXPECT_EQ(std::string(r->szSatName, 18), "Hot Bird 13E  ABCD");
    EXPECT_EQ(r->chServiceType, 'R');
    EXPECT_EQ(r->nFrequency, 12345);
    EXPECT_EQ(r->chPolarisation, '0');
    EXPECT_EQ(r->nOrbitalPosition, 130);
    EXPECT_EQ(r->nSymbolRate, 27500);
    EXPECT_EQ(r->nVideoPid, 1001);
    EXPECT_EQ(r->nAudioPid, 1002);
    EXPECT_EQ(r->nPcrPid, 1003);
    EXPECT_EQ(r->nServiceId, 12001);
    EXPECT_EQ(r->nNetworkId, 318);
    EXPECT_EQ(r->nTransportStreamId, 15700);
    EXPECT_EQ(std::string(r->szCaCode, 4), "VICS");
    EXPECT_EQ(r->nCaSystemId, 0x0500);
    // 8 characters from byte 43, 12 from byte 115, then zero bytes.
    EXPECT_EQ(std::string(r->szChannelName, 25), std::string("ABCDEFGHijklmnopqrst\0\0\0\0\0", 25));
    EXPECT_EQ(std::string(r->szNetworkName, 16), std::string("NET\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(r->nReserved1, 0);
    EXPECT_EQ(r->nReserved2, 0);
    EXPECT_EQ(std::string(r->acRaw29, 4), "MPG2");
}

TEST(SdxParse, ShortNameKeepsItsTrailingSpaces) {
    Rec f;
    f.name = "ORF1 HD";
    const Bytes piece = ToBytes(Record(f));
    std::unique_ptr<SdxRecord> r(ParseSdxRecord(piece.data(), 0, 127));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r->szChannelName, 20), "ORF1 HD             ");
    EXPECT_EQ(r->szChannelName[20], '\0');
}

TEST(SdxParse, AcceptanceRules) {
    Rec zero;
    zero.sr = 0;
    Bytes piece = ToBytes(Record(zero));
    EXPECT_EQ(ParseSdxRecord(piece.data(), 0, 127), nullptr) << "symbol rate 0 rejects";

    std::memset(&piece[69], ' ', 5);  // five blanks read as a negative rate, not 0
    std::unique_ptr<SdxRecord> blank(ParseSdxRecord(piece.data(), 0, 127));
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->nSymbolRate, -16 * 11111);

    piece = ToBytes(Record(Rec{}));
    std::memcpy(piece.data(), "XXXXXXXXXX", 10);  // signature is not looked at
    std::unique_ptr<SdxRecord> unsigned_(ParseSdxRecord(piece.data(), 0, 127));
    EXPECT_NE(unsigned_, nullptr);

    std::unique_ptr<SdxRecord> lacksLastByte(ParseSdxRecord(piece.data(), 0, 126));
    ASSERT_NE(lacksLastByte, nullptr);
    EXPECT_EQ(lacksLastByte->nSpan, 126);
    EXPECT_EQ(ParseSdxRecord(piece.data(), 0, 125), nullptr) << "126 bytes are too few";
}

TEST(SdxParse, CaCodeTableIsExactAndCaseSensitive) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"____", 0},      {"VGRD", 0x0900}, {"POVU", 0x0E00}, {"IRDT", 0x0600}, {"CRYW", 0x0D00},
        {"VICS", 0x0500}, {"MGRD", 0x0100}, {"CONX", 0x0B00}, {"NAGV", 1},      {"BISS", 1},
        {"vics", 1},      {"LCKD", 1},      {"    ", 1},      {"VIC_", 1}};
    for (const auto& [code, id] : cases) {
        EXPECT_EQ(CaSystemIdOf(code), id) << code;
    }
}

TEST(SdxRead, PiecesAndRejections) {
    NullProgressBar bar;
    // 3 whole records and a final piece of 127 bytes: 4 records.
    Bytes data = List({Rec{}, Rec{}, Rec{}, Rec{}});
    data.resize(3 * 128 + 127);
    SdxReadResult r = ReadSdxBuffer(data, bar);
    EXPECT_EQ(r.nCount, 4);
    EXPECT_EQ(Records(r.pHead).size(), 4U);
    EXPECT_TRUE(EndsWithEmptyNode(r.pHead));
    ReleaseSdxList(r.pHead);
    EXPECT_EQ(r.pHead, nullptr);

    // A final piece of 126 bytes is dropped.
    data.resize(3 * 128 + 126);
    r = ReadSdxBuffer(data, bar);
    EXPECT_EQ(r.nCount, 3);
    ReleaseSdxList(r.pHead);

    // A zero symbol rate in the middle: the others stay, in order.
    Rec a, b, c;
    a.sid = 1;
    b.sid = 2;
    b.sr = 0;
    c.sid = 3;
    r = ReadSdxBuffer(List({a, b, c}), bar);
    ASSERT_EQ(r.nCount, 2);
    const auto recs = Records(r.pHead);
    ASSERT_EQ(recs.size(), 2U);
    EXPECT_EQ(recs[0]->nServiceId, 1);
    EXPECT_EQ(recs[1]->nServiceId, 3);
    ReleaseSdxList(r.pHead);
}

TEST(SdxRead, EmptyFileGivesOnlyTheEmptyNodeAndProgress10Then20) {
    TempDir dir;
    WriteAll(dir / "empty.sdx", {});
    RecordingBar bar;
    SdxReadResult r = ReadSdxFile((dir / "empty.sdx").string(), bar);
    ASSERT_EQ(r.status, SdxReadStatus::Ok);
    EXPECT_EQ(r.nCount, 0);
    ASSERT_NE(r.pHead, nullptr);
    EXPECT_TRUE(EndsWithEmptyNode(r.pHead));
    EXPECT_EQ(r.pHead->pRecord, nullptr);
    EXPECT_EQ(bar.Positions(), (std::vector<int>{10, 20}));
    ReleaseSdxList(r.pHead);
}

TEST(SdxRead, FailuresAreReportedNotSwallowed) {
    TempDir dir;
    NullProgressBar bar;
    SdxReadResult missing = ReadSdxFile((dir / "missing.sdx").string(), bar);
    EXPECT_EQ(missing.status, SdxReadStatus::CannotOpen);
    EXPECT_FALSE(missing.error.empty());

    std::filesystem::create_directory(dir / "folder.sdx");
    EXPECT_EQ(ReadSdxFile((dir / "folder.sdx").string(), bar).status, SdxReadStatus::ReadError);

    // A pipe is no list. A writer is held so that a blocking open would not
    // hang the test but read the pipe as an empty list.
    const std::string pipe = (dir / "pipe.sdx").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int writer = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const SdxReadResult piped = ReadSdxFile(pipe, bar);
    ::close(writer);
    EXPECT_EQ(piped.status, SdxReadStatus::ReadError);
    EXPECT_NE(piped.error.find("not a regular file"), std::string::npos) << piped.error;

    const std::string list = (dir / "list.sdx").string();
    WriteAll(list, List({Rec{}, Rec{}, Rec{}}));
    SdxReadFaults buffer;
    buffer.failBuffer = true;
    SdxReadFaults node;
    node.failNodeAt = 2;  // after the head and one more node: records are in the list
    SdxReadFaults record;
    record.failRecordAt = 1;
    for (const SdxReadFaults* faults : {&buffer, &node, &record}) {
        SdxReadResult r = ReadSdxFile(list, bar, faults);
        EXPECT_EQ(r.status, SdxReadStatus::OutOfMemory);
        EXPECT_EQ(r.pHead, nullptr);  // what was built is released (ASan checks for leaks)
    }
    EXPECT_EQ(SdxOpenFailText("C:\\a.sdx"), "\n  (C:\\a.sdx )Open this file fail!\n");
}

TEST(SdxFormat, WarnsAboutListsThatAreNotPlain103Or105) {
    const Bytes plain = List({Rec{}, Rec{}});
    EXPECT_EQ(SdxFormatWarning("a.sdx", plain, plain.size()), "");

    Bytes v104 = plain;
    v104[9] = '4';
    const std::string w = SdxFormatWarning("a.sdx", v104, 133 * 10);
    EXPECT_NE(w.find("\"104\""), std::string::npos) << w;
    EXPECT_NE(w.find("multiple of 133"), std::string::npos) << w;
    EXPECT_EQ(w.find('\n'), std::string::npos) << "one line";
    // Version 105 is read right in either record length.
    Bytes v105 = plain;
    v105[9] = '5';
    EXPECT_EQ(SdxFormatWarning("a.sdx", v105, 133 * 10, kSdx105RecordSize), "");

    const Bytes json = ToBytes("{\"channels\": []}");
    EXPECT_NE(SdxFormatWarning("b.sdx", json, json.size()).find("does not begin with SATCODX"),
              std::string::npos);
    EXPECT_NE(SdxFormatWarning("c.sdx", {}, 0).find("empty"), std::string::npos);
    // 133 * 128 is a multiple of both: no size complaint.
    EXPECT_EQ(SdxFormatWarning("d.sdx", plain, 133 * 128), "");

    TempDir dir;
    WriteAll(dir / "e.sdx", v104);
    EXPECT_NE(SdxFormatWarningForFile((dir / "e.sdx").string()).find("\"104\""), std::string::npos);
    WriteAll(dir / "f.sdx", v105);
    EXPECT_EQ(SdxFormatWarningForFile((dir / "f.sdx").string()), "");
}

}  // namespace
}  // namespace velmora::test
