// The upgrade worker: one job on its own thread. It runs the channel-list
// conversion when the chosen file is a SATCODX list, then sends the file to
// the receiver's boot loader:
//
//   receiver: AB AC            (ready signal; AC within 20 ms of AB)
//   tool:     40               (start byte)
//   tool:     12-byte header   offset, length, 16-bit word checksum; bytes >= 101 us apart
//   receiver: 4F ('O')
//   tool:     240-byte block   bytes >= 70 us apart          } until the whole
//   receiver: 4F               acknowledgement of the block  } file is sent
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "serial/SerialPort.h"
#include "transfer/BytePacer.h"
#include "transfer/PacingClock.h"

namespace velmora {

// Bytes of the boot loader's protocol.
inline constexpr std::uint8_t kReadyFirst = 0xAB;
inline constexpr std::uint8_t kReadySecond = 0xAC;
inline constexpr std::uint8_t kStartByte = 0x40;
inline constexpr std::uint8_t kAck = 0x4F;  // 'O'

// Program images always go to this flash offset.
inline constexpr std::uint32_t kCodeFlashOffset = 0x00010000;
inline constexpr std::uint32_t kBlockSize = 240;
inline constexpr std::uint32_t kChecksumChunk = 2U * 1024U * 1024U;
// A byte is handed over only once more than this many microseconds have passed.
inline constexpr std::int64_t kHeaderGapMicros = 100;
inline constexpr std::int64_t kDataGapMicros = 69;
// The second byte of the ready signal must be queued this long after the first.
inline constexpr std::chrono::milliseconds kReadySettle{20};
// How long one wait for incoming bytes blocks before the job looks at
// cancellation, device loss and its time limit again.
inline constexpr std::chrono::milliseconds kPollSlice{50};
// After this long without an acknowledgement the host is told that the
// receiver is silent; the wait itself goes on.
inline constexpr std::chrono::milliseconds kSilenceNotice{10'000};
// After the last acknowledgement, how long the bytes still queued for the
// line may take to go out before the port is closed.
inline constexpr std::chrono::milliseconds kDrainBound{5'000};

inline constexpr const char* kFinishMessage = "Data send finish !";

// The 12 bytes that announce the data, each field least significant byte first.
struct UpgradeHeader {
    std::uint32_t dwOffset = 0;
    std::uint32_t dwLength = 0;
    std::uint32_t dwChecksum = 0;
    std::array<std::uint8_t, 12> Bytes() const;
};

// Sum of the little-endian 16-bit words of the data, wrapping at 2^32. An odd
// last byte has no partner and is left out.
std::uint32_t WordSum16(const std::uint8_t* data, std::uint32_t count);

// True when the path ends in ".sdx", letters in either case.
bool IsSdxFileName(std::string_view path);

// How a job ended. Front ends turn this into their own reporting.
enum class JobOutcome {
    Finished,           // "Data send finish !" was shown
    NothingToDo,        // upgrade type Custom
    Refused,            // a channel list with upgrade type Code
    ConversionFailed,   // the channel list could not be converted
    FileError,          // the file to send could not be opened or read
    FileShrank,         // the file became shorter during the transfer
    FileChanged,        // the file changed while waiting for the receiver, or during the transfer
    ReceiverRestarted,  // the receiver sent its ready signal again during the transfer
    DeviceLost,         // the serial device went away
    TimedOut,           // the receiver stayed silent longer than the wait limit
    Cancelled,          // the host cancelled the job
};

const char* JobOutcomeName(JobOutcome outcome);

// What a job talks to besides its settings.
struct JobEnvironment {
    CSerialPort& port;
    IProgressBar& analyseBar;  // "Data analyse Progress"
    IProgressBar& sendBar;     // "Data Send Progress"
    IMessageBox& messages;
    IPacingClock& clock;
    // Longest silence of the receiver at any one wait; zero waits for ever.
    std::chrono::milliseconds waitLimit{0};
    // Where the job's phases, plan, bytes sent and reports go; none when null.
    IJobEvents* events = nullptr;
    // Silence at an acknowledgement wait after which events->OnReceiverSilent
    // is called; zero never.
    std::chrono::milliseconds silenceNotice = kSilenceNotice;
    // Hands the header and the blocks over, byte by byte; when null the job
    // paces them itself on `clock`, waiting on its counter.
    IBytePacer* pacer = nullptr;
    // The bytes to send, made and kept by the host (a station's converted
    // channel list), in place of reading the file the settings name; that
    // file's name still stands for them. Null: the file is read.
    std::shared_ptr<const std::vector<std::uint8_t>> image = nullptr;
    // The file is taken as it is when the receiver announces itself (a
    // station port waiting for its next receiver), where a file that changed
    // while the receiver was awaited otherwise ends the job unsent.
    bool takeFileWhenReady = false;
};

// The thread body of one job. `settings` is the job's own copy. `busy` is set
// for the whole job and cleared as the job's very last step; the port is
// closed on every path. Custom ends at once (port closed, nothing shown).
JobOutcome UpgradeThreadProc(JobSettings& settings, JobEnvironment& env, std::stop_token stop,
                             std::atomic<bool>& busy);

}  // namespace velmora
