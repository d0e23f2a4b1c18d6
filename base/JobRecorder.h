// Gathers the job log's record of one job from what the job reports, while
// passing every report on to the host that shows it. The host hands the
// recorder's events and message box to the controller in place of its own,
// calls Begin as the job starts and Finish once it has ended.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobLog.h"

namespace velmora {

class JobRecorder final : public IJobEvents {
public:
    JobRecorder(IJobEvents& events, IMessageBox& messages);

    IMessageBox& Messages() { return m_messages; }

    // A new job starts (the port is open, the receiver not yet ready).
    void Begin();
    // The record of the job begun last. `outcome` is the engine's name for
    // how it ended ("finished", "timed out", ...). The record starts when
    // the receiver gave its ready signal, or at Begin when it never did.
    JobRecord Finish(const std::string& outcome);

    void OnPhase(JobPhase phase) override;
    void OnConversionReport(const ConversionReport& report) override;
    // Takes the digest of the bytes to send from the plan, and that of the
    // channel list they were converted from.
    void OnPlan(const TransferPlan& plan) override;
    void OnBytesSent(std::uint64_t sent, std::uint64_t total) override;
    void OnReceiverSilent(std::chrono::milliseconds silentFor) override;
    void OnNotice(const std::string& text) override;
    void OnEnded() override;

private:
    class MessageTap final : public IMessageBox {
    public:
        MessageTap(JobRecorder& recorder, IMessageBox& messages)
            : m_recorder(recorder), m_messages(messages) {}
        using IMessageBox::Show;
        void Show(const std::string& text, MessageCaption caption) override;

    private:
        JobRecorder& m_recorder;
        IMessageBox& m_messages;
    };

    IJobEvents& m_events;
    MessageTap m_messages;
    std::mutex m_mutex;  // the worker reports while the host may read
    JobRecord m_record;
    std::chrono::system_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_startedSteady;
};

}  // namespace velmora
