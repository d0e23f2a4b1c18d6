#include "sdx/SdxReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "job/InputFile.h"

namespace velmora {

namespace {

// Field positions inside a record.
constexpr std::int64_t kSatNameAt = 10;
constexpr std::int64_t kServiceTypeAt = 28;
constexpr std::int64_t kFrequencyAt = 33;
constexpr std::int64_t kPolarisationAt = 42;
constexpr std::int64_t kNameStartAt = 43;
constexpr std::int64_t kOrbitalPositionAt = 51;
constexpr std::int64_t kSymbolRateAt = 69;
constexpr std::int64_t kVideoPidAt = 75;
constexpr std::int64_t kAudioPidAt = 79;
constexpr std::int64_t kPcrPidAt = 83;
constexpr std::int64_t kServiceIdAt = 87;
constexpr std::int64_t kNetworkIdAt = 92;
constexpr std::int64_t kTransportStreamIdAt = 97;
constexpr std::int64_t kCaCodeAt = 111;
constexpr std::int64_t kNameEndAt = 115;

struct CaCode {
    char code[4];
    std::int32_t id;
};

// Codes with an id of their own (the first values of the DVB CA_system_ID
// ranges). Every other code, the known ones such as NAGV or BISS included,
// stands for "scrambled, system not told apart" and gets 1.
constexpr CaCode kCaCodes[] = {
    {{'_', '_', '_', '_'}, 0x0000}, {{'V', 'G', 'R', 'D'}, 0x0900}, {{'P', 'O', 'V', 'U'}, 0x0E00},
    {{'I', 'R', 'D', 'T'}, 0x0600}, {{'C', 'R', 'Y', 'W'}, 0x0D00}, {{'V', 'I', 'C', 'S'}, 0x0500},
    {{'M', 'G', 'R', 'D'}, 0x0100}, {{'C', 'O', 'N', 'X'}, 0x0B00},
};

template <std::size_t N>
void CopyField(char (&out)[N], const std::uint8_t* piece, std::int64_t at) {
    std::memcpy(out, piece + at, N);
}

// Decides whether one allocation of the reader is made to fail (tests only).
class FaultPlan {
public:
    explicit FaultPlan(const SdxReadFaults* faults) : m_faults(faults) {}
    bool FailBuffer() const { return m_faults != nullptr && m_faults->failBuffer; }
    bool FailNode() {
        const std::int64_t index = m_nodes++;
        return m_faults != nullptr && m_faults->failNodeAt == index;
    }
    bool FailRecord(std::int64_t piece) const {
        return m_faults != nullptr && m_faults->failRecordAt == piece;
    }

private:
    const SdxReadFaults* m_faults;
    std::int64_t m_nodes = 0;
};

SdxListNode* NewNode(FaultPlan& plan) {
    if (plan.FailNode()) {
        return nullptr;
    }
    return new (std::nothrow) SdxListNode{nullptr, nullptr};
}

}  // namespace

void ReleaseSdxList(SdxListNode*& pHead) noexcept {
    SdxListNode* node = pHead;
    while (node != nullptr) {
        SdxListNode* next = node->pNext;
        delete node->pRecord;
        delete node;
        node = next;
    }
    pHead = nullptr;
}

std::int32_t SdxNumber(const std::uint8_t* field, int width) {
    std::int32_t value = 0;
    for (int k = 0; k < width; ++k) {
        // The byte as a signed 8-bit number: a byte of 128 or more counts v - 256.
        const auto signedByte = static_cast<std::int8_t>(field[k]);
        value = value * 10 + (static_cast<std::int32_t>(signedByte) - 48);
    }
    return value;
}

std::int32_t CaSystemIdOf(const char code[4]) {
    for (const CaCode& entry : kCaCodes) {
        if (std::memcmp(entry.code, code, 4) == 0) {
            return entry.id;
        }
    }
    return 1;
}

bool ParseSdxRecordInto(SdxRecord& record, const std::uint8_t* buffer, std::int64_t start,
                        std::int64_t last) {
    record = SdxRecord{};
    const std::int64_t span = last - start;
    if (span < kSdxMinimumSpan) {
        return false;
    }
    record.nSpan = static_cast<std::int32_t>(std::min<std::int64_t>(span, INT32_MAX));
    const std::uint8_t* piece = buffer + start;

    CopyField(record.acRaw07, piece, 7);
    CopyField(record.acRaw08, piece, 8);
    CopyField(record.szSatName, piece, kSatNameAt);
    record.chServiceType = static_cast<char>(piece[kServiceTypeAt]);
    CopyField(record.acRaw29, piece, 29);
    record.nFrequency = SdxNumber(piece + kFrequencyAt, 6);
    record.chPolarisation = static_cast<char>(piece[kPolarisationAt]);
    CopyField(record.acRaw43, piece, kNameStartAt);
    record.nOrbitalPosition = SdxNumber(piece + kOrbitalPositionAt, 4);
    CopyField(record.acRaw55, piece, 55);
    CopyField(record.acRaw59, piece, 59);
    CopyField(record.acRaw63, piece, 63);
    CopyField(record.acRaw66, piece, 66);
    record.nSymbolRate = SdxNumber(piece + kSymbolRateAt, 5);
    CopyField(record.acRaw74, piece, 74);
    record.nVideoPid = SdxNumber(piece + kVideoPidAt, 4);
    record.nAudioPid = SdxNumber(piece + kAudioPidAt, 4);
    record.nPcrPid = SdxNumber(piece + kPcrPidAt, 4);
    record.nServiceId = SdxNumber(piece + kServiceIdAt, 5);
    record.nNetworkId = SdxNumber(piece + kNetworkIdAt, 5);
    record.nTransportStreamId = SdxNumber(piece + kTransportStreamIdAt, 5);
    CopyField(record.acRaw105, piece, 105);
    CopyField(record.acRaw106, piece, 106);
    CopyField(record.acRaw108, piece, 108);
    CopyField(record.szCaCode, piece, kCaCodeAt);
    record.nCaSystemId = CaSystemIdOf(record.szCaCode);
    // The name is split in two: 8 characters at byte 43 and 12 at byte 115.
    std::memcpy(record.szChannelName, piece + kNameStartAt, 8);
    std::memcpy(record.szChannelName + 8, piece + kNameEndAt, 12);
    std::memcpy(record.szNetworkName, "NET", 3);

    return record.nSymbolRate != 0;
}

SdxRecord* ParseSdxRecord(const std::uint8_t* buffer, std::int64_t start, std::int64_t last) {
    std::unique_ptr<SdxRecord> record(new (std::nothrow) SdxRecord());
    if (!record || !ParseSdxRecordInto(*record, buffer, start, last)) {
        return nullptr;
    }
    return record.release();
}

SdxReadResult ReadSdxBuffer(std::span<const std::uint8_t> data, IProgressBar& analyse,
                            const SdxReadFaults* faults) {
    FaultPlan plan(faults);
    SdxReadResult result;
    analyse.SetPos(10);

    SdxListNode* head = NewNode(plan);
    if (head == nullptr) {
        result.status = SdxReadStatus::OutOfMemory;
        result.error = "out of memory for the record list";
        return result;
    }
    SdxListGuard list(head);
    SdxListNode* current = head;
    const auto length = static_cast<std::int64_t>(data.size());
    std::int64_t count = 0;
    std::int64_t piece = 0;
    for (std::int64_t start = 0; start < length; start += kSdxRecordSize, ++piece) {
        result.nPieces = piece + 1;
        const std::int64_t last = std::min(start + kSdxRecordSize - 1, length - 1);
        if (last - start < kSdxMinimumSpan) {
            continue;  // a short final piece is dropped without a word
        }
        std::unique_ptr<SdxRecord> record(plan.FailRecord(piece) ? nullptr
                                                                 : new (std::nothrow) SdxRecord());
        if (!record) {
            result.status = SdxReadStatus::OutOfMemory;
            result.error = "out of memory for channel record " + std::to_string(piece + 1);
            return result;
        }
        if (!ParseSdxRecordInto(*record, data.data(), start, last)) {
            continue;
        }
        SdxListNode* next = NewNode(plan);
        if (next == nullptr) {
            result.status = SdxReadStatus::OutOfMemory;
            result.error = "out of memory for the record list";
            return result;
        }
        current->pRecord = record.release();
        current->pNext = next;
        current = next;
        ++count;
    }

    analyse.SetPos(20);
    result.pHead = list.Head();
    list.Head() = nullptr;
    result.nCount = count;
    return result;
}

SdxReadResult ReadSdxFile(const std::string& path, IProgressBar& analyse,
                          const SdxReadFaults* faults) {
    SdxReadResult result;
    InputFile file;
    if (!file.Open(path)) {
        // A list that cannot be opened leaves the job to go on with the file
        // itself; one that is there but is no regular file (a folder, a pipe)
        // ends it.
        result.status =
            file.Error() == kNotRegularFile ? SdxReadStatus::ReadError : SdxReadStatus::CannotOpen;
        result.error = file.Error();
        return result;
    }
    const auto length = static_cast<std::size_t>(file.Length());

    std::unique_ptr<std::uint8_t[]> buffer;
    if (!(faults != nullptr && faults->failBuffer)) {
        buffer.reset(new (std::nothrow) std::uint8_t[length == 0 ? 1 : length]);
    }
    if (!buffer) {
        result.status = SdxReadStatus::OutOfMemory;
        result.error = "out of memory for a " + std::to_string(length) + "-byte read buffer";
        return result;
    }
    // One read for the whole file. Only the bytes that really arrived are
    // parsed: a file that shrank since its length was taken gives fewer pieces,
    // never uninitialised ones.
    const std::size_t got = length == 0 ? 0 : file.Read(buffer.get(), length);
    if (got < length && file.ReadFailed()) {
        result.status = SdxReadStatus::ReadError;
        result.error = std::strerror(errno);
        return result;
    }
    file.Close();

    // The failure plan for the buffer has been used; nodes and records follow.
    SdxReadFaults rest;
    if (faults != nullptr) {
        rest = *faults;
        rest.failBuffer = false;
    }
    return ReadSdxBuffer(std::span<const std::uint8_t>(buffer.get(), got), analyse,
                         faults != nullptr ? &rest : nullptr);
}

std::string SdxOpenFailText(const std::string& path) {
    return "\n  (" + path + " )Open this file fail!\n";
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
                             std::uint64_t fileSize) {
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
        } else if (!(head[7] == '1' && head[8] == '0' && head[9] == '3')) {
            std::string version;
            for (std::size_t i = 7; i < 10; ++i) {
                const auto c = static_cast<char>(head[i]);
                version += (head[i] >= 0x20 && head[i] < 0x7F) ? c : '?';
            }
            add("its version field is \"" + version + "\", not \"103\"");
        }
        if (fileSize % 128 != 0 && fileSize % 133 == 0) {
            add("its size of " + std::to_string(fileSize) +
                " bytes is a multiple of 133 (version 105 records), not of 128");
        }
    }
    if (reasons.empty()) {
        return {};
    }
    return std::string(displayName) + " does not look like a plain SATCODX 103 channel list (" +
           reasons + "); it is converted as 128-byte records, which may give wrong or no channels.";
}

std::string SdxFormatWarningForFile(const std::string& path) {
    InputFile file;
    if (!file.Open(path)) {
        return "Cannot read " + path + " to check its format: " + file.Error() + ".";
    }
    std::uint8_t head[10] = {};
    const std::size_t got = file.Read(head, sizeof head);
    return SdxFormatWarning(path, std::span<const std::uint8_t>(head, got), file.Length());
}

}  // namespace velmora
