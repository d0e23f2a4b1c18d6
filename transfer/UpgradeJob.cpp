// One upgrade job, start to end: the conversion of a channel list, the wait
// for the receiver, the header and the acknowledged blocks, the completion.
#include "transfer/UpgradeJob.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/InputFile.h"
#include "base/Sha256.h"
#include "sdx/ConversionChain.h"
#include "sdx/DatabaseImage.h"
#include "sdx/ListFormat.h"
#include "transfer/JobChecks.h"
#include "transfer/UpgradeProtocol.h"

namespace velmora {

namespace {

constexpr const char* kReadyPhase = "waiting for the receiver's ready signal";

enum class SumResult { Ok, NoMemory, Short };

// The header's checksum over the first `length` bytes of `file`, read 2 MiB
// at a time from where the file stands, and their SHA-256 as hex digits.
SumResult SumFile(InputFile& file, std::uint32_t length, std::uint32_t& checksum,
                  std::string& sha256) {
    std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChecksumChunk]);
    if (!chunk) {
        return SumResult::NoMemory;
    }
    checksum = 0;
    Sha256 digest;
    std::uint32_t left = length;
    while (left > 0) {
        const std::uint32_t want = std::min(left, kChecksumChunk);
        const std::size_t got = file.Read(chunk.get(), want);
        checksum += WordSum16(chunk.get(), static_cast<std::uint32_t>(got));
        digest.Update(chunk.get(), got);
        left -= static_cast<std::uint32_t>(got);
        if (got < want) {
            break;
        }
    }
    sha256 = digest.Hex();
    return left == 0 ? SumResult::Ok : SumResult::Short;
}

// "10", "0.4", "2.5": a wait limit in seconds as the user gave it.
std::string SecondsText(std::chrono::milliseconds limit) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(limit.count()) / 1000.0);
    return text;
}

class UpgradeJob {
public:
    UpgradeJob(JobSettings& settings, JobEnvironment& env, std::stop_token stop)
        : m_settings(settings), m_env(env), m_stop(std::move(stop)) {}

    JobOutcome Run();

private:
    enum class Wait { Ok, Cancelled, Lost, TimedOut, Restarted };

    Wait PumpMessages();
    void StartWaitClock() { m_waitStart = std::chrono::steady_clock::now(); }
    void BlockUntilData() {
        if (m_env.port.BytesWaiting() == 0) {
            m_env.port.WaitForData(kPollSlice);
        }
    }
    Wait WaitReadySignal();
    Wait WaitAck();
    bool SendPaced(const std::uint8_t* data, std::uint32_t count, std::int64_t thresholdMicros);
    JobOutcome EndAfterStall(std::uint32_t sent);
    bool FileUnchanged() const;

    // The phases of a job, in order. Each returns an outcome when the job
    // ends there, nothing when it goes on.
    std::optional<JobOutcome> Convert();
    std::optional<JobOutcome> OpenFileToSend();
    std::optional<JobOutcome> CheckFileUnchanged();
    std::optional<JobOutcome> ComputeChecksum();
    std::optional<JobOutcome> SendHeader();
    std::optional<JobOutcome> SendBlocks();
    std::optional<JobOutcome> CheckSentData(std::uint32_t sum, Sha256& digest, std::uint32_t sent);
    JobOutcome Complete();

    std::optional<JobOutcome> AnnouncePlan();
    JobOutcome EndAfterWait(Wait wait, const std::string& phase);
    std::string CannotOpenText(const std::string& error) const;
    JobOutcome EndWithMessage(JobOutcome outcome, const std::string& text);
    JobOutcome EndAfterSum(SumResult sum);
    IJobEvents& Events() { return m_env.events != nullptr ? *m_env.events : NoJobEvents(); }
    std::string PortName() const { return m_env.port.DeviceName(); }
    std::string SentSoFar(std::uint32_t sent) const {
        return std::to_string(sent) + " of " + std::to_string(m_length) + " bytes sent";
    }

    JobSettings& m_settings;
    JobEnvironment& m_env;
    std::stop_token m_stop;
    std::string m_sendPath;
    InputFile m_file;
    std::uint32_t m_length = 0;
    // The header's checksum and the digest of the bytes it was made of: as
    // planned before the wait, and as read again once the receiver is ready.
    std::uint32_t m_checksum = 0;
    std::uint32_t m_plannedChecksum = 0;
    std::string m_sha256;
    std::string m_plannedSha256;
    FileIdentity m_identity;
    // Bytes came during the wait for the ready signal, but never the signal.
    bool m_readyWaitHeardBytes = false;
    std::chrono::steady_clock::time_point m_waitStart;
};

