// What the station window means, apart from any toolkit: the job chosen (the
// file, the settings of the main dialog's settings area, the ports, one
// receiver per port or on and on, the job log, sound), the checks that refuse
// it before any port opens, the run (a station with its board, every USB
// adapter followed where asked), Stop, and the tiles and totals drawn from
// the board. A view (Qt, Win32) builds the window from its template
// (DialogTemplates.h), implements IStationView, calls OnTimer every kTick and
// forwards the user's commands here.
//
// Threads: the commands, OnTimer and the view run on the UI thread. The
// checks, the conversion and the opening of the ports run on a start-up
// thread of their own; the station's events come on its threads. Both come
// back to the UI thread through the view's call queue, by posted calls only,
// so that the UI thread may wait for the station without a deadlock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/JobSettings.h"
#include "serial/PortList.h"
#include "serial/PortMonitor.h"
#include "transfer/StationBoard.h"
#include "ui/CallQueue.h"
#include "ui/SettingsExchange.h"
#include "ui/StationRecord.h"

namespace velmora::ui {

struct FileFilter;

// The job of a station as the window starts it: from the command line
// (velmora --station), from the main dialog, then as the technician changes it.
struct StationChoices {
    std::string file;  // UTF-8 full path; empty while none is chosen
    DialogValues values;
    // The ports to tick, as the station opens them ("COM3", "/dev/ttyUSB0",
    // a by-id link); one that the system does not list is listed all the same.
    std::vector<std::string> ports;
    bool everyAdapter = false;  // every USB serial adapter, also those plugged in later
    bool once = false;          // one receiver per port, then the port is done
    std::string log;            // the job log; empty: DefaultJobLogPath()
    bool sound = true;
    bool force = false;   // go on with a file that looks wrong for the job
    std::string workDir;  // the conversion's working files; empty: the current folder
    std::chrono::milliseconds waitLimit{0};  // longest silence of a receiver; zero for ever
    ListChoice listChoice;                   // the services an Enigma2 or VDR list gives the image
    // The "Shop record" field: an ODBC connection string without a password
    // (DSN=name), or the path of a file holding one; empty for none.
    std::string record;
    std::string bench;  // this bench's name in the shop record; empty: the computer's
};

// One entry of the port list.
struct StationPortItem {
    std::string device;  // what the station opens
    std::string text;    // "/dev/ttyUSB0 – FT232R USB UART", "COM11 – USB Serial Port"
    bool checked = false;

    bool operator==(const StationPortItem&) const = default;
};

// A tile's colour class; the views map each to their colours (TileColoursOf).
enum class TileColour { Neutral, Sending, Finished, Failed, Dropped };

// One port as its tile shows it, in the window's words.
struct StationTile {
    std::string port;  // the device, as the station opened it
    std::string name;
    std::string description;
    std::string state;   // "Waiting for the receiver", "Sending 43 %", "Finished", ...
    std::string detail;  // the rate and time left, or the reason and what to do
    std::string counts;  // "2 finished, 1 failed"
    TileColour colour = TileColour::Neutral;
    int percent = -1;  // the bar while sending; -1 for none

    bool operator==(const StationTile&) const = default;
};

// The tile of a board row. `once`: each port serves one receiver, so a failed
// receiver is upgraded by pressing Start again; otherwise the port serves it
// again once it is switched off and on.
StationTile TileOf(const BoardRow& row, bool once);

// The line above the tiles: "Finished 3 · Failed 1 · 38.5 receivers per hour ·
// running since 14:02" ("ran from 14:02 to 16:40" once `ended`), and the shop
// records waiting to be sent, when known.
std::string TotalsText(const BoardTotals& totals, std::optional<int> recordsWaiting,
                       std::optional<std::chrono::system_clock::time_point> ended = {});

// Colours as 0xRRGGBB.
struct TileColours {
    std::uint32_t background;
    std::uint32_t border;
    std::uint32_t text;
};
TileColours TileColoursOf(TileColour colour);
inline constexpr std::uint32_t kTileBarColour = 0x3C78D8;

// Where the tiles go in an area of `width` x `height` pixels: a grid as wide
// as the count needs, each tile at most kTileMaxHeight high, kTileGap apart.
struct TileRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};
inline constexpr int kTileGap = 6;
inline constexpr int kTileMaxHeight = 220;
std::vector<TileRect> LayoutTiles(std::size_t count, int width, int height);

enum class StationSound { JobFinished, JobFailed };

// The question before the window closes while receivers are being upgraded.
inline constexpr const char* kStopStationQuestion =
    "Receivers are being upgraded. Stop every port and close?";

