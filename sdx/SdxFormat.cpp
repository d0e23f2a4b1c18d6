#include "sdx/SdxFormat.h"

#include <algorithm>

#include "base/InputFile.h"

namespace velmora {

namespace {

// The layout of a list whose first line feed is at index `at`.
SdxLayout LayoutOfFirstFeed(std::int64_t at, bool afterCarriageReturn) {
    SdxLayout layout;
    layout.firstLine = at + 1;
    layout.crlf = afterCarriageReturn;
    if (at == kSdx105RecordSize - 1) {
        layout.recordLength = kSdx105RecordSize;
    } else if (at != kSdxRecordSize - 1) {
        layout.known = false;
    }
    return layout;
}

}  // namespace

SdxLayout SdxLayoutOf(std::span<const std::uint8_t> list) {
    const auto feed = std::find(list.begin(), list.end(), std::uint8_t{'\n'});
    if (feed == list.end()) {
        return {};  // one record, or a list without line ends: 128-byte records
    }
    const auto at = static_cast<std::size_t>(feed - list.begin());
    return LayoutOfFirstFeed(static_cast<std::int64_t>(at), at > 0 && list[at - 1] == '\r');
}

SdxLayout SdxLayoutOfFile(const std::string& path) {
    InputFile file;
    if (!file.Open(path)) {
        return {};
    }
    // Read on until the first line feed; a SATCODX list shows it in the
    // first chunk already.
    std::uint8_t chunk[4096];
    std::int64_t offset = 0;
    std::uint8_t previous = 0;
    for (std::size_t got = 0; (got = file.Read(chunk, sizeof chunk)) != 0;) {
        const std::uint8_t* feed = std::find(chunk, chunk + got, std::uint8_t{'\n'});
        if (feed != chunk + got) {
            const std::uint8_t before = feed == chunk ? previous : feed[-1];
            return LayoutOfFirstFeed(offset + (feed - chunk), before == '\r');
        }
        offset += static_cast<std::int64_t>(got);
        previous = chunk[got - 1];
    }
    return {};
}

std::string SdxLayoutFact(std::string_view displayName, const SdxLayout& layout) {
    if (layout.known) {
        return {};
    }
    return std::string(displayName) + " cannot be read as a SATCODX channel list: its first line " +
           "is " + std::to_string(layout.firstLine) +
           " bytes long with its line feed, but this tool reads lines of 128 bytes (version 103) "
           "or 133 bytes (version 105)." +
           (layout.crlf ? " Its lines end in CR LF, as Windows editors save them." : "");
}

bool BeginsWithSdxSignature(std::span<const std::uint8_t> head) {
    return head.size() >= kSdxSignature.size() &&
           std::equal(kSdxSignature.begin(), kSdxSignature.end(), head.begin(),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

bool FileBeginsWithSdxSignature(const std::string& path) {
    InputFile file;
    if (!file.Open(path)) {
        return false;
    }
    std::uint8_t head[kSdxSignature.size()] = {};
    const std::size_t got = file.Read(head, sizeof head);
    return BeginsWithSdxSignature(std::span<const std::uint8_t>(head, got));
}

std::string SdxFormatWarning(std::string_view displayName, std::span<const std::uint8_t> head,
                             std::uint64_t fileSize, std::int64_t recordLength) {
    std::string reasons;
    auto add = [&reasons](const std::string& reason) {
        reasons += reasons.empty() ? "" : "; ";
        reasons += reason;
    };
    if (fileSize == 0) {
        add("the file is empty");
    } else {
        if (!BeginsWithSdxSignature(head)) {
            add("it does not begin with SATCODX");
        }
        if (head.size() < 10) {
            add("it is too short to hold a version field");
        } else if (!(head[7] == '1' && head[8] == '0' && (head[9] == '3' || head[9] == '5'))) {
            std::string version;
            for (std::size_t i = 7; i < 10; ++i) {
                const auto c = static_cast<char>(head[i]);
                version += (head[i] >= 0x20 && head[i] < 0x7F) ? c : '?';
            }
            add("its version field is \"" + version + "\", not \"103\" or \"105\"");
        }
        if (recordLength == kSdxRecordSize && fileSize % 128 != 0 && fileSize % 133 == 0) {
            add("its size of " + std::to_string(fileSize) +
                " bytes is a multiple of 133 (version 105 records), not of 128");
        }
    }
    if (reasons.empty()) {
        return {};
    }
    return std::string(displayName) +
           " does not look like a plain SATCODX 103 or 105 channel list (" + reasons +
           "); it is converted as " + std::to_string(recordLength) +
           "-byte records, which may give wrong or no channels.";
}

std::string SdxFormatWarningForFile(const std::string& path) {
    InputFile file;
    if (!file.Open(path)) {
        return "Cannot read " + path + " to check its format: " + file.Error() + ".";
    }
    std::uint8_t head[10] = {};
    const std::size_t got = file.Read(head, sizeof head);
    return SdxFormatWarning(path, std::span<const std::uint8_t>(head, got), file.Length(),
                            SdxLayoutOfFile(path).recordLength);
}

}  // namespace velmora
