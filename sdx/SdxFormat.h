// What a SATCODX list looks like from outside, before its records are read:
// the length of its records as its first line feed tells, the signature that
// opens every record, and the signs that a file is no plain SATCODX list,
// with the words that say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr std::int64_t kSdxRecordSize = 128;
// A piece is parsed when at least this many bytes are present (byte 127, the
// record's line feed, is never read).
inline constexpr std::int64_t kSdxMinimumSpan = 126;
// Version-105 records: 132 characters and a line feed. A piece needs all 132
// characters.
inline constexpr std::int64_t kSdx105RecordSize = 133;
inline constexpr std::int64_t kSdx105MinimumSpan = 131;

// How a list's records are laid out, as its first line feed tells.
struct SdxLayout {
    std::int64_t recordLength = kSdxRecordSize;  // 128 or 133: the length the list is read with
    bool known = true;           // false: the first line is neither 128 nor 133 bytes (read as 128)
    std::int64_t firstLine = 0;  // bytes of the first line, its line feed included; 0: none
    bool crlf = false;           // the first line ends in CR LF
};

// The layout of a list: a line feed at index 132 gives 133-byte records; one
// at index 127, or none at all, 128-byte records; one anywhere else an
// unknown layout.
SdxLayout SdxLayoutOf(std::span<const std::uint8_t> list);

// The same for a list on disk, read up to its first line feed; a file that
// cannot be read gives the 128-byte layout (its reading fails elsewhere).
SdxLayout SdxLayoutOfFile(const std::string& path);

// Why a list of an unknown layout is not converted, with the line length it
// has and the two the reader knows; empty for a known layout.
std::string SdxLayoutFact(std::string_view displayName, const SdxLayout& layout);

// What to do about it.
inline constexpr const char* kSdxLayoutAdvice =
    "Save or export the list again with lines that end in a single line feed (LF), then try "
    "again.";

// The signature that opens every record of a SATCODX list.
inline constexpr std::string_view kSdxSignature = "SATCODX";

// True when `head` (a file's first bytes) begins with the SATCODX signature.
bool BeginsWithSdxSignature(std::span<const std::uint8_t> head);

// The same for a file on disk; false when it cannot be read.
bool FileBeginsWithSdxSignature(const std::string& path);

// A one-line warning when a file does not look like a plain SATCODX "103"
// or "105" list (version bytes 7-9 neither, a size that is a multiple of 133
// but not of 128 read as 128-byte records, no SATCODX signature, or an empty
// file); empty when it does. The text is a sentence of its own, without a
// "Warning" label. `head` holds at least the file's first 10 bytes (fewer
// only when the file is shorter); `recordLength` is the one the list is read
// with. The conversion itself is the same either way.
std::string SdxFormatWarning(std::string_view displayName, std::span<const std::uint8_t> head,
                             std::uint64_t fileSize, std::int64_t recordLength = kSdxRecordSize);

// The same check for a file on disk; the warning names an unreadable file.
std::string SdxFormatWarningForFile(const std::string& path);

}  // namespace velmora