// What the model asks of the window, beyond the settings' controls. All calls
// come on the UI thread. Texts are UTF-8.
class IStationView : public ISettingsControls {
public:
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // Replaces the port list's items, in this order, with their check marks.
    virtual void SetPortItems(const std::vector<StationPortItem>& items) = 0;
    // The check marks of the port list's items, in order.
    virtual std::vector<bool> PortChecks() = 0;
    // The tiles, in order; those at `changed` are drawn again (a different
    // count draws them all).
    virtual void ShowTiles(const std::vector<StationTile>& tiles,
                           const std::vector<std::size_t>& changed) = 0;
    // A modal question with Yes and No, No the default; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // The common open-file dialog; the chosen full path, nothing when cancelled.
    virtual std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) = 0;
    // A file for the job log, starting at `current`: a save dialog that does
    // not ask about an existing file (jobs are appended to it).
    virtual std::optional<std::string> ChooseLogFile(const std::string& current) = 0;
    virtual void PlaySound(StationSound sound) = 0;
};

// What the model takes from the system; a test gives its own.
struct StationServices {
    std::function<std::vector<SerialPortInfo>()> listPorts;      // default ListSerialPorts
    std::function<std::unique_ptr<IPortMonitor>()> makeMonitor;  // default MakePortMonitor
};

class CStationModel {
public:
    // How often the view calls OnTimer: no tile is drawn more often.
    static constexpr std::chrono::milliseconds kTick{100};

    CStationModel(IStationView& view, CCallQueue& calls, StationChoices choices,
                  StationServices services = {});
    // Ends a run first (EndRun).
    ~CStationModel();

    CStationModel(const CStationModel&) = delete;
    CStationModel& operator=(const CStationModel&) = delete;

    // The lists hold their items: the choices into the controls.
    void OnInitDialog();
    void OnSelectFile();
    void OnSelectLogFile();
    // A new selection in the Upgrade Type list (the selected item's text).
    void OnSelchangeUpgradeType(const std::string& selectedText);
    // The "every adapter" check box was clicked.
    void OnEveryAdapter();
    // Start: checks the choices, then starts the station; nothing is sent
    // when a check refuses it, and a box says why.
    void OnStart();
    // Stop: ends every job; a transfer under way is cut short and logged as
    // cancelled. The window is given back once every port has closed.
    void OnStop();
    // Every kTick: draws what changed, notices the end of the run, and while
    // idle reads the ports present again now and then.
    void OnTimer();
    // Closing: true when the window may close. While a receiver is being
    // sent to, the technician is asked first.
    bool ConfirmClose();
    // Before the window goes: drops the calls queued for it, stops the
    // station and waits for its ports to close. Safe to call twice.
    void EndRun();

    // The shop records waiting to be sent, for the totals line (the shop
    // database sets it); none: not shown.
    void SetRecordsWaiting(std::optional<int> count);

    // Starting, running or stopping.
    bool Running() const;
    const std::vector<StationTile>& Tiles() const { return m_tiles; }
    const std::vector<StationPortItem>& PortItems() const { return m_portItems; }
    const std::string& LogPath() const { return m_log; }

private:
    struct Run;
    class Events;
    struct StartOutcome;
    enum class State { Idle, Starting, Running, Stopping };

    StationSettings SettingsNow() const;
    std::vector<std::string> CheckedDevices();
    void Lock(bool running);
    void RefreshPorts();
    void Launch(StationSettings settings, std::vector<std::string> devices);
    // `shownFile`: the file as the window shows it, for the words of a refusal.
    static StartOutcome StartUp(Run& run, const StationSettings& settings,
                                const std::vector<std::string>& devices,
                                const std::string& shownFile);
    void OnStarted(const StartOutcome& outcome);
    bool FollowAdapters();
    bool RunIsOver();
    void FinishRun();
    void Abandon();
    void Draw(bool force);
    void ShowTotals(std::string totals);
    void JobEnded(bool finished, bool cutShort, const std::string& logError);

    IStationView& m_view;
    CCallQueue& m_calls;
    StationChoices m_choices;
    StationServices m_services;
    std::string m_file;  // UTF-8, as shown
    std::string m_log;
    DialogValues m_values;
    std::vector<StationPortItem> m_portItems;
    State m_state = State::Idle;
    int m_ticks = 0;
    std::optional<int> m_recordsWaiting;
    std::vector<StationTile> m_tiles;
    std::string m_totals;
    std::uint64_t m_drawnVersion = 0;
    std::chrono::system_clock::time_point m_endedAt;
    std::optional<BoardTotals> m_lastTotals;  // of the last run, once it has drawn
    std::set<std::string> m_refused;          // adapters the follower could not take (UI thread)
    CStationRecord m_record;
    std::unique_ptr<Run> m_run;
};

}  // namespace velmora::ui