UpgradeJob::Wait UpgradeJob::PumpMessages() {
    if (m_stop.stop_requested()) {
        return Wait::Cancelled;
    }
    if (m_env.port.IsDeviceLost()) {
        return Wait::Lost;
    }
    if (m_env.waitLimit.count() > 0 &&
        std::chrono::steady_clock::now() - m_waitStart >= m_env.waitLimit) {
        return Wait::TimedOut;
    }
    return Wait::Ok;
}

UpgradeJob::Wait UpgradeJob::WaitReadySignal() {
    StartWaitClock();
    for (;;) {
        bool complete = false;
        if (m_env.port.BytesWaiting() != 0) {
            std::uint8_t first = 0;
            m_readyWaitHeardBytes = true;
            if (m_env.port.Read(&first, 1) == 1 && first == kReadyFirst) {
                m_env.clock.Sleep(kReadySettle);
                std::uint8_t second = 0;
                // Nothing queued after the settle time counts as a mismatch.
                complete = m_env.port.Read(&second, 1) == 1 && second == kReadySecond;
            }
        }
        if (const Wait w = PumpMessages(); w != Wait::Ok) {
            return w;
        }
        if (complete) {
            return Wait::Ok;
        }
        BlockUntilData();
    }
}

UpgradeJob::Wait UpgradeJob::WaitAck() {
    StartWaitClock();
    bool toldSilent = m_env.silenceNotice.count() <= 0;
    std::uint8_t previous = 0;
    for (;;) {
        if (m_env.port.BytesWaiting() != 0) {
            std::uint8_t byte = 0;
            if (m_env.port.Read(&byte, 1) == 1) {
                if (byte == kAck) {
                    return Wait::Ok;
                }
                // A boot loader that restarted announces itself again.
                if (previous == kReadyFirst && byte == kReadySecond) {
                    return Wait::Restarted;
                }
                previous = byte;
            }
            // Any other byte is dropped and the wait goes on.
        }
        if (const Wait w = PumpMessages(); w != Wait::Ok) {
            return w;
        }
        if (!toldSilent && std::chrono::steady_clock::now() - m_waitStart >= m_env.silenceNotice) {
            toldSilent = true;
            Events().OnReceiverSilent(m_env.silenceNotice);
        }
        BlockUntilData();
    }
}

// Through the pacer, which drops what came from the receiver just before the
// last byte goes out: a stray or duplicate 4F that arrives while the block
// (or the header) is still going out cannot stand for its acknowledgement.
// False when the port stopped taking bytes (the receiver no longer reads
// the line); a cancelled job's transfer is cut short too, and its next wait
// says so.
bool UpgradeJob::SendPaced(const std::uint8_t* data, std::uint32_t count,
                           std::int64_t thresholdMicros) {
    return m_env.pacer.Send(m_env.port, data, count, thresholdMicros, m_stop) == count ||
           m_stop.stop_requested();
}

JobOutcome UpgradeJob::EndAfterStall(std::uint32_t sent) {
    return EndWithMessage(
        JobOutcome::TimedOut,
        "The receiver on " + PortName() + " stopped taking data: the line took no byte for " +
            SecondsText(kWriteTimeoutPerByte + kWriteTimeoutConstant) + " s (" + SentSoFar(sent) +
            "). The upgrade did not finish; check the cable and the receiver, then press Start "
            "to send it again.");
}

JobOutcome UpgradeJob::EndWithMessage(JobOutcome outcome, const std::string& text) {
    m_env.port.Close();
    if (outcome != JobOutcome::Cancelled && !m_stop.stop_requested()) {
        m_env.messages.Show(outcome == JobOutcome::TimedOut ? m_env.port.WithHolderHint(text)
                                                            : text);
        m_env.sendBar.SetPos(0);
        m_env.analyseBar.SetPos(0);
    }
    return outcome;
}

