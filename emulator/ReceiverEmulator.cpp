// The receiver checks the tool: its protocol bytes, block size and word sum
// are written out here on purpose rather than taken from transfer/, so that a
// mistake in the tool's own definitions cannot pass unnoticed as agreement.
#include "emulator/ReceiverEmulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>

namespace velmora::emu {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kReadyFirst = 0xAB;
constexpr std::uint8_t kReadySecond = 0xAC;
constexpr std::uint8_t kStartByte = 0x40;
constexpr std::uint8_t kAck = 0x4F;
constexpr std::uint32_t kBlockSize = 240;
constexpr std::size_t kHeaderSize = 12;
// A late AC comes well after the tool's 20 ms rule.
constexpr std::chrono::milliseconds kLateAcDelay{50};
// How often a receiver that stopped reading still sends a 4F: about as often
// as a block of 240 bytes comes at 115200 baud.
constexpr std::chrono::milliseconds kBlindAckInterval{21};

std::uint32_t WordSum(const std::vector<std::uint8_t>& data) {
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k + 1 < data.size(); k += 2) {
        sum += static_cast<std::uint32_t>(data[k]) | (static_cast<std::uint32_t>(data[k + 1]) << 8);
    }
    return sum;
}

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Bytes to send at a given time.
struct Outgoing {
    Clock::time_point when;
    std::vector<std::uint8_t> bytes;
    bool ack = false;  // the acknowledgement of a block
};

}  // namespace

ReceiverEmulator::ReceiverEmulator(EmulatorOptions options) : m_options(std::move(options)) {}

