// Reader of SATCODX channel lists.
//
// A SATCODX list is a plain run of fixed-length text records without a file
// header, one record a line. Each record describes one service (TV or radio
// channel) with its satellite, transponder, PIDs, identifiers and
// conditional-access code, all as fixed-width text fields. Version "103"
// lists have 128-byte records (127 characters and a line feed) and names in
// code page 1252; version "105" lists mostly have 133-byte records (132
// characters and a line feed, the name 5 bytes longer) and UTF-8 names. The
// first line feed of the file tells the record length. The reader cuts the
// file into pieces of that length, parses each into an SdxRecord (names of
// version 105 converted to code page 1252, as the receiver shows them) and
// chains the accepted ones into a singly linked list that the channel
// database builder then groups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/CodePage.h"
#include "base/HostInterfaces.h"
#include "sdx/SdxFormat.h"

namespace velmora {

// One parsed record. Character fields are copied byte for byte and are not
// terminated; numeric fields are the record's digit runs as numbers. Fields
// marked "carried" are kept but nothing reads them.
struct SdxRecord {
    std::int32_t nSpan;               // last index minus start index of the piece (127 when whole)
    char acRaw07[1];                  // byte 7, carried
    char acRaw08[2];                  // bytes 8-9, carried
    char szSatName[18];               // bytes 10-27, satellite name
    char chServiceType;               // byte 28: 'T' television, 'R' radio
    char acRaw29[4];                  // bytes 29-32, carried
    std::int32_t nFrequency;          // bytes 33-38, MHz
    char chPolarisation;              // byte 42, the raw polarisation character
    char acRaw43[8];                  // bytes 43-50, carried (also the start of the name)
    std::int32_t nOrbitalPosition;    // bytes 51-54, tenths of a degree
    char acRaw55[4];                  // bytes 55-58, carried
    char acRaw59[4];                  // bytes 59-62, carried
    char acRaw63[3];                  // bytes 63-65, carried
    char acRaw66[3];                  // bytes 66-68, carried
    std::int32_t nSymbolRate;         // bytes 69-73; never 0 in an accepted record
    char acRaw74[1];                  // byte 74, carried
    std::int32_t nVideoPid;           // bytes 75-78
    std::int32_t nAudioPid;           // bytes 79-82
    std::int32_t nPcrPid;             // bytes 83-86
    std::int32_t nServiceId;          // bytes 87-91
    std::int32_t nNetworkId;          // bytes 92-96
    std::int32_t nTransportStreamId;  // bytes 97-101
    char acRaw105[1];                 // byte 105, carried
    char acRaw106[2];                 // bytes 106-107, carried
    char acRaw108[3];                 // bytes 108-110, carried
    char szCaCode[4];                 // bytes 111-114, conditional-access code
    std::int32_t nCaSystemId;  // from the CA code: 0 free to air, 1 unknown, else the system id
    char szChannelName[25];    // bytes 43-50 then 115-126, then zero bytes (version 105:
                               // 43-50 then 115-131 in code page 1252, 20 bytes, then zeros)
    char szNetworkName[16];    // "NET" then zero bytes, in every record
    std::int32_t nReserved1;   // never set
    std::int32_t nReserved2;   // never set
};

// One node of the record list. The list always ends with one empty node
// (pRecord and pNext null); every node before it owns a record.
struct SdxListNode {
    SdxRecord* pRecord;
    SdxListNode* pNext;
};

// Releases every record and node of the list, the final empty node included,
// and sets pHead to null. Safe on a null head.
void ReleaseSdxList(SdxListNode*& pHead) noexcept;

// Owns a record list until it is released (by WriteDatabaseImage or here).
class SdxListGuard {
public:
    explicit SdxListGuard(SdxListNode* pHead = nullptr) : m_pHead(pHead) {}
    SdxListGuard(const SdxListGuard&) = delete;
    SdxListGuard& operator=(const SdxListGuard&) = delete;
    ~SdxListGuard() { ReleaseSdxList(m_pHead); }
    SdxListNode*& Head() { return m_pHead; }

private:
    SdxListNode* m_pHead;
};

// The value of a numeric field: each byte, taken as a signed 8-bit number,
// minus 48, weighted by its decimal place. There is no digit test: a space
// counts -16 times its place value.
std::int32_t SdxNumber(const std::uint8_t* field, int width);

// The CA system id of a four-character CA code, compared exactly and
// case-sensitively: "____" 0, VGRD 0x0900, POVU 0x0E00, IRDT 0x0600,
// CRYW 0x0D00, VICS 0x0500, MGRD 0x0100, CONX 0x0B00, anything else 1.
std::int32_t CaSystemIdOf(const char code[4]);

// Parses the piece buffer[start..last] into `record` (which is overwritten
// completely). False when the piece is rejected: fewer than 127 bytes, or a
// symbol rate that reads as 0. With a record length of 133 a piece also needs
// 132 bytes and the SATCODX signature. The names of a 133-byte record, and of
// a 128-byte record whose version bytes read "105", are converted from UTF-8;
// `tally` (may be null) counts what that changed.
bool ParseSdxRecordInto(SdxRecord& record, const std::uint8_t* buffer, std::int64_t start,
                        std::int64_t last, std::int64_t recordLength = kSdxRecordSize,
                        NameTally* tally = nullptr);

// Parses one piece into a new record that the caller owns (release with
// delete). Null when the piece is rejected or the record cannot be allocated.
SdxRecord* ParseSdxRecord(const std::uint8_t* buffer, std::int64_t start, std::int64_t last);

enum class SdxReadStatus {
    Ok,
    CannotOpen,   // the list could not be opened; nothing was read
    OutOfMemory,  // the read buffer, a record or a list node could not be allocated
    ReadError,    // the list was opened but could not be read
};

struct SdxReadResult {
    SdxReadStatus status = SdxReadStatus::Ok;
    SdxListNode* pHead = nullptr;  // the caller owns the list when status is Ok
    std::int64_t nCount = 0;       // records in the list
    std::int64_t nPieces = 0;      // pieces in the file, rejected ones included
    std::string error;             // the system's reason when status is not Ok
    SdxLayout layout;              // the record length the pieces were cut with
    std::string version;           // bytes 7-9 of the first record read; empty when none
    NameTally names;               // version-105 names of the records read
};

// Lets a test make one of the reader's allocations fail.
struct SdxReadFaults {
    bool failBuffer = false;
    std::int64_t failNodeAt = -1;    // allocation index of the node that fails (0: head)
    std::int64_t failRecordAt = -1;  // index of the piece whose record cannot be allocated
};

// Cuts `data` into pieces of its record length (SdxLayoutOf; an unknown
// layout is cut into 128-byte pieces) and chains the accepted records. Shows
// 10 on the analyse bar before the first piece and 20 after the last.
SdxReadResult ReadSdxBuffer(std::span<const std::uint8_t> data, IProgressBar& analyse,
                            const SdxReadFaults* faults = nullptr);

// Reads the whole list at `path` with one read and parses it (ReadSdxBuffer).
SdxReadResult ReadSdxFile(const std::string& path, IProgressBar& analyse,
                          const SdxReadFaults* faults = nullptr);

// "\n  (%s )Open this file fail!\n" with the path in place of %s: what the
// job shows when the list cannot be held in memory.
std::string SdxOpenFailText(const std::string& path);

}  // namespace velmora