JobOutcome UpgradeJob::EndAfterWait(Wait wait, const std::string& phase) {
    switch (wait) {
        case Wait::Cancelled:
            m_env.port.Close();
            return JobOutcome::Cancelled;
        case Wait::Lost:
            return EndWithMessage(
                JobOutcome::DeviceLost,
                "The serial port " + PortName() + " went away while " + phase +
                    " (cable pulled or adapter removed). Nothing was finished. Reconnect the "
                    "receiver and press Start to upgrade again.");
        case Wait::TimedOut:
            if (m_readyWaitHeardBytes && phase == kReadyPhase) {
                return EndWithMessage(
                    JobOutcome::TimedOut,
                    "Bytes came from the receiver on " + PortName() +
                        ", but never its ready signal within " + SecondsText(m_env.waitLimit) +
                        " s. The baud rate probably does not match the receiver's: check it "
                        "(115200 for most receivers), then press Start again.");
            }
            return EndWithMessage(JobOutcome::TimedOut,
                                  "The receiver did not answer within " +
                                      SecondsText(m_env.waitLimit) + " s while " + phase +
                                      ". Check the cable and that the receiver is in its boot "
                                      "loader, then press Start again.");
        case Wait::Restarted:
            return EndWithMessage(JobOutcome::ReceiverRestarted,
                                  "The receiver restarted during the upgrade (it sent its ready "
                                  "signal again); the upgrade did not finish. Press Start to "
                                  "upgrade it again.");
        case Wait::Ok:
            break;
    }
    return JobOutcome::Finished;
}

std::string UpgradeJob::CannotOpenText(const std::string& error) const {
    if (error == kNotRegularFile) {
        return "Cannot send " + m_sendPath + ": " + kNotRegularFile +
               ". Choose the program or database image file itself, then press Start again.";
    }
    return "Cannot open the file to send, " + m_sendPath + ": " + error +
           ". Check that it exists and can be read, then press Start again.";
}

// A channel list is converted first; the job may end there.
std::optional<JobOutcome> UpgradeJob::Convert() {
    Events().OnPhase(JobPhase::Converting);
    const ChainResult chain =
        RunConversionChain(m_settings, m_env.analyseBar, m_env.messages, m_stop);
    if (chain.hasReport && !m_stop.stop_requested()) {
        Events().OnConversionReport(chain.report);
    }
    if (m_stop.stop_requested()) {
        m_env.port.Close();
        return JobOutcome::Cancelled;
    }
    if (chain.status == ChainStatus::Refused) {
        m_env.port.Close();
        m_env.analyseBar.SetPos(0);
        m_env.messages.Show(chain.message);
        return JobOutcome::Refused;
    }
    if (chain.status == ChainStatus::Failed) {
        return EndWithMessage(JobOutcome::ConversionFailed, chain.message);
    }
    return std::nullopt;
}

// The converted image, or the chosen file itself; its length goes into the header.
std::optional<JobOutcome> UpgradeJob::OpenFileToSend() {
    if (m_settings.bConverted != 0) {
        m_sendPath = WorkFilePath(m_settings, m_settings.szImageName);
    } else {
        m_sendPath = m_settings.strFilePath;
    }
    if (m_env.image) {
        m_file.OpenBytes(m_env.image);
    } else if (!m_file.Open(m_sendPath)) {
        return EndWithMessage(JobOutcome::FileError, CannotOpenText(m_file.Error()));
    }
    const std::uint64_t fileLength = m_file.Length();
    if (fileLength > kLargestTransfer) {
        return EndWithMessage(
            JobOutcome::FileError,
            "The file " + m_sendPath + " is too large to send: the receiver takes at most 4 GiB.");
    }
    m_length = static_cast<std::uint32_t>(fileLength);
    // What the file is now: it must still be so when the receiver answers.
    m_file.Identity(m_identity);
    m_env.analyseBar.SetPos(100);
    return AnnouncePlan();
}

// Tells the host what goes where before the job waits for the receiver. The
// header's checksum is computed again once the receiver is ready, through the
// same handle, and must come out the same.
std::optional<JobOutcome> UpgradeJob::AnnouncePlan() {
    if (const SumResult sum = SumFile(m_file, m_length, m_plannedChecksum, m_plannedSha256);
        sum != SumResult::Ok) {
        return EndAfterSum(sum);
    }
    TransferPlan plan;
    plan.filePath = m_sendPath;
    plan.sourceList = m_settings.bConverted != 0 ? m_settings.strFilePath : std::string();
    plan.length = m_length;
    plan.checksum = m_plannedChecksum;
    plan.sha256 = m_plannedSha256;
    plan.type = m_settings.nUpgradeType;
    plan.flashOffset = FlashOffsetOf(m_settings);
    plan.device = PortName();
    plan.holderHint = m_env.port.HolderHint();
    Events().OnPlan(plan);
    return std::nullopt;
}

