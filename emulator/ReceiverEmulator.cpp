#include "emulator/ReceiverEmulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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
};

}  // namespace

ReceiverEmulator::ReceiverEmulator(EmulatorOptions options) : m_options(std::move(options)) {}

ReceiverEmulator::~ReceiverEmulator() {
    Stop();
    for (int* fd : {&m_master, &m_slaveKeepAlive, &m_wake[0], &m_wake[1]}) {
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
    // Hold the slave open ourselves, so that the master does not see a hang-up
    // before the tool has opened the port or after it has closed it.
    m_slaveKeepAlive = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeepAlive < 0) {
        error = std::string("Cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    // A raw line until the tool configures it. The line is never touched again
    // from here: the master shares the slave's settings, and changing them
    // would rewrite the tool's own configuration.
    termios tio{};
    if (::tcgetattr(m_slaveKeepAlive, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slaveKeepAlive, TCSANOW, &tio);
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

void ReceiverEmulator::Run() {
    enum class Phase { Ready, Header, Data, Done };
    Phase phase = Phase::Ready;
    TransferReport report;
    std::vector<std::uint8_t> header;
    std::deque<Outgoing> outgoing;
    std::mt19937 random(12345);
    int readySent = 0;
    const Clock::time_point powerOn = Clock::now() + m_options.powerOnDelay;
    Clock::time_point nextReady = powerOn;
    Clock::time_point startTime;
    // Virtual time at which the line would have delivered the last byte.
    Clock::time_point lineFree = Clock::now();
    std::uint32_t blockFill = 0;
    bool hungUp = false;
    // The transfer is complete; end once the last acknowledgement has gone out.
    bool finishWhenSent = false;

    auto finish = [&](const std::string& problem) {
        report.problem = problem;
        if (report.complete) {
            report.computedChecksum = WordSum(report.data);
            std::string why;
            if (report.computedChecksum != report.checksum) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "checksum mismatch: header says 0x%08" PRIx32
                              ", data sums to 0x%08" PRIx32,
                              report.checksum, report.computedChecksum);
                why = text;
            } else if (m_options.expectedOffset && *m_options.expectedOffset != report.offset) {
                char text[128];
                std::snprintf(text, sizeof text, "offset 0x%08" PRIx32 ", expected 0x%08" PRIx32,
                              report.offset, *m_options.expectedOffset);
                why = text;
            } else if (m_options.expectedData && *m_options.expectedData != report.data) {
                why = "the data differs from the expected file (" +
                      std::to_string(report.data.size()) + " bytes received, " +
                      std::to_string(m_options.expectedData->size()) + " expected)";
            }
            report.verified = why.empty();
            if (!why.empty()) {
                report.problem = why;
            }
        }
        if (report.verified && !m_options.savePath.empty()) {
            if (std::FILE* f = std::fopen(m_options.savePath.c_str(), "wb")) {
                std::fwrite(report.data.data(), 1, report.data.size(), f);
                std::fclose(f);
            }
        }
        std::lock_guard lock(m_mutex);
        m_report = report;
        m_finished = true;
        m_done.notify_all();
        phase = Phase::Done;
    };

    auto queueAck = [&](Clock::time_point earliest) {
        Outgoing ack;
        ack.when = std::max(earliest, Clock::now()) + m_options.ackDelay;
        for (int i = 0; i < m_options.junkBeforeAck; ++i) {
            std::uint8_t junk = static_cast<std::uint8_t>(random() & 0xFF);
            if (junk == kAck) {
                junk = 0x00;
            }
            ack.bytes.push_back(junk);
        }
        ack.bytes.push_back(kAck);
        outgoing.push_back(std::move(ack));
    };

    // Noise before the first ready signal: anything but AB.
    if (m_options.noiseBytes > 0) {
        Outgoing noise{powerOn, {}};
        for (int i = 0; i < m_options.noiseBytes; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(random() & 0xFF);
            noise.bytes.push_back(b == kReadyFirst ? static_cast<std::uint8_t>(0x00) : b);
        }
        outgoing.push_back(std::move(noise));
        nextReady = powerOn + m_options.readyInterval;
    }

    const std::chrono::nanoseconds byteTime =
        m_options.throttleBaud > 0
            ? std::chrono::nanoseconds(10'000'000'000LL / m_options.throttleBaud)
            : std::chrono::nanoseconds(0);

    while (!m_stop.load() && phase != Phase::Done) {
        auto now = Clock::now();
        // Send what is due.
        while (!outgoing.empty() && outgoing.front().when <= now) {
            const auto& bytes = outgoing.front().bytes;
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
                if (n <= 0) {
                    break;  // the tool is not reading: drop the rest
                }
                done += static_cast<std::size_t>(n);
            }
            outgoing.pop_front();
        }
        if (finishWhenSent && outgoing.empty()) {
            finish("");
            break;
        }
        if (phase == Phase::Ready && now >= nextReady) {
            const bool faulty =
                m_options.ready != EmulatorOptions::Ready::Normal &&
                (m_options.faultyReadyCount < 0 || readySent < m_options.faultyReadyCount);
            Outgoing first{now, {kReadyFirst}};
            if (!faulty) {
                first.bytes.push_back(kReadySecond);
            }
            outgoing.push_back(std::move(first));
            if (faulty && m_options.ready == EmulatorOptions::Ready::LateAc) {
                outgoing.push_back({now + kLateAcDelay, {kReadySecond}});
            }
            ++readySent;
            nextReady = now + std::max(m_options.readyInterval,
                                       faulty ? kLateAcDelay + std::chrono::milliseconds(20)
                                              : std::chrono::milliseconds(0));
            continue;
        }
        if (hungUp) {
            break;
        }

        // Sleep until the next event or until the tool sends something.
        Clock::time_point wakeAt = now + std::chrono::milliseconds(200);
        if (!outgoing.empty()) {
            wakeAt = std::min(wakeAt, outgoing.front().when);
        }
        if (phase == Phase::Ready) {
            wakeAt = std::min(wakeAt, nextReady);
        }
        // Acknowledgements are timed to the microsecond when throttling, so
        // the wait is a ppoll with a nanosecond time-out.
        const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(wakeAt - now, Clock::duration::zero()))
                                .count();
        const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000),
                               static_cast<long>(waitNs % 1'000'000'000)};
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int rc = ::ppoll(fds, 2, &timeout, nullptr);
        if (rc < 0 && errno != EINTR) {
            break;
        }
        if (rc <= 0) {
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            break;  // Stop()
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        const auto arrival = Clock::now();
        for (ssize_t i = 0; i < n && !finishWhenSent && !hungUp; ++i) {
            const std::uint8_t byte = buffer[i];
            lineFree = std::max(lineFree, arrival) + byteTime;
            switch (phase) {
                case Phase::Ready:
                    if (byte == kStartByte) {
                        report.startByteSeen = true;
                        startTime = arrival;
                        phase = Phase::Header;
                        outgoing.clear();  // no more ready signals
                    }
                    break;
                case Phase::Header:
                    header.push_back(byte);
                    if (header.size() == kHeaderSize) {
                        report.headerReceived = true;
                        report.offset = LittleEndian32(header.data());
                        report.length = LittleEndian32(header.data() + 4);
                        report.checksum = LittleEndian32(header.data() + 8);
                        report.data.reserve(report.length);
                        if (m_options.neverAck) {
                            phase = Phase::Data;
                            break;
                        }
                        queueAck(lineFree);
                        if (report.length == 0) {
                            report.complete = true;
                            report.seconds =
                                std::chrono::duration<double>(lineFree - startTime).count();
                            finishWhenSent = true;
                        } else {
                            phase = Phase::Data;
                        }
                    }
                    break;
                case Phase::Data: {
                    if (m_options.neverAck) {
                        break;
                    }
                    report.data.push_back(byte);
                    ++blockFill;
                    const std::uint32_t remaining =
                        report.length - static_cast<std::uint32_t>(report.data.size());
                    if (blockFill == kBlockSize || remaining == 0) {
                        blockFill = 0;
                        ++report.blocksAcknowledged;
                        if (m_options.hangupAfterBlocks >= 0 &&
                            static_cast<int>(report.blocksAcknowledged) >
                                m_options.hangupAfterBlocks) {
                            --report.blocksAcknowledged;
                            hungUp = true;
                            break;
                        }
                        queueAck(lineFree);
                        if (remaining == 0) {
                            report.complete = true;
                            report.seconds = std::chrono::duration<double>(
                                                 std::max(lineFree, arrival) - startTime)
                                                 .count();
                            finishWhenSent = true;
                        }
                    }
                    break;
                }
                case Phase::Done:
                    break;
            }
        }
    }

    if (hungUp) {
        // Pull the cable: close our side of the line, and our hold on the slave.
        ::close(m_master);
        m_master = -1;
        ::close(m_slaveKeepAlive);
        m_slaveKeepAlive = -1;
    }
    if (phase != Phase::Done) {
        std::string problem;
        if (hungUp) {
            problem =
                "hung up after " + std::to_string(report.blocksAcknowledged) + " blocks, as asked";
        } else if (!report.startByteSeen) {
            problem = "the tool never sent the start byte";
        } else if (!report.headerReceived) {
            problem = "the header was incomplete";
        } else if (m_options.neverAck) {
            problem = "the header was never acknowledged, as asked";
        } else {
            problem = "the transfer stopped after " + std::to_string(report.data.size()) + " of " +
                      std::to_string(report.length) + " bytes";
        }
        report.seconds = report.startByteSeen
                             ? std::chrono::duration<double>(Clock::now() - startTime).count()
                             : 0.0;
        finish(problem);
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
