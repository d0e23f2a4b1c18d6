// Small text helpers for what the engine, the views and the command line
// write: UTF-8 that is sure to be valid, small letters, hex words, grouped
// digits and plural forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The text with each byte that is not part of well-formed UTF-8 (a file name
// in a legacy code page) replaced by U+FFFD, one per byte. Well-formed text
// comes back unchanged.
std::string ValidUtf8(std::string_view text);

// The text with the letters A to Z made small; other bytes stay as they are.
std::string AsciiLower(std::string_view text);

// A 32-bit word as technicians read it: "0x001B0000".
std::string HexWord(std::uint32_t value);

// A count as reports show it: 65536 as "65,536".
std::string GroupedDigits(std::uint64_t value);

// A transfer rate: "11.2 kB/s", "640 B/s".
std::string RateText(double bytesPerSecond);

// A time as a clock shows it, to the second: "0:53", "1:02:07".
std::string DurationText(double seconds);

// The word for `count` things: `one` for 1, `many` for any other count.
const char* Plural(std::uint64_t count, const char* one, const char* many);

}  // namespace velmora
