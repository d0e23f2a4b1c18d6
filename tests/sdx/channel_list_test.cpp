// Enigma2 and VDR channel lists: each gives the image that a SATCODX list of
// the same channels gives; the choice of satellites, bouquets and free
// services changes only which services go in, and in which order.
#include <gtest/gtest.h>

#include <cstring>

#include "sdx/ChannelList.h"
#include "sdx/ConversionChain.h"
#include "sdx/ListFormat.h"
#include "tests/sdx/SdxTestSupport.h"

namespace velmora::test {
namespace {

// An Enigma2 list, written in any of its versions.
struct E2Transponder {
    std::string key;       // "namespace:tsid:onid"
    std::string delivery;  // "s 11494000:22000000:1:2:192:2:0"
};
struct E2Service {
    std::string key;  // "sid:namespace:tsid:onid:type:number"
    std::string name;
    std::string data;  // "c:0013ed,...,p:provider"
};

std::string Lamedb(int version, const std::vector<E2Transponder>& tps,
                   const std::vector<E2Service>& services, const std::string& junk = {}) {
    std::string out = "eDVB services /" + std::to_string(version) + "/\n";
    if (version >= 5) {
        for (const E2Transponder& tp : tps) {
            out += "t:" + tp.key + "," + tp.delivery.substr(0, 1) + ":" + tp.delivery.substr(2) + "\n";
        }
        for (const E2Service& s : services) {
            out += "s:" + s.key + ":0,\"" + s.name + "\"" + (s.data.empty() ? "" : "," + s.data) +
                   "\n";
        }
        return out + junk;
    }
    out += "transponders\n";
    for (const E2Transponder& tp : tps) {
        out += tp.key + "\n\t" + tp.delivery + "\n/\n";
    }
    out += "end\nservices\n" + junk;
    for (const E2Service& s : services) {
        out += s.key + "\n" + s.name + "\n" + s.data + "\n";
    }
    return out + "end\nHave a lot of bugs!\n";
}

const std::vector<E2Transponder> kTransponders = {
    {"00c00000:0441:0001", "s 11493500:22000000:1:2:192:2:0:1:2:0:2"},  // 11494 MHz, V
    {"00820000:2af8:013e", "s 10719499:27499500:0:4:130:0:0"},          // 10719, 27500, H
    {"0dde0000:0001:0002", "s 11100000:30000000:2:3:-300:0:0"},         // 30.0W, L
    {"0dde0000:0002:0002", "s 11200000:30000000:3:3:-300:0:0"},         // 30.0W, R
    {"ffff0000:0003:0002", "c 346000:6900000:0:3:0"},
    {"eeee0000:0004:0002", "t 474000000:0:5:5:3:1:4:4:2:0:0:0"},
};

const std::vector<E2Service> kServices = {
    {"283d:00c00000:0441:0001:25:0", "Das Erste HD", "p:ARD,c:0013ed,c:0113ee,c:0313ed,c:0413f2"},
    {"283e:00c00000:0441:0001:2:0", "Radio \xC2\x86" "Eins\xC2\x87", "c:0413f2,C:0b01,p:RBB"},
    {"0001:00820000:2af8:013e:1:0", "\xC4\x86" "evap\xC4\x8D" "i\xC4\x87i TV \xE2\x80\x93 Z\xC3\xBCrich Stra\xC3\x9F" "e",
     "C:0000,C:0000,f:1"},
    {"0002:00820000:2af8:013e:22:0", "Sky", "c:000200,C:0000,C:0964,C:0100"},
    {"0003:0dde0000:0001:0002:17:0", "West A", "c:000100,c:010101,C:0004"},
    {"0004:0dde0000:0002:0002:31:0", "West B", "c:000300,c:010301,C:1802"},
    {"0005:ffff0000:0003:0002:1:0", "Cable", "c:000400"},
    {"0006:eeee0000:0004:0002:1:0", "Terrestrial", "c:000500"},
    {"0007:00c00000:0441:0001:134:0", "Data", ""},
    {"0008:12340000:0009:0009:1:0", "Nowhere", "c:000600"},
    {"283d:00c00000:0441:0001:25:0", "Das Erste HD again", "c:000700"},
    {"0009:00c00000:0441:0001:10:0", "Radio Zwei", "c:010900"},
};

// A channel as a SATCODX list holds it, its names in code page 1252.
Rec Channel(std::string sat, char type, int freq, char pol, int pos, int sr, int v, int a, int pcr,
            int sid, int nid, int tsid, std::string ca, std::string name) {
    return Rec{std::move(sat), type, freq, pol, std::move(name), pos, sr,
               v,              a,    pcr,  sid, nid,             tsid, std::move(ca)};
}

// The channels of kServices that a SATCODX list of them holds.
std::vector<Rec> SatcodxOfServices() {
    const auto rec = Channel;
    return {
        rec("19.2E", 'T', 11494, '0', 192, 22000, 5101, 5102, 5101, 0x283d, 1, 0x441, "____",
            "Das Erste HD"),
        rec("19.2E", 'R', 11494, '0', 192, 22000, 8191, 5106, 5106, 0x283e, 1, 0x441, "CONX",
            "Radio Eins"),
        rec("13.0E", 'T', 10719, '1', 130, 27500, 8191, 8191, 8191, 1, 0x13e, 0x2af8, "NAGV",
            "?evap?i?i TV \x96 Z\xFCric"),
        rec("13.0E", 'T', 10719, '1', 130, 27500, 0x200, 8191, 0x200, 2, 0x13e, 0x2af8, "VGRD",
            "Sky"),
        rec("30.0W", 'T', 11100, '1', 3300, 30000, 0x100, 0x101, 0x100, 3, 2, 1, "NAGV", "West A"),
        rec("30.0W", 'T', 11200, '0', 3300, 30000, 0x300, 0x301, 0x300, 4, 2, 2, "NAGV", "West B"),
        rec("19.2E", 'R', 11494, '0', 192, 22000, 8191, 0x900, 0x900, 9, 1, 0x441, "____",
            "Radio Zwei"),
    };
}

struct Converted {
    ChainResult result;
    Bytes image;
};

Converted Convert(const std::filesystem::path& list, const ListChoice& choice = {}) {
    TempDir work;
    JobSettings s = DefaultSettings(list.string(), work.Path().string());
    s.nMaxRadio = 4;
    s.listChoice = choice;
    RecordingBar bar;
    RecordingMessages messages;
    Converted out;
    out.result = RunConversionChain(s, bar, messages, {});
    if (out.result.status == ChainStatus::Continue) {
        out.image = ReadAll(out.result.imagePath);
    }
    return out;
}

Converted ConvertText(const TempDir& dir, const char* name, const std::string& text,
                      const ListChoice& choice = {}) {
    WriteAll(dir / name, ToBytes(text));
    return Convert(dir / name, choice);
}

// The names of the records a list gives with `choice`, in the order they go in.
std::vector<std::string> ChosenNames(const std::filesystem::path& list, const ListChoice& choice) {
    NullProgressBar bar;
    ChannelListRead read = ReadChannelList(list.string(), choice, bar);
    SdxListGuard guard(read.records.pHead);
    std::vector<std::string> names;
    for (const SdxListNode* n = guard.Head(); n != nullptr && n->pRecord; n = n->pNext) {
        std::string name(n->pRecord->szChannelName, 20);
        names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
    }
    return names;
}

TEST(Enigma2List, EachVersionGivesTheImageOfTheSameChannelsAsASatcodxList) {
    TempDir dir;
    const Bytes same = List(SatcodxOfServices());
    const Converted sdx = ConvertText(dir, "same.sdx", std::string(same.begin(), same.end()));
    ASSERT_EQ(sdx.result.status, ChainStatus::Continue) << sdx.result.message;
    for (const int version : {3, 4, 5}) {
        SCOPED_TRACE(version);
        const Converted e2 = ConvertText(dir, "lamedb", Lamedb(version, kTransponders, kServices,
                                                               "not:a:service\n"));
        ASSERT_EQ(e2.result.status, ChainStatus::Continue) << e2.result.message;
        EXPECT_EQ(e2.image, sdx.image);
    }
    // What the report of the version 4 list says of its services.
    const Converted v4 = ConvertText(dir, "lamedb", Lamedb(4, kTransponders, kServices,
                                                           "not:a:service\n"));
    const ConversionReport& r = v4.result.report;
    EXPECT_EQ(r.list.format, ListFormat::Enigma2);
    EXPECT_EQ(r.list.version, 4);
    const ServiceTally& t = r.list.services;
    EXPECT_EQ(t.read, 13);
    EXPECT_EQ(t.converted, 7);
    EXPECT_EQ(r.records, 7);
    EXPECT_EQ(t.withoutPids, 1);
    EXPECT_EQ(t.notSatellite, 2);
    EXPECT_EQ(t.serviceType, 1);
    EXPECT_EQ(t.noTransponder, 1);
    EXPECT_EQ(t.duplicate, 1);
    EXPECT_EQ(t.unreadable, 1);
    ASSERT_EQ(r.list.unreadableLines.size(), 1U);
    EXPECT_EQ(r.list.unreadableLines[0].line, 23);
    EXPECT_EQ(r.charactersReplaced, 3);  // Ć, č, ć
}

TEST(VdrList, ChannelsGiveTheImageOfTheSameChannelsAsASatcodxList) {
    const std::string conf =
        "# a comment\n:Group one\n"
        "Das Erste HD;ARD:11494:HC23M5O35P0S1:S19.2E:22000:5101=27:5102=deu@3,5103=mis@3;"
        "5106=deu@106:5104;5105=deu:0:10301:1:1019:0\n"
        "Radio|Eins,RE;rbb:12265000:h:S13E:27500:0:0;1406=deu@106:0:4:28487:1:1093:0\n"
        "Sky Cinema;Sky:11914:VC34M2S0:S30W:27500:255+8190=2:259=deu:0:1702,1833:10:133:4:0\n"
        "Sat West:11100:RC34M2S0:S0.8W:30000:300:301:0:0,0B00:20:1:5:0\n"
        "Kabel:346:M64:C:6900:100:101:0:0:30:1:6:0\n"
        "Data:11494:H:S19.2E:22000:0:0:0:0:40:1:1019:0\n"
        "broken:line\n"
        "Left:11300:L:S19.2E:22000:400:401:0:0:41:1:1019:0\n";
    const auto rec = Channel;
    const std::vector<Rec> same = {
        rec("19.2E", 'T', 11494, '1', 192, 22000, 5101, 5102, 5101, 10301, 1, 1019, "____",
            "Das Erste HD"),
        rec("13.0E", 'R', 12265, '1', 130, 27500, 0, 1406, 1406, 28487, 1, 1093, "NAGV",
            "Radio:Eins"),
        rec("30.0W", 'T', 11914, '0', 3300, 27500, 255, 259, 8190, 10, 133, 4, "NAGV",
            "Sky Cinema"),
        rec("0.8W", 'T', 11100, '0', 3592, 30000, 300, 301, 300, 20, 1, 5, "CONX", "Sat West"),
        rec("19.2E", 'T', 11300, '1', 192, 22000, 400, 401, 400, 41, 1, 1019, "____", "Left"),
    };
    TempDir dir;
    const Converted vdr = ConvertText(dir, "channels.conf", conf);
    ASSERT_EQ(vdr.result.status, ChainStatus::Continue) << vdr.result.message;
    const Bytes list = List(same);
    const Converted sdx = ConvertText(dir, "same.sdx", std::string(list.begin(), list.end()));
    EXPECT_EQ(vdr.image, sdx.image);
    const ServiceTally& t = vdr.result.report.list.services;
    EXPECT_EQ(vdr.result.report.list.format, ListFormat::Vdr);
    EXPECT_EQ(t.read, 8);
    EXPECT_EQ(t.converted, 5);
    EXPECT_EQ(t.notSatellite, 1);
    EXPECT_EQ(t.serviceType, 1);
    EXPECT_EQ(t.unreadable, 1);
    EXPECT_EQ(vdr.result.report.list.unreadableLines.at(0).line, 9);
}

TEST(ChannelLists, ChoicesChangeOnlyWhichServicesGoInAndTheirOrder) {
    TempDir dir;
    WriteAll(dir / "lamedb", ToBytes(Lamedb(4, kTransponders, kServices)));
    EXPECT_EQ(ChosenNames(dir / "lamedb", {}),
              (std::vector<std::string>{"Das Erste HD", "Radio Eins", "?evap?i?i TV \x96 Z\xFCric",
                                        "Sky", "West A", "West B", "Radio Zwei"}));
    ListChoice satellites;
    satellites.positions = {192, 3300};
    EXPECT_EQ(ChosenNames(dir / "lamedb", satellites),
              (std::vector<std::string>{"Das Erste HD", "Radio Eins", "West A", "West B",
                                        "Radio Zwei"}));
    ListChoice free;
    free.freeOnly = true;
    EXPECT_EQ(ChosenNames(dir / "lamedb", free),
              (std::vector<std::string>{"Das Erste HD", "Radio Zwei"}));
    // Bouquets: their order; a service named twice goes in once; markers,
    // other bouquets and services the list does not hold are no services.
    WriteAll(dir / "userbouquet.a.tv",
             ToBytes("#NAME A\n#SERVICE 1:0:A:9:441:1:C00000:0:0:0:\n"
                     "#SERVICE 1:64:0:0:0:0:0:0:0:0:\n#DESCRIPTION Marker\n"
                     "#SERVICE 1:0:19:283D:441:1:C00000:0:0:0:\n"
                     "#SERVICE 1:7:1:0:0:0:0:0:0:0:FROM BOUQUET \"userbouquet.b.tv\"\n"
                     "#SERVICE 1:0:1:1:2AF8:13E:820000:0:0:0:\n"
                     "#SERVICE 1:0:1:77:1:1:C00000:0:0:0:\n"));
    WriteAll(dir / "userbouquet.b.tv",
             ToBytes("#SERVICE 1:0:19:283D:441:1:C00000:0:0:0:\n"
                     "#SERVICE 1:0:16:2:2AF8:13E:820000:0:0:0:\n"));
    ListChoice bouquets;
    bouquets.bouquets = {(dir / "userbouquet.a.tv").string(), (dir / "userbouquet.b.tv").string()};
    EXPECT_EQ(ChosenNames(dir / "lamedb", bouquets),
              (std::vector<std::string>{"Radio Zwei", "Das Erste HD", "?evap?i?i TV \x96 Z\xFCric",
                                        "Sky"}));
    bouquets.freeOnly = true;
    EXPECT_EQ(ChosenNames(dir / "lamedb", bouquets),
              (std::vector<std::string>{"Radio Zwei", "Das Erste HD"}));
    const Converted both = Convert(dir / "lamedb", bouquets);
    EXPECT_EQ(both.result.report.list.services.outsideChoice, 5);
    EXPECT_EQ(both.result.report.list.bouquetEntriesMissing, 1);

    // A chosen service's record is the one it gives without a choice.
    NullProgressBar bar;
    ChannelListRead all = ReadChannelList((dir / "lamedb").string(), {}, bar);
    ChannelListRead some = ReadChannelList((dir / "lamedb").string(), satellites, bar);
    SdxListGuard allGuard(all.records.pHead);
    SdxListGuard someGuard(some.records.pHead);
    const SdxRecord* west = allGuard.Head()->pNext->pNext->pNext->pNext->pRecord;
    const SdxRecord* chosenWest = someGuard.Head()->pNext->pNext->pRecord;
    EXPECT_EQ(std::memcmp(west, chosenWest, sizeof(SdxRecord)), 0);
}

TEST(ChannelLists, SatelliteNamesComeFromTheSatellitesXmlBesideTheListOrTheOneNamed) {
    TempDir dir;
    WriteAll(dir / "lamedb", ToBytes(Lamedb(4, kTransponders, kServices)));
    WriteAll(dir / "satellites.xml",
             ToBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<satellites>\n"
                     "\t<sat name=\"19.2E Astra 1KR/1L/1M/1N\" flags=\"1\" position=\"192\">\n"
                     "\t\t<transponder frequency=\"10714000\" />\n\t</sat>\n"
                     "\t<sat name=\"Hot Bird 13B/13C/13E (13.0E)\" position=\"130\"/>\n"
                     "\t<sat name=\"Hot Bird again\" position=\"130\"/>\n"
                     "<!-- <sat name=\"Commented\" position=\"-300\"/> -->\n"
                     "\t<sat position='-300' name='30.0\xC2\xB0W Intelsat &amp; T\xC3\xBCrk'/>\n"
                     "</satellites>\n"));
    auto satellites = [](const std::filesystem::path& list, const ListChoice& choice) {
        NullProgressBar bar;
        ChannelListRead read = ReadChannelList(list.string(), choice, bar);
        SdxListGuard guard(read.records.pHead);
        std::vector<std::string> names;
        for (const SdxListNode* n = guard.Head(); n != nullptr && n->pRecord; n = n->pNext) {
            const std::string name(n->pRecord->szSatName, 18);
            if (names.empty() || names.back() != name) {
                names.push_back(name);
            }
        }
        return names;
    };
    EXPECT_EQ(satellites(dir / "lamedb", {}),
              (std::vector<std::string>{"19.2E Astra 1KR/1L", "13.0E Hot Bird 13B",
                                        "30.0W Intelsat & T", "19.2E Astra 1KR/1L"}));
    WriteAll(dir / "other.xml", ToBytes("<satellites><sat name=\"Astra\" position=\"192\"/>"
                                        "<sat name=\"T\xC3\xBCrksat\" position=\"3300\"/>"
                                        "</satellites>"));
    ListChoice named;
    named.satellitesXml = (dir / "other.xml").string();
    auto padded = [](std::string name) {
        name.resize(18, ' ');
        return name;
    };
    EXPECT_EQ(satellites(dir / "lamedb", named),
              (std::vector<std::string>{padded("19.2E Astra"), padded("13.0E"),
                                        padded("30.0W T\xFCrksat"), padded("19.2E Astra")}));
}

TEST(ChannelLists, RecognisedByTheirContentWhateverTheirName) {
    TempDir dir;
    const auto kind = [&dir](const char* name, const std::string& text) {
        WriteAll(dir / name, ToBytes(text));
        return ListKindOfFile((dir / name).string());
    };
    EXPECT_EQ(kind("lamedb", "eDVB services /4/\ntransponders\n")->version, 4);
    EXPECT_EQ(kind("settings.bin", "\xEF\xBB\xBF" "eDVB services /5/\r\n")->version, 5);
    EXPECT_EQ(kind("future", "eDVB services /6/\n")->format, ListFormat::Enigma2);
    EXPECT_FALSE(kind("odd", "eDVB services /x/\n"));
    const std::string channel = "A:11494:H:S19.2E:22000:1:2:0:0:3:1:1019:0\n";
    EXPECT_EQ(kind("channels.conf", "# VDR\n:Group\n\n" + channel)->format, ListFormat::Vdr);
    EXPECT_EQ(kind("CHANNELS.CONF", channel)->format, ListFormat::Vdr);
    EXPECT_FALSE(kind("channels.txt", channel)) << "a VDR list is named .conf";
    EXPECT_FALSE(kind("other.conf", "a:b:c\n"));
    EXPECT_EQ(VdrListMismatch((dir / "other.conf").string()),
              "its first channel line has 3 colon-separated fields, where VDR writes 13");
    EXPECT_TRUE(IsChannelList((dir / "lamedb").string()));
    EXPECT_TRUE(IsChannelList((dir / "not-there.sdx").string())) << "a .sdx name is enough";
    EXPECT_FALSE(IsChannelList((dir / "channels.txt").string()));
}

TEST(ChannelLists, AListWithNothingToConvertIsRefusedWithItsReasonAndNothingWritten) {
    TempDir dir;
    WriteAll(dir / "lamedb", ToBytes(Lamedb(4, kTransponders, kServices)));
    WriteAll(dir / "list.sdx", List(SatcodxOfServices()));
    WriteAll(dir / "channels.conf", ToBytes("A:11494:H:S19.2E:22000:1:2:0:0:3:1:1019:0\n"));
    WriteAll(dir / "future", ToBytes(Lamedb(6, kTransponders, kServices)));
    const auto refusal = [](const std::filesystem::path& list, const ListChoice& choice) {
        const Converted c = Convert(list, choice);
        EXPECT_EQ(c.result.status, ChainStatus::Refused) << list;
        EXPECT_TRUE(c.image.empty());
        return c.result.message;
    };
    ListChoice elsewhere;
    elsewhere.positions = {282};
    EXPECT_EQ(refusal(dir / "lamedb", elsewhere),
              (dir / "lamedb").string() +
                  " has no service that can be converted: of its 12 services, 1 listed twice (the "
                  "first entry goes in), 2 not on a satellite (cable or terrestrial), 1 on a "
                  "transponder the list does not hold or cannot read, 1 neither TV nor radio, 7 "
                  "outside the choice of satellites, bouquets or free services. Check the list, "
                  "or choose other satellites or bouquets, then try again.");
    ListChoice bouquet;
    bouquet.bouquets = {(dir / "lamedb").string()};
    EXPECT_NE(refusal(dir / "channels.conf", bouquet).find("is a VDR channel list"),
              std::string::npos);
    EXPECT_NE(refusal(dir / "lamedb", bouquet).find("names no service"), std::string::npos);
    EXPECT_NE(refusal(dir / "list.sdx", elsewhere).find("converted whole, as SATCODX lists are"),
              std::string::npos);
    EXPECT_NE(refusal(dir / "future", {}).find("version 6, but this tool reads versions 3, 4"),
              std::string::npos);
    ListChoice any;
    any.anyVersion = true;
    EXPECT_EQ(Convert(dir / "future", any).result.status, ChainStatus::Continue);
}

}  // namespace
}  // namespace velmora::test
