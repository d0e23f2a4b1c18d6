// The job itself, as the worker thread runs it: the conversion when the file
// is a channel list, then the transfer to the receiver's boot loader (see
// transfer/UpgradeProtocol.h for the exchange), and what it talks to.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "serial/SerialPort.h"
#include "transfer/JobOutcome.h"
#include "transfer/PacingClock.h"
#include "transfer/PacingLoop.h"

namespace velmora {

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

// What a job talks to besides its settings.
struct JobEnvironment {
    CSerialPort& port;
    IProgressBar& analyseBar;  // "Data analyse Progress"
    IProgressBar& sendBar;     // "Data Send Progress"
    IMessageBox& messages;
    IPacingClock& clock;  // the ready signal's settle time is slept on it
    // Hands the header and the blocks over, byte by byte, each after its gap.
    IBytePacer& pacer;
    // Longest silence of the receiver at any one wait; zero waits for ever.
    std::chrono::milliseconds waitLimit{0};
    // Where the job's phases, plan, bytes sent and reports go; none when null.
    IJobEvents* events = nullptr;
    // Silence at an acknowledgement wait after which events->OnReceiverSilent
    // is called; zero never.
    std::chrono::milliseconds silenceNotice = kSilenceNotice;
    // The bytes to send, made and kept by the host (a station's converted
    // channel list), in place of reading the file the settings name; that
    // file's name still stands for them. Null: the file is read.
    std::shared_ptr<const std::vector<std::uint8_t>> image = nullptr;
    // The file is taken as it is when the receiver announces itself (a
    // station port waiting for its next receiver), where a file that changed
    // while the receiver was awaited otherwise ends the job unsent.
    bool takeFileWhenReady = false;
};

// Runs one job on the calling thread and tells how it ended. The port is
// closed on every path; `settings` is the job's own copy.
JobOutcome RunUpgradeJob(JobSettings& settings, JobEnvironment& env, std::stop_token stop);

}  // namespace velmora