ReceiverEmulator::~ReceiverEmulator() {
    Stop();
    for (int* fd : {&m_master, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool ReceiverEmulator::Start(std::string& error) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = std::string("Cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = std::string("Cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_slavePath = name;
    // The slave is not held open here: a program that holds a port open
    // beside the tool is exactly what the tool refuses. The slave keeps its
    // settings while the master is open, so raw mode, when asked for, is set
    // through a short-lived descriptor. The line is never touched again from
    // here: the master shares the slave's settings, and changing them would
    // rewrite the tool's own configuration.
    if (m_options.rawPty) {
        const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            error = std::string("Cannot open ") + name + ": " + std::strerror(errno);
            return false;
        }
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("Cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ReceiverEmulator::Stop() {
    m_stop.store(true);
    if (m_wake[1] >= 0) {
        const char one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &one, 1);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool ReceiverEmulator::WaitForReport(std::chrono::milliseconds timeout, TransferReport& report) {
    std::unique_lock lock(m_mutex);
    const bool ended = m_done.wait_for(lock, timeout, [this] { return m_finished; });
    report = m_report;
    return ended;
}

std::vector<TransferReport> ReceiverEmulator::Reports() {
    std::lock_guard lock(m_mutex);
    return m_reports;
}

void ReceiverEmulator::Publish(const TransferReport& report) {
    std::lock_guard lock(m_mutex);
    m_report = report;
    m_reports.push_back(report);
}

// What a pty does with the bytes the receiver sends while the slave is still
// at the kernel's defaults (before the tool configures it, and while nobody
// has it open): the line discipline echoes them back to us, with control
// bytes as "^X" (0x00 as "^@", which holds the start byte 0x40), keeps them
// in its line buffer until a newline, and an XOFF stops the slave's output
// until an XON or until IXON is cleared. Once nobody has the slave open any
// more, the master polls as hung up (POLLHUP) and reads fail with EIO after
// the last byte. The session copes with all of it: noise never holds 0x00 or
// 0x40, and a hung-up master is polled again after a short nap.
class ReceiverEmulator::Session {
public:
    // `powerOn`: when the box is switched on.
    Session(ReceiverEmulator& owner, Clock::time_point powerOn)
        : m_owner(owner),
          m_options(owner.m_options),
          m_swapped(m_options.cycles > 1),
          m_powerOn(powerOn),
          m_nextReady(m_powerOn),
          m_lineFree(Clock::now()),
          m_byteTime(m_options.throttleBaud > 0
                         ? std::chrono::nanoseconds(10'000'000'000LL / m_options.throttleBaud)
                         : std::chrono::nanoseconds(0)) {}

    void Play();

private:
    enum class Phase { Ready, Header, Data, Done };
    enum class Input { Bytes, Nothing, Stop };

    void QueueNoiseBeforeFirstReady();
    void QueueControlNoise(Clock::time_point when, Outgoing& into);
    void SendDue(Clock::time_point now);
    void SendReadySignal(Clock::time_point now);
    Input Receive(Clock::time_point now, std::vector<std::uint8_t>& bytes);
    void Take(std::uint8_t byte, Clock::time_point arrival);
    void TakeHeaderByte(std::uint8_t byte);
    void TakeDataByte(std::uint8_t byte, Clock::time_point arrival);
    void QueueAck(Clock::time_point earliest);
    void QueueStrayAck(Outgoing& ack);
    void Finish(const std::string& problem);
    void Verify();
    std::string WhyUnfinished() const;
    bool Stalled(Clock::time_point now) const;

    ReceiverEmulator& m_owner;
    const EmulatorOptions& m_options;
    // Boxes are swapped: a transfer that can go no further ends the box.
    const bool m_swapped;
    Phase m_phase = Phase::Ready;
    TransferReport m_report;
    std::vector<std::uint8_t> m_header;
    std::deque<Outgoing> m_outgoing;
    std::mt19937 m_random{12345};
    int m_readySent = 0;
    const Clock::time_point m_powerOn;
    Clock::time_point m_nextReady;
    Clock::time_point m_startTime;
    // Virtual time at which the line would have delivered the last byte.
    Clock::time_point m_lineFree;
    const std::chrono::nanoseconds m_byteTime;
    std::uint32_t m_blockFill = 0;
    bool m_hungUp = false;
    // The transfer is complete; end once the last acknowledgement has gone out.
    bool m_finishWhenSent = false;
    // Restarted as asked: announcing itself again.
    bool m_restarted = false;
    // The whole file came, but its last block was left unacknowledged as asked.
    bool m_lastUnacknowledged = false;
    // No longer reading the line, as asked; a 4F goes out at `m_nextBlindAck`.
    bool m_stoppedReading = false;
    Clock::time_point m_nextBlindAck;
    Clock::time_point m_lastDataByte;
    // When the tool last sent something, and whether it has closed the port
    // since the transfer began.
    Clock::time_point m_lastHeard;
    bool m_toolClosed = false;
};

void ReceiverEmulator::Session::Play() {
    QueueNoiseBeforeFirstReady();
    std::vector<std::uint8_t> bytes;
    while (!m_owner.m_stop.load() && m_phase != Phase::Done) {
        const auto now = Clock::now();
        SendDue(now);
        if (m_finishWhenSent && m_outgoing.empty()) {
            Finish("");
            break;
        }
        if (m_phase == Phase::Ready && now >= m_nextReady) {
            SendReadySignal(now);
            continue;
        }
        if (m_stoppedReading && now >= m_nextBlindAck) {
            m_outgoing.push_back({now, {kAck}});
            m_nextBlindAck = now + kBlindAckInterval;
            continue;
        }
        if (m_hungUp || Stalled(now) || (m_stoppedReading && m_toolClosed)) {
            break;
        }
        const Input input = Receive(now, bytes);
        if (input == Input::Stop) {
            break;
        }
        const auto arrival = Clock::now();
        if (!bytes.empty()) {
            m_lastHeard = arrival;
        }
        for (std::size_t i = 0;
             i < bytes.size() && !m_finishWhenSent && !m_hungUp && !m_stoppedReading; ++i) {
            Take(bytes[i], arrival);
        }
        bytes.clear();
        if (m_restarted && m_swapped) {
            break;  // the next box announces itself: the restarted one
        }
    }
    if (m_hungUp) {
        // Pull the cable: close our side of the line.
        ::close(m_owner.m_master);
        m_owner.m_master = -1;
    }
    if (m_phase != Phase::Done) {
        m_report.seconds = m_report.startByteSeen
                               ? std::chrono::duration<double>(Clock::now() - m_startTime).count()
                               : 0.0;
        Finish(WhyUnfinished());
    }
}

// When boxes are swapped, a transfer that can go no further ends the box:
// the tool has closed the port, or is silent while owed nothing.
bool ReceiverEmulator::Session::Stalled(Clock::time_point now) const {
    if (!m_swapped || !m_report.startByteSeen || !m_outgoing.empty()) {
        return false;
    }
    return m_toolClosed || now - m_lastHeard >= m_options.stallLimit;
}

// Noise before the first ready signal: anything but AB, and nothing that
// the pty's echo could turn into the start byte.
void ReceiverEmulator::Session::QueueNoiseBeforeFirstReady() {
    if (m_options.noiseBytes <= 0) {
        return;
    }
    Outgoing noise{m_powerOn, {}};
    for (int i = 0; i < m_options.noiseBytes; ++i) {
        auto b = static_cast<std::uint8_t>(m_random() & 0xFF);
        if (b == kReadyFirst || b == kStartByte || b == 0x00) {
            b = 0x20;
        }
        noise.bytes.push_back(b);
    }
    m_outgoing.push_back(std::move(noise));
    m_nextReady = m_powerOn + m_options.readyInterval;
}

void ReceiverEmulator::Session::QueueControlNoise(Clock::time_point when, Outgoing& into) {
    static constexpr std::uint8_t kControl[] = {0x13, 0x11, 0x03, 0x0D, 0x0A, 0x1A};
    if (!m_options.controlNoise) {
        return;
    }
    into.when = when;
    const auto count = 1 + m_random() % 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        into.bytes.push_back(kControl[m_random() % std::size(kControl)]);
    }
}

void ReceiverEmulator::Session::SendDue(Clock::time_point now) {
    while (!m_outgoing.empty() && m_outgoing.front().when <= now) {
        const auto& bytes = m_outgoing.front().bytes;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_owner.m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;  // the tool is not reading: drop the rest
            }
            done += static_cast<std::size_t>(n);
        }
        m_outgoing.pop_front();
    }
}

void ReceiverEmulator::Session::SendReadySignal(Clock::time_point now) {
    const bool faulty =
        m_options.ready != EmulatorOptions::Ready::Normal &&
        (m_options.faultyReadyCount < 0 || m_readySent < m_options.faultyReadyCount);
    Outgoing first{now, {}};
    QueueControlNoise(now, first);
    first.bytes.push_back(kReadyFirst);
    if (!faulty) {
        first.bytes.push_back(kReadySecond);
    }
    m_outgoing.push_back(std::move(first));
    if (faulty && m_options.ready == EmulatorOptions::Ready::LateAc) {
        m_outgoing.push_back({now + kLateAcDelay, {kReadySecond}});
    }
    ++m_readySent;
    const auto interval = m_restarted ? m_options.restartReadyInterval : m_options.readyInterval;
    m_nextReady = now + std::max(interval, faulty ? kLateAcDelay + std::chrono::milliseconds(20)
                                                  : std::chrono::milliseconds(0));
}

// Sleeps until the next event or until the tool sends something.
ReceiverEmulator::Session::Input ReceiverEmulator::Session::Receive(
    Clock::time_point now, std::vector<std::uint8_t>& bytes) {
    Clock::time_point wakeAt = now + std::chrono::milliseconds(200);
    if (!m_outgoing.empty()) {
        wakeAt = std::min(wakeAt, m_outgoing.front().when);
    }
    if (m_phase == Phase::Ready) {
        wakeAt = std::min(wakeAt, m_nextReady);
    }
    if (m_stoppedReading) {
        wakeAt = std::min(wakeAt, m_nextBlindAck);
    }
    // Acknowledgements are timed to the microsecond when throttling, so the
    // wait is a ppoll with a nanosecond time-out.
    const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::max(wakeAt - now, Clock::duration::zero()))
                            .count();
    const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000),
                           static_cast<long>(waitNs % 1'000'000'000)};
    // A receiver that stopped reading only notices the tool closing the port.
    const short events = m_stoppedReading ? short{0} : short{POLLIN};
    pollfd fds[2] = {{m_owner.m_wake[0], POLLIN, 0}, {m_owner.m_master, events, 0}};
    const int rc = ::ppoll(fds, 2, &timeout, nullptr);
    if (rc < 0 && errno != EINTR) {
        return Input::Stop;
    }
    if (rc <= 0) {
        return Input::Nothing;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        return Input::Stop;  // Stop()
    }
    if ((fds[1].revents & POLLIN) == 0) {
        if ((fds[1].revents & POLLHUP) != 0) {
            // Nobody has the port open (yet, or any more): look again soon.
            const timespec nap{0, std::min<long long>(waitNs, 5'000'000)};
            ::ppoll(fds, 1, &nap, nullptr);
            m_toolClosed = m_report.startByteSeen;
        }
        if (m_stoppedReading) {
            // Nobody reads the line: nap as a hung-up line does, never spin.
            const timespec nap{0, std::min<long long>(waitNs, 5'000'000)};
            ::ppoll(fds, 1, &nap, nullptr);
        }
        return Input::Nothing;
    }
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(m_owner.m_master, buffer, sizeof buffer);
    if (n > 0) {
        bytes.assign(buffer, buffer + n);
    }
    return Input::Bytes;
}

void ReceiverEmulator::Session::Take(std::uint8_t byte, Clock::time_point arrival) {
    m_lineFree = std::max(m_lineFree, arrival) + m_byteTime;
    switch (m_phase) {
        case Phase::Ready:
            // A box that is still off hears nothing.
            if (byte == kStartByte && arrival >= m_powerOn) {
                m_report.startByteSeen = true;
                m_startTime = arrival;
                m_phase = Phase::Header;
                m_outgoing.clear();  // no more ready signals
            }
            break;
        case Phase::Header:
            TakeHeaderByte(byte);
            break;
        case Phase::Data:
            TakeDataByte(byte, arrival);
            break;
        case Phase::Done:
            break;
    }
}

void ReceiverEmulator::Session::TakeHeaderByte(std::uint8_t byte) {
    m_header.push_back(byte);
    if (m_header.size() != kHeaderSize) {
        return;
    }
    m_report.headerReceived = true;
    m_report.offset = LittleEndian32(m_header.data());
    m_report.length = LittleEndian32(m_header.data() + 4);
    m_report.checksum = LittleEndian32(m_header.data() + 8);
    m_report.data.reserve(m_report.length);
    if (m_options.neverAck) {
        m_phase = Phase::Data;
        return;
    }
    QueueAck(m_lineFree);
    if (m_report.length == 0) {
        m_report.complete = true;
        m_report.seconds = std::chrono::duration<double>(m_lineFree - m_startTime).count();
        m_finishWhenSent = true;
    } else {
        m_phase = Phase::Data;
    }
}

void ReceiverEmulator::Session::TakeDataByte(std::uint8_t byte, Clock::time_point arrival) {
    if (m_options.neverAck) {
        return;
    }
    if (std::any_of(m_outgoing.begin(), m_outgoing.end(),
                    [](const Outgoing& o) { return o.ack; })) {
        ++m_report.bytesBeforeAck;
    }
    if (!m_report.data.empty()) {
        m_report.longestDataGapSeconds =
            std::max(m_report.longestDataGapSeconds,
                     std::chrono::duration<double>(arrival - m_lastDataByte).count());
    }
    m_lastDataByte = arrival;
    m_report.data.push_back(byte);
    ++m_blockFill;
    const std::uint32_t remaining =
        m_report.length - static_cast<std::uint32_t>(m_report.data.size());
    if (m_blockFill != kBlockSize && remaining != 0) {
        return;
    }
    m_blockFill = 0;
    if (m_options.hangupAfterBlocks >= 0 &&
        static_cast<int>(m_report.blocksAcknowledged) >= m_options.hangupAfterBlocks) {
        m_hungUp = true;
        return;
    }
    if (m_options.restartAfterBlocks >= 0 &&
        static_cast<int>(m_report.blocksAcknowledged) >= m_options.restartAfterBlocks) {
        m_restarted = true;
        m_phase = Phase::Ready;
        m_nextReady = Clock::now();
        return;
    }
    if (remaining == 0 && m_options.neverAckLast) {
        m_lastUnacknowledged = true;
        return;
    }
    ++m_report.blocksAcknowledged;
    QueueAck(m_lineFree);
    if (static_cast<int>(m_report.blocksAcknowledged) == m_options.strayAckAfterBlock) {
        QueueStrayAck(m_outgoing.back());
    }
    if (static_cast<int>(m_report.blocksAcknowledged) == m_options.stopReadingAfterBlocks) {
        m_stoppedReading = true;
        m_nextBlindAck = m_outgoing.back().when + kBlindAckInterval;
    }
    if (remaining == 0) {
        m_report.complete = true;
        m_report.seconds =
            std::chrono::duration<double>(std::max(m_lineFree, arrival) - m_startTime).count();
        m_finishWhenSent = true;
    }
}

void ReceiverEmulator::Session::QueueAck(Clock::time_point earliest) {
    Outgoing ack;
    QueueControlNoise({}, ack);
    ack.when = std::max(earliest, Clock::now()) + m_options.ackDelay;
    for (int i = 0; i < m_options.junkBeforeAck; ++i) {
        auto junk = static_cast<std::uint8_t>(m_random() & 0xFF);
        // Junk is never an acknowledgement, nor a ready signal (AB AC).
        if (junk == kAck ||
            (junk == kReadySecond && !ack.bytes.empty() && ack.bytes.back() == kReadyFirst)) {
            junk = 0x00;
        }
        ack.bytes.push_back(junk);
    }
    ack.bytes.push_back(kAck);
    ack.ack = true;
    m_outgoing.push_back(std::move(ack));
}

// A 4F that acknowledges nothing: in the same breath as the acknowledgement
// `ack`, or on its own a little later.
void ReceiverEmulator::Session::QueueStrayAck(Outgoing& ack) {
    if (m_options.strayAckDelay.count() <= 0) {
        ack.bytes.push_back(kAck);
        return;
    }
    Outgoing stray{ack.when + m_options.strayAckDelay, {kAck}};
    const auto later = std::find_if(m_outgoing.begin(), m_outgoing.end(),
                                    [&stray](const Outgoing& o) { return o.when > stray.when; });
    m_outgoing.insert(later, std::move(stray));
}

void ReceiverEmulator::Session::Verify() {
    m_report.computedChecksum = WordSum(m_report.data);
    char text[128];
    if (m_report.computedChecksum != m_report.checksum) {
        std::snprintf(text, sizeof text,
                      "checksum mismatch: header says 0x%08" PRIx32 ", data sums to 0x%08" PRIx32,
                      m_report.checksum, m_report.computedChecksum);
        m_report.problem = text;
    } else if (m_report.bytesBeforeAck != 0) {
        m_report.problem = std::to_string(m_report.bytesBeforeAck) +
                           " data bytes came before the block ahead of them was acknowledged";
    } else if (m_options.expectedOffset && *m_options.expectedOffset != m_report.offset) {
        std::snprintf(text, sizeof text, "offset 0x%08" PRIx32 ", expected 0x%08" PRIx32,
                      m_report.offset, *m_options.expectedOffset);
        m_report.problem = text;
    } else if (m_options.expectedData && *m_options.expectedData != m_report.data) {
        m_report.problem = "the data differs from the expected file (" +
                           std::to_string(m_report.data.size()) + " bytes received, " +
                           std::to_string(m_options.expectedData->size()) + " expected)";
    }
    m_report.verified = m_report.problem.empty();
}

void ReceiverEmulator::Session::Finish(const std::string& problem) {
    m_report.problem = problem;
    if (m_report.complete) {
        Verify();
    }
    if (m_report.verified && !m_options.savePath.empty()) {
        if (std::FILE* f = std::fopen(m_options.savePath.c_str(), "wb")) {
            std::fwrite(m_report.data.data(), 1, m_report.data.size(), f);
            std::fclose(f);
        }
    }
    m_owner.Publish(m_report);
    m_phase = Phase::Done;
}

std::string ReceiverEmulator::Session::WhyUnfinished() const {
    if (m_restarted) {
        return "restarted after " + std::to_string(m_report.blocksAcknowledged) +
               " blocks, as asked";
    }
    if (m_hungUp) {
        return "hung up after " + std::to_string(m_report.blocksAcknowledged) + " blocks, as asked";
    }
    if (!m_report.startByteSeen) {
        return "the tool never sent the start byte";
    }
    if (!m_report.headerReceived) {
        return "the header was incomplete";
    }
    if (m_options.neverAck) {
        return "the header was never acknowledged, as asked";
    }
    if (m_lastUnacknowledged) {
        return "the last block was never acknowledged, as asked";
    }
    if (m_stoppedReading) {
        return "stopped reading after " + std::to_string(m_options.stopReadingAfterBlocks) +
               " blocks, as asked";
    }
    return "the transfer stopped after " + std::to_string(m_report.data.size()) + " of " +
           std::to_string(m_report.length) + " bytes";
}

void ReceiverEmulator::Run() {
    PlayCycles();
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_done.notify_all();
}

void ReceiverEmulator::PlayCycles() {
    auto powerOn = Clock::now() + m_options.powerOnDelay;
    const int cycles = std::max(1, m_options.cycles);
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        Session session(*this, powerOn);
        session.Play();
        if (m_stop.load() || m_master < 0) {
            return;  // stopped, or the line was pulled for good
        }
        powerOn = Clock::now() + m_options.swapDelay;
    }
}

std::string DescribeReport(const TransferReport& report) {
    char text[256];
    if (report.verified) {
        std::snprintf(
            text, sizeof text,
            "verified: %zu bytes at offset 0x%08" PRIX32 ", checksum 0x%08" PRIX32 ", %.1f KiB/s",
            report.data.size(), report.offset, report.checksum, report.BytesPerSecond() / 1024.0);
        return text;
    }
    return "NOT verified: " + report.problem;
}

}  // namespace velmora::emu
