// Small text helpers for what the engine, the views and the command line
// write: JSON strings, hex words, grouped digits and plural forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// A string as a JSON string literal, quotes included. Well-formed UTF-8 is
// kept; a byte that is not UTF-8 (a file name in a legacy code page) becomes
// U+FFFD, one per byte, so that the text stays valid JSON.
std::string JsonString(std::string_view utf8);

// A 32-bit word as technicians read it: "0x001B0000".
std::string HexWord(std::uint32_t value);

// A count as reports show it: 65536 as "65,536".
std::string GroupedDigits(std::uint64_t value);

// The word for `count` things: `one` for 1, `many` for any other count.
const char* Plural(std::uint64_t count, const char* one, const char* many);

}  // namespace velmora
