// The station window's shop record: the "Shop record" field read as an ODBC
// connection string (DSN=name, or Driver=...;Server=...) or as the path of a
// file holding one, and the sender that puts every logged job into the shop
// database. The sender stays while the window is open, so records that wait
// for a server that is away go on being sent between runs.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shop/ShopSender.h"
#include "ui/CallQueue.h"
#include "ui/SettingsExchange.h"

namespace velmora::ui {

// What the field's text names: the connection string in `connection`, or a
// box saying what is wrong and what to do. Empty text: no shop record.
std::optional<MessageRequest> RecordConnectionOf(const std::string& fieldText,
                                                 std::string& connection);

class CStationRecord final : private shop::IShopRecordEvents {
public:
    // Told on the UI thread, through `calls`: the records waiting (0 once the
    // record has them all), and a warning (once per outage, or a job the
    // record refused).
    CStationRecord(CCallQueue& calls, std::function<void(std::size_t)> waiting,
                   std::function<void(const std::string&)> warning);
    ~CStationRecord() override;

    // UI thread, with no run on: sends the jobs of `log` to the record that
    // `fieldText` names, stamped for `bench`. A box when the field cannot be
    // used; the sender of an earlier run goes on when nothing changed.
    std::optional<MessageRequest> Use(const std::string& fieldText, const std::string& log,
                                      const std::string& bench);
    // Any thread: a job was appended to the log.
    void JobLogged();

private:
    void OnRecordsWaiting(std::size_t waiting) override;
    void OnRecordWarning(const std::string& text) override;
    void OnRecordNotice(const std::string& text) override;

    CCallQueue& m_calls;
    std::function<void(std::size_t)> m_waiting;
    std::function<void(const std::string&)> m_warning;
    std::string m_key;  // the connection, log and bench of m_sender
    std::unique_ptr<shop::ShopSender> m_sender;
};

}  // namespace velmora::ui
