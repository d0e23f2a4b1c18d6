#include "base/JobRecorder.h"

#include "base/Sha256.h"

namespace velmora {

JobRecorder::JobRecorder(IJobEvents& events, IMessageBox& messages)
    : m_events(events), m_messages(*this, messages) {}

void JobRecorder::Begin() {
    const std::lock_guard lock(m_mutex);
    m_record = JobRecord{};
    m_started = std::chrono::system_clock::now();
    m_startedSteady = std::chrono::steady_clock::now();
}

JobRecord JobRecorder::Finish(const std::string& outcome) {
    const std::lock_guard lock(m_mutex);
    m_record.started = UtcTimestamp(m_started);
    m_record.ended = UtcTimestamp(std::chrono::system_clock::now());
    m_record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_startedSteady).count();
    m_record.outcome = outcome;
    return m_record;
}

void JobRecorder::OnPhase(JobPhase phase) {
    if (phase == JobPhase::Sending) {
        const std::lock_guard lock(m_mutex);
        m_started = std::chrono::system_clock::now();
        m_startedSteady = std::chrono::steady_clock::now();
    }
    m_events.OnPhase(phase);
}

void JobRecorder::OnConversionReport(const ConversionReport& report) {
    m_events.OnConversionReport(report);
}

void JobRecorder::OnPlan(const TransferPlan& plan) {
    // An unreadable list keeps its digest empty: the job says why itself.
    std::string ignored;
    std::string listDigest =
        plan.sourceList.empty() ? std::string() : Sha256OfFile(plan.sourceList, ignored);
    {
        const std::lock_guard lock(m_mutex);
        m_record.port = plan.device;
        m_record.file = plan.filePath;
        m_record.size = plan.length;
        m_record.sha256 = plan.sha256;
        m_record.list = plan.sourceList;
        m_record.listSha256 = std::move(listDigest);
        m_record.type = UpgradeTypeText(plan.type);
        m_record.offset = plan.flashOffset;
    }
    m_events.OnPlan(plan);
}

void JobRecorder::OnBytesSent(std::uint64_t sent, std::uint64_t total) {
    {
        const std::lock_guard lock(m_mutex);
        m_record.bytesSent = sent;
    }
    m_events.OnBytesSent(sent, total);
}

void JobRecorder::OnReceiverSilent(std::chrono::milliseconds silentFor) {
    m_events.OnReceiverSilent(silentFor);
}

void JobRecorder::OnNotice(const std::string& text) {
    m_events.OnNotice(text);
}

void JobRecorder::OnEnded() {
    m_events.OnEnded();
}

void JobRecorder::MessageTap::Show(const std::string& text, MessageCaption caption) {
    {
        const std::lock_guard lock(m_recorder.m_mutex);
        m_recorder.m_record.message = text;
    }
    m_messages.Show(text, caption);
}

}  // namespace velmora
