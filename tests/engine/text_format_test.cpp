// The text helpers every output shares: JSON text, hex words, grouped
// digits and plural forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "base/Json.h"
#include "base/TextFormat.h"

namespace velmora {
namespace {

TEST(TextFormat, JsonTextIsValidJsonWhateverTheBytes) {
    // What a reader parses back out of a written text.
    const auto roundTrip = [](const std::string& text) {
        return Json::parse(JsonLine(Json(text))).get<std::string>();
    };
    EXPECT_EQ(roundTrip("q\"b\\s\n\r\t\x01\x7F"), "q\"b\\s\n\r\t\x01\x7F");
    // UTF-8 of two, three and four bytes is kept as it is.
    const std::string utf8 = "caf\xC3\xA9 \xD0\xBA \xE2\x82\xAC \xF0\x9F\x93\xA1";
    EXPECT_EQ(roundTrip(utf8), utf8);
    EXPECT_EQ(JsonLine(Json(utf8)), "\"" + utf8 + "\"");
    // Each byte that is not UTF-8 becomes U+FFFD: a Latin-1 letter, a cut
    // sequence, an overlong '/', a surrogate, a lone continuation byte.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(roundTrip("caf\xE9"), "caf" + r);
    EXPECT_EQ(roundTrip("\xE2\x82 \xC0\xAF"), r + r + " " + r + r);
    EXPECT_EQ(roundTrip("\xED\xA0\x80\x80"), r + r + r + r);
    EXPECT_EQ(roundTrip(""), "");
    // Also inside objects and arrays, keys in the order they were added; the
    // replacement is written as its escape.
    EXPECT_EQ(JsonLine(Json{{"z", Json::array({"\xE9"})}, {"a", 1}}),
              "{\"z\":[\"\\ufffd\"],\"a\":1}");
}

TEST(TextFormat, NumbersAndCountsReadAsTechniciansWriteThem) {
    EXPECT_EQ(HexWord(0x1B0000), "0x001B0000");
    EXPECT_EQ(HexWord(0xFFFFFFFFU), "0xFFFFFFFF");
    EXPECT_EQ(GroupedDigits(0), "0");
    EXPECT_EQ(GroupedDigits(999), "999");
    EXPECT_EQ(GroupedDigits(65536), "65,536");
    EXPECT_EQ(GroupedDigits(4294967295U), "4,294,967,295");
    EXPECT_EQ(GroupedDigits(UINT64_MAX), "18,446,744,073,709,551,615");
    EXPECT_STREQ(Plural(0, "radio channel", "radio channels"), "radio channels");
    EXPECT_STREQ(Plural(1, "radio channel", "radio channels"), "radio channel");
    EXPECT_STREQ(Plural(2, "radio channel", "radio channels"), "radio channels");
}

}  // namespace
}  // namespace velmora