JobOutcome UpgradeJob::EndAfterSum(SumResult sum) {
    if (sum == SumResult::NoMemory) {
        return EndWithMessage(JobOutcome::FileError,
                              "Not enough memory to compute the checksum of " + m_sendPath +
                                  ". Close other programs and press Start again.");
    }
    return EndWithMessage(JobOutcome::FileShrank,
                          "The file " + m_sendPath +
                              " became shorter while it was being read. Do not change "
                              "the file during an upgrade; press Start to send it again.");
}

// The open file, and the file its name stands for now, are still the ones
// planned: not grown, rewritten or replaced while the receiver was awaited.
bool UpgradeJob::FileUnchanged() const {
    if (m_file.InMemory()) {
        return true;
    }
    FileIdentity now;
    FileIdentity named;
    return m_file.Identity(now) && now == m_identity &&
           InputFile::PathIdentity(m_sendPath, named) && named == m_identity;
}

// A job that takes the file as it is when the receiver announces itself
// opens and plans it afresh instead.
std::optional<JobOutcome> UpgradeJob::CheckFileUnchanged() {
    if (FileUnchanged()) {
        return std::nullopt;
    }
    if (m_env.takeFileWhenReady) {
        m_file.Close();
        return OpenFileToSend();
    }
    return EndWithMessage(JobOutcome::FileChanged,
                          m_sendPath +
                              " changed while waiting for the receiver (it grew, was rewritten "
                              "or was replaced). Nothing was sent; once the file is complete, "
                              "press Start to send it again.");
}

// 2 MiB at a time from the first byte, never past the length that the header
// announces. The sum must be the one planned: the data is the file as planned.
std::optional<JobOutcome> UpgradeJob::ComputeChecksum() {
    m_file.Rewind();
    if (const SumResult sum = SumFile(m_file, m_length, m_checksum, m_sha256);
        sum != SumResult::Ok) {
        return EndAfterSum(sum);
    }
    if (m_checksum != m_plannedChecksum || m_sha256 != m_plannedSha256) {
        return EndWithMessage(JobOutcome::FileChanged,
                              m_sendPath +
                                  " changed while waiting for the receiver (its content is no "
                                  "longer what was planned). Nothing was sent; once the file is "
                                  "complete, press Start to send it again.");
    }
    return std::nullopt;
}

// The 12 header bytes and their acknowledgement; then the data is read from
// the start of the same open file.
std::optional<JobOutcome> UpgradeJob::SendHeader() {
    const UpgradeHeader header{FlashOffsetOf(m_settings), m_length, m_checksum};
    const auto bytes = header.Bytes();
    if (!SendPaced(bytes.data(), static_cast<std::uint32_t>(bytes.size()), kHeaderGapMicros)) {
        return EndAfterStall(0);
    }
    if (const Wait w = WaitAck(); w != Wait::Ok) {
        return EndAfterWait(w, "waiting for the receiver to accept the header");
    }
    m_file.Rewind();
    return std::nullopt;
}

// Before the last block goes out: the data read for sending, word sum and
// digest, is the data the header's checksum was made of. A file rewritten
// during the transfer is never completed on the receiver, even when the
// rewrite leaves the word sum as it was (two words swapped).
std::optional<JobOutcome> UpgradeJob::CheckSentData(std::uint32_t sum, Sha256& digest,
                                                    std::uint32_t sent) {
    if (sum == m_checksum && digest.Hex() == m_sha256) {
        return std::nullopt;
    }
    return EndWithMessage(JobOutcome::FileChanged,
                          m_sendPath + " changed during the transfer (" + SentSoFar(sent) +
                              "): its data is no longer what the checksum sent in the header "
                              "was made of, so the last block was held back and the upgrade did "
                              "not finish. "
                              "Do not change the file during an upgrade; press Start to send it "
                              "again.");
}

