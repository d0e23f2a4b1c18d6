#include "sdx/SdxReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/InputFile.h"

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
constexpr std::size_t kNameLength = 20;     // the channel name as the image stores it
constexpr std::size_t kName105Length = 25;  // 8 + 17 bytes in a 133-byte record

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

// True when a record's names are UTF-8: every record of a 133-byte list, and
// a 128-byte record whose version bytes read "105".
bool HasUtf8Names(const std::uint8_t* piece, std::int64_t recordLength) {
    return recordLength == kSdx105RecordSize ||
           (piece[7] == '1' && piece[8] == '0' && piece[9] == '5');
}

// The channel name and the satellite name of a record: copied, or converted
// from UTF-8 for version 105.
void TakeNames(SdxRecord& record, const std::uint8_t* piece, std::int64_t recordLength,
               NameTally& tally) {
    const std::size_t nameLength = recordLength == kSdx105RecordSize ? kName105Length : kNameLength;
    char name[kName105Length];
    std::memcpy(name, piece + kNameStartAt, 8);
    std::memcpy(name + 8, piece + kNameEndAt, nameLength - 8);
    if (!HasUtf8Names(piece, recordLength)) {
        CopyField(record.szSatName, piece, kSatNameAt);
        std::memcpy(record.szChannelName, name, kNameLength);
        return;
    }
    Utf8NameToCp1252(std::string_view(name, nameLength), record.szChannelName, kNameLength, tally);
    Utf8NameToCp1252(std::string_view(reinterpret_cast<const char*>(piece + kSatNameAt),
                                      sizeof record.szSatName),
                     record.szSatName, sizeof record.szSatName, tally);
}

// True when data[start..last] can hold a record of a list of `size`-byte
// records. A 133-byte list's pieces also need the signature: the NUL and the
// padding that close many such lists are no record.
bool IsRecordPiece(const std::uint8_t* data, std::int64_t start, std::int64_t last,
                   std::int64_t size) {
    if (size != kSdx105RecordSize) {
        return last - start >= kSdxMinimumSpan;
    }
    return last - start >= kSdx105MinimumSpan &&
           BeginsWithSdxSignature({data + start, kSdxSignature.size()});
}

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
                        std::int64_t last, std::int64_t recordLength, NameTally* tally) {
    record = SdxRecord{};
    const std::int64_t span = last - start;
    if (!IsRecordPiece(buffer, start, last, recordLength)) {
        return false;
    }
    const std::uint8_t* piece = buffer + start;
    record.nSpan = static_cast<std::int32_t>(std::min<std::int64_t>(span, INT32_MAX));

    CopyField(record.acRaw07, piece, 7);
    CopyField(record.acRaw08, piece, 8);
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
    // The name is split in two: 8 characters at byte 43 and 12 (version 105:
    // 17) at byte 115.
    NameTally names;
    TakeNames(record, piece, recordLength, names);
    std::memcpy(record.szNetworkName, "NET", 3);

    if (record.nSymbolRate == 0) {
        return false;
    }
    if (tally != nullptr) {
        tally->namesConverted += names.namesConverted;
        tally->charactersReplaced += names.charactersReplaced;
    }
    return true;
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
    result.layout = SdxLayoutOf(data);
    const std::int64_t size = result.layout.recordLength;
    std::int64_t count = 0;
    std::int64_t piece = 0;
    for (std::int64_t start = 0; start < length; start += size, ++piece) {
        const std::int64_t last = std::min(start + size - 1, length - 1);
        if (!IsRecordPiece(data.data(), start, last, size)) {
            // A short last piece of a 128-byte list counts as an unreadable
            // record; the closing padding of a 133-byte list is none.
            result.nPieces += size == kSdxRecordSize ? 1 : 0;
            continue;
        }
        ++result.nPieces;
        std::unique_ptr<SdxRecord> record(plan.FailRecord(piece) ? nullptr
                                                                 : new (std::nothrow) SdxRecord());
        if (!record) {
            result.status = SdxReadStatus::OutOfMemory;
            result.error = "out of memory for channel record " + std::to_string(piece + 1);
            return result;
        }
        if (!ParseSdxRecordInto(*record, data.data(), start, last, size, &result.names)) {
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
    if (const SdxRecord* first = head->pRecord) {
        result.version = std::string(first->acRaw07, 1) + std::string(first->acRaw08, 2);
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

}  // namespace velmora
