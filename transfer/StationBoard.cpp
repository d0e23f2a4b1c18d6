#include "transfer/StationBoard.h"

#include <algorithm>
#include <cctype>

#include "serial/PortList.h"

namespace velmora {

namespace {

// A rate is shown once bytes have gone out for this long: before, one
// block's acknowledgement makes it jump.
constexpr std::chrono::milliseconds kRateSettles{200};

}  // namespace

const char* PortStateName(PortState state) {
    switch (state) {
        case PortState::Opening:
            return "opening";
        case PortState::Waiting:
            return "waiting";
        case PortState::WaitingForFile:
            return "waiting for the file";
        case PortState::Sending:
            return "sending";
        case PortState::Finished:
            return "finished";
        case PortState::Failed:
            return "failed";
        case PortState::Dropped:
            return "dropped";
    }
    return "waiting";
}

CStationBoard::CStationBoard(IStationHost* next, Describe describe, Now now)
    : m_next(next),
      m_describe(describe ? std::move(describe) : Describe(DescribeSerialPort)),
      m_now(now ? std::move(now) : Now([] { return Clock::now(); })),
      m_start(m_now()),
      m_startWall(std::chrono::system_clock::now()) {}

CStationBoard::Row& CStationBoard::RowOf(const std::string& port) {
    auto it = m_rows.find(port);
    if (it == m_rows.end()) {
        Row row;
        row.shown.port = port;
        const PortLabel label = m_describe(port);
        row.shown.name = label.name.empty() ? port : label.name;
        row.shown.description = label.description;
        row.order = m_rows.size();
        it = m_rows.emplace(port, std::move(row)).first;
    }
    return it->second;
}

void CStationBoard::Changed() {
    ++m_version;
}

void CStationBoard::AddPort(const std::string& port) {
    std::lock_guard lock(m_mutex);
    RowOf(port);
    Changed();
}

BoardSnapshot CStationBoard::Snapshot() const {
    std::lock_guard lock(m_mutex);
    BoardSnapshot snapshot;
    std::vector<const Row*> rows;
    for (const auto& [port, row] : m_rows) {
        rows.push_back(&row);
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row* a, const Row* b) { return a->order < b->order; });
    for (const Row* row : rows) {
        snapshot.rows.push_back(row->shown);
    }
    snapshot.totals.finished = m_finished;
    snapshot.totals.failed = m_failed;
    snapshot.totals.runningSince = m_startWall;
    const auto running = m_now() - m_start;
    if (running >= kRateAfter) {
        const double hours = std::chrono::duration<double>(running).count() / 3600.0;
        snapshot.totals.receiversPerHour = m_finished / hours;
    }
    return snapshot;
}

std::uint64_t CStationBoard::Version() const {
    std::lock_guard lock(m_mutex);
    return m_version;
}

void CStationBoard::OnWaiting(const std::string& port) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(port);
        row.shown.state = PortState::Waiting;
        row.shown.reason.clear();
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnWaiting(port);
    }
}

void CStationBoard::OnSending(const std::string& port, std::uint64_t total) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(port);
        row.shown.state = PortState::Sending;
        row.shown.sent = 0;
        row.shown.total = total;
        row.shown.bytesPerSecond.reset();
        row.shown.secondsLeft.reset();
        row.sendingSince = m_now();
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnSending(port, total);
    }
}

void CStationBoard::OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(port);
        row.shown.sent = sent;
        row.shown.total = total;
        const auto elapsed = m_now() - row.sendingSince;
        if (sent > 0 && elapsed >= kRateSettles) {
            const double rate =
                static_cast<double>(sent) / std::chrono::duration<double>(elapsed).count();
            row.shown.bytesPerSecond = rate;
            row.shown.secondsLeft = static_cast<double>(total - std::min(sent, total)) / rate;
        }
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnBytesSent(port, sent, total);
    }
}

void CStationBoard::OnJobEnded(const StationJobEnd& end) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(end.port);
        const bool finished = end.outcome == JobOutcome::Finished;
        row.shown.state = finished ? PortState::Finished : PortState::Failed;
        row.shown.lastFailed = !finished;
        row.shown.lastCutShort = end.cutShort;
        row.shown.lastResult = finished ? std::string() : WithoutStartRemedy(end.record.message);
        row.shown.sent = end.record.bytesSent;
        ++(finished ? row.shown.finished : row.shown.failed);
        ++(finished ? m_finished : m_failed);
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnJobEnded(end);
    }
}

void CStationBoard::OnPortDropped(const std::string& port, const std::string& reason) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(port);
        row.shown.state = PortState::Dropped;
        row.shown.reason = reason;
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnPortDropped(port, reason);
    }
}

void CStationBoard::OnWaitingForFile(const std::string& port, const std::string& reason) {
    {
        std::lock_guard lock(m_mutex);
        Row& row = RowOf(port);
        row.shown.state = PortState::WaitingForFile;
        row.shown.reason = reason;
        Changed();
    }
    if (m_next != nullptr) {
        m_next->OnWaitingForFile(port, reason);
    }
}

CStationBoard::PortLabel DescribeSerialPort(const std::string& device) {
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    if (const SerialPortInfo* port = FindPort(ports, device); port != nullptr) {
        return {port->StableName(), port->Description()};
    }
    return {device, {}};
}

std::string WithoutStartRemedy(const std::string& message) {
    std::size_t at = message.find("ress Start");
    if (at == std::string::npos || at == 0) {
        return message;
    }
    at -= 1;  // the P or p
    const std::size_t end = message.find('.', at);
    const std::size_t tail = end == std::string::npos ? message.size() : end + 1;
    const std::string before = message.substr(0, at);
    // The clause that asks for Start: the last part of a sentence (", then
    // press", "; press", " and press"), or a sentence of its own.
    const std::size_t sentence = before.rfind(". ");
    std::size_t from = std::string::npos;
    for (const char* joint : {", then ", "; ", " and ", ", "}) {
        const std::size_t found = before.rfind(joint);
        if (found != std::string::npos && (sentence == std::string::npos || found > sentence) &&
            (from == std::string::npos || found > from)) {
            from = found;
        }
    }
    std::string rest = from != std::string::npos ? message.substr(0, from) + "." : before;
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) {
        rest.pop_back();
    }
    const std::size_t more = message.find_first_not_of(' ', tail);
    return more == std::string::npos ? rest : rest + " " + message.substr(more);
}

}  // namespace velmora
