// Which files are channel lists, and in which format: a SATCODX list by its
// name (".sdx"), an Enigma2 or VDR list by its content, whatever its name.
// The upgrade worker converts every channel list before sending.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/JobEvents.h"

namespace velmora {

// True when the path ends in ".sdx", letters in either case.
bool IsSdxFileName(std::string_view path);

// What a file's content shows it to be.
struct ListKind {
    ListFormat format = ListFormat::Satcodx;
    int version = 0;  // Enigma2: the N of "eDVB services /N/"
};

// The Enigma2 versions the reader knows.
bool IsKnownEnigma2Version(int version);

// An Enigma2 list (its first line is "eDVB services /N/") or a VDR list (its
// name ends in ".conf" and its first line that is neither a comment nor a
// group line has 13 colon-separated fields), told by `head`, the first bytes
// of the file at `path`; nothing for any other file.
std::optional<ListKind> ListKindOfContent(std::string_view head, std::string_view path);

// The same for a file on disk; nothing when it cannot be read.
std::optional<ListKind> ListKindOfFile(const std::string& path);

// True when a job converts the file before sending it: a ".sdx" name, or an
// Enigma2 or VDR list.
bool IsChannelList(const std::string& path);

// For a file named ".conf" that is not taken for a VDR list: why not, in
// words that complete "... is not a VDR channel list: "; empty otherwise.
std::string VdrListMismatch(const std::string& path);

// "Enigma2 list, version 4", "VDR channel list", "SATCODX list".
std::string ListFormatText(ListFormat format, int version);

}  // namespace velmora
