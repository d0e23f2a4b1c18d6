// An emulated receiver boot loader on a pty. The slave side is the tool's
// serial port; the emulator plays the receiver on the master side: it sends the
// ready signal AB AC, expects the start byte 40, reads and acknowledges the
// header and every 240-byte block with 4F, and checks length and checksum.
// Faults can be injected to test the tool's handling of a misbehaving receiver.
//
// By default the line is as real as a pty gets: the slave keeps the kernel's
// defaults (IXON, ICRNL, OPOST, ECHO, ICANON, ISIG) until the tool configures
// it, nobody but the tool holds it open, and control bytes come as noise
// before every ready signal and every acknowledgement.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::emu {

struct EmulatorOptions {
    // The receiver is switched on this long after Start(): silence until then.
    std::chrono::milliseconds powerOnDelay{0};
    // Bytes of noise sent before the first ready signal.
    int noiseBytes = 0;
    // A few of the control bytes 13 11 03 0D 0A 1A (XOFF, XON, Ctrl-C, CR,
    // LF, Ctrl-Z) before every ready signal and every acknowledgement, as a
    // boot loader's console lets them slip.
    bool controlNoise = true;
    // Put the pty into raw mode before the tool opens it (the line as a
    // configured port would have it), instead of the kernel's defaults.
    bool rawPty = false;
    // Faulty ready signals: AB with its AC only after 50 ms (too late for the
    // tool's 20 ms rule), or AB alone. The first `faultyReadyCount` ready
    // signals are faulty, then normal ones follow; -1 keeps them faulty for ever.
    enum class Ready { Normal, LateAc, NoAc };
    Ready ready = Ready::Normal;
    int faultyReadyCount = -1;
    // A ready signal is sent this often until the start byte arrives (like a
    // boot loader that keeps announcing itself until it is answered).
    std::chrono::milliseconds readyInterval{50};
    // Junk bytes sent in front of every acknowledgement.
    int junkBeforeAck = 0;
    // Delay before every acknowledgement.
    std::chrono::milliseconds ackDelay{0};
    // Never acknowledge the header (the tool waits for ever or times out).
    bool neverAck = false;
    // Hang up (close the master side) after this many acknowledged blocks; -1: never.
    int hangupAfterBlocks = -1;
    // A second 4F behind the acknowledgement of this block (1-based), as line
    // noise or a boot loader that prints "OK" sends it; 0: never. It comes
    // right behind the acknowledgement, or `strayAckDelay` later (while the
    // next block is on its way).
    int strayAckAfterBlock = 0;
    std::chrono::milliseconds strayAckDelay{0};
    // Never acknowledge the last block (the tool must not call that finished).
    bool neverAckLast = false;
    // Stop reading the line after this many acknowledged blocks, yet go on
    // sending a 4F as often as a block would come, as a wedged boot loader
    // does: the tool's output fills; -1: never.
    int stopReadingAfterBlocks = -1;
    // Restart after this many acknowledged blocks: the next block is not
    // acknowledged, and the boot loader announces itself again with AB AC
    // every `restartReadyInterval`, as a receiver that was reset does; -1: never.
    int restartAfterBlocks = -1;
    std::chrono::milliseconds restartReadyInterval{100};
    // Acknowledge only when the block would have arrived on a line of this many
    // baud (10 bits per byte); 0: as soon as the bytes are read.
    std::uint32_t throttleBaud = 0;
    // Write what was received here when the transfer is complete.
    std::string savePath;
    // When set, the data must equal these bytes for the transfer to verify.
    std::optional<std::vector<std::uint8_t>> expectedData;
    // When set, the header's offset field must equal this.
    std::optional<std::uint32_t> expectedOffset;
    // Receivers played one after the other on the same line, as a technician
    // swaps the box on a bench: after each transfer (verified or not) the next
    // box is switched on `swapDelay` later and announces itself afresh. Every
    // box carries the same faults, except that a hang-up pulls the line for good.
    // With more than one cycle, a box that restarts ends there (the next box
    // announces itself), and so does a box whose transfer went no further:
    // the tool closed the port mid-transfer, or stayed silent `stallLimit`
    // while the box owed it nothing (never acknowledged, given up).
    int cycles = 1;
    std::chrono::milliseconds swapDelay{300};
    std::chrono::milliseconds stallLimit{2000};
};

struct TransferReport {
    bool startByteSeen = false;
    bool headerReceived = false;
    bool complete = false;  // every announced byte arrived and was acknowledged
    bool verified = false;  // complete, checksum right, and the expectations met
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t checksum = 0;          // as announced in the header
    std::uint32_t computedChecksum = 0;  // over the data received
    std::vector<std::uint8_t> data;
    std::uint32_t blocksAcknowledged = 0;
    // Data bytes that came while the acknowledgement of the block before was
    // still due: a real boot loader, busy writing that block, loses them.
    std::uint32_t bytesBeforeAck = 0;
    // The longest the line stayed silent between two data bytes, acknowledgement
    // waits included: how long the tool kept this receiver waiting.
    double longestDataGapSeconds = 0.0;
    double seconds = 0.0;  // from the start byte to the last acknowledgement
    std::string problem;   // why the transfer did not verify, in plain words

    double BytesPerSecond() const {
        return seconds > 0 ? static_cast<double>(data.size()) / seconds : 0.0;
    }
};

class ReceiverEmulator {
public:
    explicit ReceiverEmulator(EmulatorOptions options);
    ~ReceiverEmulator();

    ReceiverEmulator(const ReceiverEmulator&) = delete;
    ReceiverEmulator& operator=(const ReceiverEmulator&) = delete;

    // Opens the pty and starts playing the receiver. False with `error` on failure.
    bool Start(std::string& error);
    // The slave device that the tool opens, for example /dev/pts/3.
    const std::string& SlavePath() const { return m_slavePath; }

    // Waits until the receiver has played all its cycles (one transfer each,
    // verified or not) or the deadline has passed; true with `report` filled
    // with the last transfer's when they ended.
    bool WaitForReport(std::chrono::milliseconds timeout, TransferReport& report);
    // Every transfer that has ended so far, one per cycle played, in order.
    std::vector<TransferReport> Reports();
    // Stops the receiver; what has been received so far stays in the report.
    void Stop();

private:
    class Session;  // one transfer as the receiver plays it
    void Run();
    void PlayCycles();
    void Publish(const TransferReport& report);

    EmulatorOptions m_options;
    int m_master = -1;
    int m_wake[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    TransferReport m_report;
    std::vector<TransferReport> m_reports;
};

// Human-readable one-line verdict, for example
// "verified: 1048576 bytes at offset 0x00010000, checksum 0x1234abcd, 14.2 KiB/s".
std::string DescribeReport(const TransferReport& report);

}  // namespace velmora::emu
