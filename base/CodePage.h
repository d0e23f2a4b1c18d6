// Text in the receiver's code page, Windows-1252, and in UTF-8: the one
// table of that code page and the one UTF-8 decoder of the program. Channel
// lists come in either; the receiver shows code page 1252, and what the
// program prints is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The length of the well-formed UTF-8 sequence of 2 to 4 bytes at text[at],
// with its code point; 0 when none starts there (ASCII, a stray or cut byte,
// an over-long form, a surrogate, a value past U+10FFFF).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// The character a code page 1252 byte stands for; U+FFFD for the five bytes
// the code page leaves undefined (81, 8D, 8F, 90, 9D).
char32_t Cp1252CodePoint(std::uint8_t byte);

// The code page 1252 byte of a character from U+0080 up; 0 when the code
// page lacks it (U+0080..U+009F among them).
std::uint8_t Cp1252ByteOf(char32_t codePoint);

// Code page 1252 bytes as UTF-8 text; undefined bytes become U+FFFD.
std::string Cp1252ToUtf8(std::string_view bytes);

// A stored name for display: trailing zero bytes and spaces removed, control
// characters replaced by U+FFFD, the rest converted from code page 1252.
std::string DisplayName(std::string_view stored);

// What became of names mapped from UTF-8: the names that held UTF-8
// characters, and the characters code page 1252 lacks, written as '?'. Only
// what lands in the stored name is counted.
struct NameTally {
    std::int64_t namesConverted = 0;
    std::int64_t charactersReplaced = 0;
};

// Writes `utf8` as code page 1252 into out[0..width), padded with spaces:
// each valid UTF-8 sequence of 2 to 4 bytes becomes its code page 1252 byte,
// or '?' where the code page lacks the character (U+0080..U+009F included);
// every other byte (ASCII, NUL, a byte of a broken or cut sequence) is kept.
void Utf8NameToCp1252(std::string_view utf8, char* out, std::size_t width, NameTally& tally);

}  // namespace velmora
