#include "ui/StationRecord.h"

#include "shop/ShopConnection.h"

namespace velmora::ui {

std::optional<MessageRequest> RecordConnectionOf(const std::string& fieldText,
                                                 std::string& connection) {
    connection.clear();
    if (fieldText.find_first_not_of(" \t") == std::string::npos) {
        return std::nullopt;
    }
    if (fieldText.find('=') == std::string::npos) {
        if (std::string problem = shop::ConnectionFromFile(fieldText, connection);
            !problem.empty()) {
            return MessageRequest{"The shop record cannot be used.", MessageCaption::Application,
                                  problem};
        }
        return std::nullopt;
    }
    if (!shop::CommandLineConnectionProblem(fieldText).empty()) {
        return MessageRequest{
            "The shop record's connection string holds a password, which would show in the "
            "window.",
            MessageCaption::Application,
            "Keep the password in the data source (DSN=name), or put the connection string in "
            "a file that only you may read and give that file's path as the shop record."};
    }
    connection = fieldText;
    return std::nullopt;
}

CStationRecord::CStationRecord(CCallQueue& calls, std::function<void(std::size_t)> waiting,
                               std::function<void(const std::string&)> warning)
    : m_calls(calls), m_waiting(std::move(waiting)), m_warning(std::move(warning)) {}

CStationRecord::~CStationRecord() = default;

std::optional<MessageRequest> CStationRecord::Use(const std::string& fieldText,
                                                  const std::string& log,
                                                  const std::string& bench) {
    std::string connection;
    if (std::optional<MessageRequest> refusal = RecordConnectionOf(fieldText, connection)) {
        return refusal;
    }
    if (!connection.empty() && log.empty()) {
        return MessageRequest{
            "The jobs go to the shop record from the job log, and this system names no folder "
            "for it.",
            MessageCaption::Application, "Choose a job log with Log File, then press Start."};
    }
    const std::string key = connection + '\n' + log + '\n' + bench;
    if (key == m_key && (m_sender != nullptr) == !connection.empty()) {
        return std::nullopt;
    }
    m_sender.reset();
    m_key = key;
    m_waiting(0);
    if (!connection.empty()) {
        shop::ShopSenderSettings settings;
        settings.logPath = log;
        settings.connection = connection;
        settings.bench = bench;
        m_sender = std::make_unique<shop::ShopSender>(settings,
                                                      static_cast<shop::IShopRecordEvents&>(*this));
        m_sender->Start();
    }
    return std::nullopt;
}

void CStationRecord::JobLogged() {
    if (m_sender) {
        m_sender->Nudge();
    }
}

void CStationRecord::OnRecordsWaiting(std::size_t waiting) {
    m_calls.Post([this, waiting] { m_waiting(waiting); });
}

void CStationRecord::OnRecordWarning(const std::string& text) {
    m_calls.Post([this, text] { m_warning(text); });
}

void CStationRecord::OnRecordNotice(const std::string& /*text*/) {
    // The totals line shows the count going back to none.
}

}  // namespace velmora::ui