std::optional<JobOutcome> UpgradeJob::SendBlocks() {
    std::uint32_t sent = 0;
    std::uint32_t sum = 0;
    Sha256 digest;
    std::uint32_t lastPercent = 0;
    std::array<std::uint8_t, kBlockSize> block{};
    while (sent < m_length) {
        block.fill(0);
        const std::uint32_t want = std::min(kBlockSize, m_length - sent);
        const auto n = static_cast<std::uint32_t>(m_file.Read(block.data(), want));
        // A short block would leave the receiver waiting for the rest of it and
        // the tool waiting for its acknowledgement: end here instead.
        if (n < want) {
            return EndWithMessage(JobOutcome::FileShrank,
                                  "The file " + m_sendPath +
                                      " became shorter during the transfer (" + SentSoFar(sent) +
                                      "). Do not change the file during an upgrade; press Start "
                                      "to send it again.");
        }
        // Whole blocks are even: the words of the header's sum line up.
        sum += WordSum16(block.data(), n);
        digest.Update(block.data(), n);
        if (sent + n == m_length) {
            if (const auto end = CheckSentData(sum, digest, sent)) {
                return end;
            }
        }
        if (!SendPaced(block.data(), n, kDataGapMicros)) {
            return EndAfterStall(sent);
        }
        sent += n;
        if (const Wait w = WaitAck(); w != Wait::Ok) {
            return EndAfterWait(w, "sending the data (" + SentSoFar(sent) + ")");
        }
        Events().OnBytesSent(sent, m_length);
        const auto percent =
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(sent) * 100U / m_length);
        if (percent != lastPercent) {
            m_env.sendBar.SetPos(static_cast<int>(percent));
            lastPercent = percent;
        }
        if (sent < m_length) {
            if (const Wait w = PumpMessages(); w != Wait::Ok) {
                return EndAfterWait(w, "sending the data (" + SentSoFar(sent) + ")");
            }
        }
    }
    return std::nullopt;
}

JobOutcome UpgradeJob::Complete() {
    m_env.sendBar.SetPos(100);
    m_file.Close();
    // What is still queued for the line goes out before the port is closed;
    // closing would discard it.
    if (!m_env.port.DrainOutput(kDrainBound)) {
        if (const Wait w = PumpMessages(); w == Wait::Cancelled || w == Wait::Lost) {
            return EndAfterWait(w, "sending the last bytes");
        }
        return EndWithMessage(JobOutcome::TimedOut,
                              "The last bytes of " + m_sendPath + " did not leave " + PortName() +
                                  " within " + SecondsText(kDrainBound) +
                                  " s (the line is held). The upgrade may be incomplete; check "
                                  "the cable and press Start to send it again.");
    }
    m_env.port.Close();
    if (!m_stop.stop_requested()) {
        m_env.messages.Show(kFinishMessage);
        m_env.sendBar.SetPos(0);
        m_env.analyseBar.SetPos(0);
    }
    return JobOutcome::Finished;
}

JobOutcome UpgradeJob::Run() {
    // Wake any wait on the port as soon as the host cancels the job.
    std::stop_callback wake(m_stop, [this] { m_env.port.Interrupt(); });

    m_settings.bConverted = 0;
    m_env.sendBar.SetRange(0, 100);
    m_env.sendBar.SetPos(0);
    m_env.analyseBar.SetRange(0, 100);
    m_env.analyseBar.SetPos(0);

    if (IsChannelList(m_settings.strFilePath)) {
        if (const auto end = Convert()) {
            return *end;
        }
    }
    if (const auto end = OpenFileToSend()) {
        return *end;
    }
    Events().OnPhase(JobPhase::WaitingForReceiver);
    if (const Wait w = WaitReadySignal(); w != Wait::Ok) {
        return EndAfterWait(w, kReadyPhase);
    }
    if (const auto end = CheckFileUnchanged()) {
        return *end;
    }
    m_env.port.WriteByte(kStartByte);
    Events().OnPhase(JobPhase::Sending);
    for (auto phase :
         {&UpgradeJob::ComputeChecksum, &UpgradeJob::SendHeader, &UpgradeJob::SendBlocks}) {
        if (const auto end = (this->*phase)()) {
            return *end;
        }
    }
    return Complete();
}

}  // namespace

JobOutcome RunUpgradeJob(JobSettings& settings, JobEnvironment& env, std::stop_token stop) {
    UpgradeJob job(settings, env, std::move(stop));
    return job.Run();
}

}  // namespace velmora
