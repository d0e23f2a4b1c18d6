#include "sdx/ListFormat.h"

#include <algorithm>
#include <cctype>

#include "base/InputFile.h"
#include "sdx/ListedService.h"

namespace velmora {

namespace {

// Enough of a file to see its first channel line past a long comment header.
constexpr std::size_t kHeadBytes = 64U * 1024U;
constexpr std::string_view kEnigma2Header = "eDVB services /";
constexpr std::size_t kVdrFields = 13;

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(),
                      text.end() - static_cast<std::ptrdiff_t>(tail.size()), [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// The first line of `text` (without a UTF-8 byte order mark), and the rest.
std::string_view FirstLine(std::string_view text, std::string_view* rest = nullptr) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    const std::size_t feed = text.find('\n');
    if (rest != nullptr) {
        *rest = feed == std::string_view::npos ? std::string_view() : text.substr(feed + 1);
    }
    return text.substr(0, feed);
}

// The N of "eDVB services /N/", or nothing.
std::optional<int> Enigma2Version(std::string_view head) {
    const std::string_view line = Trimmed(FirstLine(head));
    if (line.size() <= kEnigma2Header.size() + 1 ||
        line.substr(0, kEnigma2Header.size()) != kEnigma2Header || line.back() != '/') {
        return std::nullopt;
    }
    const std::string_view digits =
        line.substr(kEnigma2Header.size(), line.size() - kEnigma2Header.size() - 1);
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoi(std::string(digits));
}

// The fields of the first channel line of a VDR list (neither blank, nor a
// comment, nor a group line); 0 when there is none in `head`.
std::size_t FirstChannelFields(std::string_view head) {
    std::string_view rest = head;
    while (!rest.empty()) {
        const std::string_view line = Trimmed(FirstLine(rest, &rest));
        if (line.empty() || line.front() == '#' || line.front() == ':') {
            continue;
        }
        return static_cast<std::size_t>(std::count(line.begin(), line.end(), ':')) + 1;
    }
    return 0;
}

std::string ReadHead(const std::string& path, bool& ok) {
    InputFile file;
    ok = file.Open(path);
    if (!ok) {
        return {};
    }
    std::string head(kHeadBytes, '\0');
    head.resize(file.Read(reinterpret_cast<std::uint8_t*>(head.data()), head.size()));
    return head;
}

}  // namespace

bool IsSdxFileName(std::string_view path) {
    if (path.size() < 4) {
        return false;
    }
    const std::string_view tail = path.substr(path.size() - 4);
    auto is = [](char c, char lower) { return c == lower || c == lower - ('a' - 'A'); };
    return tail[0] == '.' && is(tail[1], 's') && is(tail[2], 'd') && is(tail[3], 'x');
}

bool IsKnownEnigma2Version(int version) {
    return version >= 3 && version <= 5;
}

std::optional<ListKind> ListKindOfContent(std::string_view head, std::string_view path) {
    if (const std::optional<int> version = Enigma2Version(head)) {
        return ListKind{ListFormat::Enigma2, *version};
    }
    if (EndsWithNoCase(path, ".conf") && FirstChannelFields(head) == kVdrFields) {
        return ListKind{ListFormat::Vdr, 0};
    }
    return std::nullopt;
}

std::optional<ListKind> ListKindOfFile(const std::string& path) {
    bool ok = false;
    const std::string head = ReadHead(path, ok);
    return ok ? ListKindOfContent(head, path) : std::nullopt;
}

bool IsChannelList(const std::string& path) {
    return IsSdxFileName(path) || ListKindOfFile(path).has_value();
}

std::string VdrListMismatch(const std::string& path) {
    if (!EndsWithNoCase(path, ".conf") || ListKindOfFile(path)) {
        return {};
    }
    bool ok = false;
    const std::size_t fields = FirstChannelFields(ReadHead(path, ok));
    if (!ok) {
        return {};
    }
    if (fields == 0) {
        return "it holds no channel line";
    }
    return "its first channel line has " + std::to_string(fields) +
           " colon-separated fields, where VDR writes 13";
}

std::string ListFormatText(ListFormat format, int version) {
    switch (format) {
        case ListFormat::Enigma2:
            return "Enigma2 list, version " + std::to_string(version);
        case ListFormat::Vdr:
            return "VDR channel list";
        case ListFormat::Satcodx:
            break;
    }
    return "SATCODX list";
}

}  // namespace velmora
