// The text helpers every output shares: JSON strings, hex words, grouped
// digits and plural forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/TextFormat.h"

namespace velmora {
namespace {

TEST(TextFormat, JsonStringsAreValidJsonWhateverTheBytes) {
    EXPECT_EQ(JsonString("q\"b\\s\n\r\t\x01\x7F"), "\"q\\\"b\\\\s\\n\\r\\t\\u0001\\u007f\"");
    // UTF-8 of two, three and four bytes is kept as it is.
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xD0\xBA \xE2\x82\xAC \xF0\x9F\x93\xA1"),
              "\"caf\xC3\xA9 \xD0\xBA \xE2\x82\xAC \xF0\x9F\x93\xA1\"");
    // Each byte that is not UTF-8 becomes U+FFFD: a Latin-1 letter, a cut
    // sequence, an overlong '/', a surrogate, a lone continuation byte.
    EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\ufffd\"");
    EXPECT_EQ(JsonString("\xE2\x82 \xC0\xAF"), "\"\\ufffd\\ufffd \\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString(""), "\"\"");
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
