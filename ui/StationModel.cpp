#include "ui/StationModel.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>
#include <utility>

#include "base/JobLog.h"
#include "base/TextFormat.h"
#include "sdx/ListFormat.h"
#include "sdx/ServiceReport.h"
#include "transfer/LoggedJob.h"
#include "transfer/StationStart.h"
#include "transfer/UpgradeController.h"
#include "ui/DialogModel.h"
#include "ui/DialogTemplates.h"

namespace velmora::ui {

namespace {

// The controls a run locks, beyond the settings.
constexpr int kJobControls[] = {IDC_SELECTFILE, IDC_ST_PORTS,   IDC_ST_EVERYADAPTER,
                                IDC_ST_ONCE,    IDC_ST_LOGFILE, IDC_ST_RECORD,
                                ID_OK};
// The settings the technician may change while no run is on; the line's
// own stay as the template has them (fixed).
constexpr int kChangeableSettings[] = {IDC_UPGRADETYPE, IDC_MODELNO, IDC_PROJECTNAME};

// The totals line before the first run.
constexpr const char* kIdleTotals = "Tick the ports, then press Start.";

// How many ticks apart the port list is read again while no run is on.
constexpr int kPortLookTicks = 10;

std::string CountsText(const BoardRow& row) {
    if (row.finished + row.failed == 0) {
        return "No receiver yet";
    }
    return std::to_string(row.finished) + " finished, " + std::to_string(row.failed) + " failed";
}

// The last job's result, for a tile whose port waits or has ended.
void ShowLastResult(const BoardRow& row, bool once, StationTile& tile) {
    if (row.lastCutShort) {
        tile.state = "Cut short";
        tile.detail = "Stop cut the transfer short; the receiver did not get the whole file.";
        tile.colour = TileColour::Failed;
        return;
    }
    if (row.lastFailed) {
        tile.state = "Failed";
        tile.detail = row.lastResult + (once ? " Press Start to upgrade it again."
                                             : " Switch the receiver off and on again; this port "
                                               "serves it again.");
        tile.colour = TileColour::Failed;
        return;
    }
    tile.state = "Finished";
    tile.colour = TileColour::Finished;
}

std::string LocalClock(std::chrono::system_clock::time_point when) {
    const std::time_t time = std::chrono::system_clock::to_time_t(when);
    char text[16] = {};
    // The UI thread alone formats times.
    if (const std::tm* local = std::localtime(&time)) {  // NOLINT(concurrency-mt-unsafe)
        std::strftime(text, sizeof text, "%H:%M", local);
    }
    return text;
}

std::string PortText(const SerialPortInfo& port) {
    return port.Label();
}

}  // namespace

StationTile TileOf(const BoardRow& row, bool once) {
    StationTile tile;
    tile.port = row.port;
    tile.name = row.name;
    tile.description = row.description;
    tile.counts = CountsText(row);
    switch (row.state) {
        case PortState::Opening:
            tile.state = "Opening the port";
            break;
        case PortState::Waiting:
            tile.state = "Waiting for the receiver";
            tile.detail = "Switch the receiver on, or reset it.";
            if (row.finished + row.failed > 0) {
                ShowLastResult(row, once, tile);
                tile.detail = "Waiting for the next receiver. " + tile.detail;
            }
            break;
        case PortState::WaitingForFile:
            tile.state = "Waiting for the file";
            tile.detail = row.reason + " This port goes on once the file can be read.";
            break;
        case PortState::Sending:
            tile.state = "Sending " + std::to_string(row.Percent()) + " %";
            tile.detail = GroupedDigits(row.sent) + " of " + GroupedDigits(row.total) + " bytes";
            if (row.bytesPerSecond) {
                tile.detail += ", " + RateText(*row.bytesPerSecond);
            }
            if (row.secondsLeft) {
                tile.detail += ", " + DurationText(*row.secondsLeft) + " left";
            }
            tile.colour = TileColour::Sending;
            tile.percent = row.Percent();
            break;
        case PortState::Finished:
        case PortState::Failed:
            ShowLastResult(row, once, tile);
            break;
        case PortState::Dropped:
            tile.state = "Dropped";
            tile.detail = row.reason;
            tile.colour = TileColour::Dropped;
            break;
    }
    return tile;
}

std::string TotalsText(const BoardTotals& totals, std::optional<int> recordsWaiting,
                       std::optional<std::chrono::system_clock::time_point> ended) {
    const char* dot = " \xC2\xB7 ";  // a middle dot between the figures
    std::string text = "Finished " + std::to_string(totals.finished) + dot + "Failed " +
                       std::to_string(totals.failed);
    if (totals.receiversPerHour) {
        char rate[48];
        std::snprintf(rate, sizeof rate, "%.1f receivers per hour", *totals.receiversPerHour);
        text += dot + std::string(rate);
    }
    text +=
        dot + (ended ? "ran from " + LocalClock(totals.runningSince) + " to " + LocalClock(*ended)
                     : "running since " + LocalClock(totals.runningSince));
    if (recordsWaiting) {
        const auto count = static_cast<std::uint64_t>(std::max(0, *recordsWaiting));
        text += dot + std::to_string(count) + Plural(count, " shop record", " shop records") +
                " waiting to be sent";
    }
    return text;
}

TileColours TileColoursOf(TileColour colour) {
    switch (colour) {
        case TileColour::Neutral:
            return {0xF5F5F5, 0xA0A0A0, 0x202020};
        case TileColour::Sending:
            return {0xE8F0FC, 0x4A7BD0, 0x202020};
        case TileColour::Finished:
            return {0xDCF2DC, 0x2E8B57, 0x14401F};
        case TileColour::Failed:
            return {0xFBE0E0, 0xC0392B, 0x5A1010};
        case TileColour::Dropped:
            return {0xE4E4E4, 0x909090, 0x606060};
    }
    return {0xF5F5F5, 0xA0A0A0, 0x202020};
}

std::vector<TileRect> LayoutTiles(std::size_t count, int width, int height) {
    std::vector<TileRect> rects;
    if (count == 0) {
        return rects;
    }
    const int columns = count == 1 ? 1 : count <= 4 ? 2 : count <= 9 ? 3 : 4;
    const int rows = static_cast<int>((count + static_cast<std::size_t>(columns) - 1) /
                                      static_cast<std::size_t>(columns));
    const int cx = std::max(1, (width - kTileGap * (columns + 1)) / columns);
    const int cy = std::clamp((height - kTileGap * (rows + 1)) / rows, 1, kTileMaxHeight);
    for (std::size_t i = 0; i < count; ++i) {
        const int column = static_cast<int>(i) % columns;
        const int row = static_cast<int>(i) / columns;
        rects.push_back(
            {kTileGap + column * (cx + kTileGap), kTileGap + row * (cy + kTileGap), cx, cy});
    }
    return rects;
}

// What the station reports beyond the board: each job that ended goes to the
// job log (on the station's thread, whether or not the window is still
// there) and then, for its sound, to the UI thread.
class CStationModel::Events final : public IStationHost {
public:
    Events(CStationModel& model, std::string log, std::string bench)
        : m_model(model), m_log(std::move(log)), m_bench(std::move(bench)) {}

    void OnWaiting(const std::string& /*port*/) override {}
    void OnSending(const std::string& /*port*/, std::uint64_t /*total*/) override {}
    void OnBytesSent(const std::string& /*port*/, std::uint64_t /*sent*/,
                     std::uint64_t /*total*/) override {}
    void OnPortDropped(const std::string& /*port*/, const std::string& /*reason*/) override {}
    void OnWaitingForFile(const std::string& /*port*/, const std::string& /*reason*/) override {}

    void OnJobEnded(const StationJobEnd& end) override {
        std::string logError;
        if (!m_log.empty()) {
            if (AppendJobToLog(m_log, end.record, m_bench, logError)) {
                m_model.m_record.JobLogged();
            } else {
                logError =
                    m_warned.exchange(true)
                        ? std::string()  // said once a run
                        : "The job log " + m_log + " could not be written (" + logError + ").";
            }
        }
        const bool finished = end.outcome == JobOutcome::Finished;
        CStationModel& model = m_model;
        model.m_calls.Post([&model, finished, cutShort = end.cutShort, logError] {
            model.JobEnded(finished, cutShort, logError);
        });
    }

private:
    CStationModel& m_model;
    const std::string m_log;
    const std::string m_bench;
    std::atomic<bool> m_warned{false};
};

// One run of the station. Members go in the reverse order: the start-up
// thread first, then the follower, the station, the board and the log.
struct CStationModel::Run {
    Run(CStationModel& model, StationSettings settings, const std::string& log, bool everyAdapter)
        : events(model, log, model.m_choices.bench),
          board(&events),
          station(std::make_unique<CStation>(board, std::move(settings))),
          every(everyAdapter) {}

    Events events;
    CStationBoard board;
    std::unique_ptr<CStation> station;
    bool every;
    bool portsOpen = false;  // the start-up went through
    std::unique_ptr<IPortMonitor> monitor;
    std::unique_ptr<CAdapterFollower> follower;
    std::jthread startup;
};

// What the start-up thread found; a box to show when the station did not start.
struct CStationModel::StartOutcome {
    std::optional<MessageRequest> refusal;
    std::string report;  // what the conversion made of an Enigma2 or VDR list
};

CStationModel::CStationModel(IStationView& view, CCallQueue& calls, StationChoices choices,
                             StationServices services)
    : m_view(view),
      m_calls(calls),
      m_choices(std::move(choices)),
      m_services(std::move(services)),
      m_file(m_choices.file),
      m_log(m_choices.log.empty() ? DefaultJobLogPath() : m_choices.log),
      m_values(m_choices.values),
      m_record(
          calls,
          [this](std::size_t waiting) {
              SetRecordsWaiting(waiting > 0 ? std::optional<int>(static_cast<int>(waiting))
                                            : std::nullopt);
          },
          [this](const std::string& warning) {
              m_view.ShowMessage({warning, MessageCaption::Application,
                                  "The upgrades themselves are not affected; the jobs stay in "
                                  "the job log and go to the shop record once it can be reached."});
          }) {
    if (!m_services.listPorts) {
        m_services.listPorts = [] { return ListSerialPorts(); };
    }
    if (!m_services.makeMonitor) {
        m_services.makeMonitor = [] { return MakePortMonitor(); };
    }
}

CStationModel::~CStationModel() {
    EndRun();
}

void CStationModel::OnInitDialog() {
    ExchangeSettings(m_view, false, m_values);
    EnableTypeFields(m_view, m_values.strUpgradeType);
    m_view.SetControlText(IDC_FILEPATH, m_file);
    m_view.SetControlText(IDC_ST_LOGPATH,
                          m_log.empty() ? "(none: the system names no folder for it)" : m_log);
    m_view.SetControlText(IDC_ST_RECORD, m_choices.record);
    m_view.SetChecked(IDC_ST_EVERYADAPTER, m_choices.everyAdapter);
    m_view.SetChecked(IDC_ST_ONCE, m_choices.once);
    m_view.SetChecked(IDC_ST_SOUND, m_choices.sound);
    for (const std::string& device : m_choices.ports) {
        m_portItems.push_back({device, device, true});
    }
    RefreshPorts();
    Lock(false);
    ShowTotals(kIdleTotals);
}

void CStationModel::OnSelectFile() {
    if (const std::optional<std::string> chosen = m_view.ChooseFile(SelectFileFilters())) {
        m_file = *chosen;
        m_view.SetControlText(IDC_FILEPATH, m_file);
    }
}

void CStationModel::OnSelectLogFile() {
    if (const std::optional<std::string> chosen = m_view.ChooseLogFile(m_log)) {
        m_log = *chosen;
        m_view.SetControlText(IDC_ST_LOGPATH, m_log);
    }
}

void CStationModel::OnSelchangeUpgradeType(const std::string& selectedText) {
    EnableTypeFields(m_view, selectedText);
}

void CStationModel::OnEveryAdapter() {
    m_view.EnableControl(IDC_ST_PORTS, !m_view.IsChecked(IDC_ST_EVERYADAPTER));
}

bool CStationModel::Running() const {
    return m_state != State::Idle;
}

void CStationModel::SetRecordsWaiting(std::optional<int> count) {
    m_recordsWaiting = count;
    Draw(true);
}

// The ports present, with those given beforehand that the system does not
// list (a pty, a port named by its COM number); the check marks stay.
void CStationModel::RefreshPorts() {
    const std::vector<bool> checks = m_view.PortChecks();
    for (std::size_t i = 0; i < checks.size() && i < m_portItems.size(); ++i) {
        m_portItems[i].checked = checks[i];
    }
    const std::vector<SerialPortInfo> present = m_services.listPorts();
    std::vector<StationPortItem> items;
    for (const SerialPortInfo& port : present) {
        items.push_back({CAdapterFollower::DeviceOf(port), PortText(port), false});
    }
    for (const StationPortItem& known : m_portItems) {
        const SerialPortInfo* found = FindPort(present, known.device);
        auto same = std::find_if(items.begin(), items.end(), [&](const StationPortItem& item) {
            return item.device == known.device ||
                   (found != nullptr && item.device == CAdapterFollower::DeviceOf(*found));
        });
        if (same != items.end()) {
            same->checked = known.checked;
        } else if (known.checked) {
            items.push_back(known);  // given, or ticked and gone: it stays, so Start can say why
        }
    }
    if (items != m_portItems || checks.size() != m_portItems.size()) {
        m_portItems = std::move(items);
        m_view.SetPortItems(m_portItems);
    }
}

std::vector<std::string> CStationModel::CheckedDevices() {
    RefreshPorts();
    std::vector<std::string> devices;
    for (const StationPortItem& item : m_portItems) {
        if (item.checked) {
            devices.push_back(item.device);
        }
    }
    return devices;
}

void CStationModel::Lock(bool running) {
    for (const int id : kJobControls) {
        m_view.EnableControl(id, !running);
    }
    for (const int id : kChangeableSettings) {
        m_view.EnableControl(id, !running);
    }
    if (running) {
        for (const int id : kTypeDependentFields) {
            m_view.EnableControl(id, false);
        }
    } else {
        EnableTypeFields(m_view, m_view.ControlText(IDC_UPGRADETYPE));
        OnEveryAdapter();
    }
    m_view.EnableControl(IDC_ST_STOP, running);
}

StationSettings CStationModel::SettingsNow() const {
    StationSettings settings;
    settings.file = EnginePath(m_file);
    settings.values = m_values;
    settings.workDir = m_choices.workDir;
    settings.force = m_choices.force;
    settings.once = m_view.IsChecked(IDC_ST_ONCE);
    settings.waitLimit = m_choices.waitLimit;
    settings.listChoice = m_choices.listChoice;
    return settings;
}

void CStationModel::OnStart() {
    if (m_state != State::Idle || !ExchangeSettings(m_view, true, m_values)) {
        return;
    }
    const bool every = m_view.IsChecked(IDC_ST_EVERYADAPTER);
    std::vector<std::string> devices = every ? std::vector<std::string>() : CheckedDevices();
    if (!every && devices.empty()) {
        m_view.ShowMessage({"No port is chosen.", MessageCaption::Application,
                            "Tick the ports the receivers are on, or Every USB serial adapter, "
                            "then press Start."});
        return;
    }
    if (const std::optional<MessageRequest> refusal =
            m_record.Use(m_view.ControlText(IDC_ST_RECORD), m_log, m_choices.bench)) {
        m_view.ShowMessage(*refusal);
        return;
    }
    Launch(SettingsNow(), std::move(devices));
}

void CStationModel::Launch(StationSettings settings, std::vector<std::string> devices) {
    const bool every = m_view.IsChecked(IDC_ST_EVERYADAPTER);
    m_state = State::Starting;
    Lock(true);
    ShowTotals(IsChannelList(settings.file) ? "Converting the channel list\xE2\x80\xA6"
                                            : "Opening the ports\xE2\x80\xA6");
    m_tiles.clear();
    m_view.ShowTiles(m_tiles, {});
    m_lastTotals.reset();
    m_drawnVersion = 0;
    m_refused.clear();
    m_run = std::make_unique<Run>(*this, settings, m_log, every);
    Run& run = *m_run;
    run.startup = std::jthread(
        [this, &run, settings = std::move(settings), devices = std::move(devices), shown = m_file] {
            const StartOutcome outcome = StartUp(run, settings, devices, shown);
            m_calls.Post([this, outcome] { OnStarted(outcome); });
        });
}

namespace {

// A check that refuses the station, in the window's words.
MessageRequest RefusalOf(const JobCheck& check, const std::string& file) {
    MessageRequest box{check.Message(), MessageCaption::Application, {}};
    if (check.problem == JobProblem::FileMissing) {
        box.detail = file.empty()
                         ? "No file is chosen. Choose the file to send with Select File."
                         : file + " is not there. Choose the file to send with Select File.";
    } else if (check.Forceable()) {
        box.detail =
            "To send it all the same, open the station with: velmora --station FILE --force";
    }
    return box;
}

}  // namespace

// On the start-up thread: the checks, the conversion, then the ports. The
// station stops itself when a port cannot be opened.
CStationModel::StartOutcome CStationModel::StartUp(Run& run, const StationSettings& settings,
                                                   const std::vector<std::string>& devices,
                                                   const std::string& shownFile) {
    StartOutcome outcome;
    const StationChecks checks = CheckStation(settings);
    if (const JobCheck* refusal = checks.Refusal(settings.force)) {
        outcome.refusal = RefusalOf(*refusal, shownFile);
        return outcome;
    }
    if (!checks.limitProblem.empty()) {
        outcome.refusal = MessageRequest{checks.limitProblem, MessageCaption::Application, {}};
        return outcome;
    }
    bool refusedList = false;
    if (const std::string problem = run.station->Prepare(refusedList); !problem.empty()) {
        outcome.refusal = MessageRequest{problem, MessageCaption::Application, {}};
        return outcome;
    }
    if (const std::optional<ConversionReport>& report = run.station->Conversion()) {
        outcome.report = ListReportText(*report);
    }
    const std::optional<PortStartFailure> failed = OpenStationPorts(
        *run.station, devices, [&run](const std::string& device) { run.board.AddPort(device); });
    if (failed) {
        outcome.refusal =
            MessageRequest{"Cannot use " + devices[failed->index] + ": " + failed->why,
                           MessageCaption::Application,
                           "No receiver was upgraded. Choose the ports again, then press Start."};
    }
    return outcome;
}

void CStationModel::OnStarted(const StartOutcome& outcome) {
    if (!m_run) {
        return;
    }
    m_run->startup.join();
    if (m_state == State::Stopping) {
        return;  // the timer gives the window back once the ports have closed
    }
    if (outcome.refusal) {
        Abandon();
        m_view.ShowMessage(*outcome.refusal);
        return;
    }
    if (m_run->every && !FollowAdapters()) {
        return;
    }
    m_run->portsOpen = true;
    m_state = State::Running;
    Draw(true);
    if (!outcome.report.empty()) {
        m_view.ShowMessage({outcome.report, MessageCaption::Application, {}});
    }
}

// Every USB serial adapter present, and each one plugged in later.
bool CStationModel::FollowAdapters() {
    Run& run = *m_run;
    run.monitor = m_services.makeMonitor();
    run.follower = std::make_unique<CAdapterFollower>(
        *run.station, *run.monitor,
        [this, &run](const std::string& device, const std::string& why) {
            run.board.OnPortDropped(device, why);
            m_calls.Post([this, device] { m_refused.insert(device); });
        });
    std::string error;
    if (run.follower->Start(error)) {
        return true;
    }
    Abandon();
    m_view.ShowMessage({"Cannot follow the USB serial adapters: " + error,
                        MessageCaption::Application,
                        "Tick the ports the receivers are on instead, then press Start."});
    return false;
}

void CStationModel::OnStop() {
    if (m_state != State::Starting && m_state != State::Running) {
        return;
    }
    m_state = State::Stopping;
    m_view.EnableControl(IDC_ST_STOP, false);
    if (m_run->follower) {
        m_run->follower->Stop();
    }
    m_run->station->Stop();
}

// The ports have all closed: each served its one receiver, or left, or
// Stop ended them. With every adapter a run ends only by Stop, or once each
// adapter taken has served its one receiver.
bool CStationModel::RunIsOver() {
    Run& run = *m_run;
    if (m_state == State::Stopping) {
        return run.startup.joinable() ? false : run.station->WaitFor(std::chrono::milliseconds(0));
    }
    if (m_state != State::Running || !run.station->WaitFor(std::chrono::milliseconds(0))) {
        return false;
    }
    return !run.every || (m_view.IsChecked(IDC_ST_ONCE) && run.follower->Taken() > 0);
}

void CStationModel::OnTimer() {
    ++m_ticks;
    if (!m_run) {
        if (m_state == State::Idle && m_ticks % kPortLookTicks == 0) {
            RefreshPorts();
        }
        return;
    }
    Draw(m_ticks % kPortLookTicks == 0);
    if (RunIsOver()) {
        FinishRun();
    }
}

// Gives the window back; the tiles keep showing how the run went.
void CStationModel::FinishRun() {
    if (m_run->follower) {
        m_run->follower->Stop();
    }
    m_run->station.reset();
    m_endedAt = std::chrono::system_clock::now();
    Draw(true);
    m_run.reset();
    m_state = State::Idle;
    Lock(false);
}

// A run that did not start: nothing to show of it.
void CStationModel::Abandon() {
    if (m_run->follower) {
        m_run->follower->Stop();
    }
    m_run.reset();  // stops the station, whose ports are closed already
    m_state = State::Idle;
    m_tiles.clear();
    m_view.ShowTiles(m_tiles, {});
    m_lastTotals.reset();
    ShowTotals(kIdleTotals);
    Lock(false);
}

// Draws the tiles that changed and the totals line, when the board changed
// (or `force`); the view is asked at most once a tick.
void CStationModel::Draw(bool force) {
    if (!m_run) {
        if (m_lastTotals) {  // the last run's, with what changed since (records waiting)
            ShowTotals(TotalsText(*m_lastTotals, m_recordsWaiting, m_endedAt));
        }
        return;
    }
    const std::uint64_t version = m_run->board.Version();
    if (!force && version == m_drawnVersion) {
        return;
    }
    m_drawnVersion = version;
    const BoardSnapshot board = m_run->board.Snapshot();
    const bool once = m_view.IsChecked(IDC_ST_ONCE);
    std::vector<StationTile> tiles;
    for (const BoardRow& row : board.rows) {
        if (row.state != PortState::Dropped) {
            m_refused.erase(row.port);
        } else if (m_run->every && m_refused.count(row.port) == 0) {
            continue;  // an adapter that was unplugged: its tile goes
        }
        tiles.push_back(TileOf(row, once));
    }
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (i >= m_tiles.size() || !(tiles[i] == m_tiles[i])) {
            changed.push_back(i);
        }
    }
    if (!changed.empty() || tiles.size() != m_tiles.size()) {
        m_tiles = std::move(tiles);
        m_view.ShowTiles(m_tiles, changed);
    }
    const auto ended = m_run->station
                           ? std::nullopt
                           : std::optional<std::chrono::system_clock::time_point>(m_endedAt);
    m_lastTotals = board.totals;
    ShowTotals(TotalsText(board.totals, m_recordsWaiting, ended));
}

void CStationModel::ShowTotals(std::string totals) {
    if (totals != m_totals) {
        m_totals = std::move(totals);
        m_view.SetControlText(IDC_ST_TOTALS, m_totals);
    }
}

void CStationModel::JobEnded(bool finished, bool cutShort, const std::string& logError) {
    if (!cutShort && m_view.IsChecked(IDC_ST_SOUND)) {
        m_view.PlaySound(finished ? StationSound::JobFinished : StationSound::JobFailed);
    }
    if (!logError.empty()) {
        m_view.ShowMessage({logError, MessageCaption::Application,
                            "The upgrades themselves are not affected. To keep a log, choose a "
                            "file in a folder you can write to with Log File\xE2\x80\xA6 before "
                            "the next Start."});
    }
}

bool CStationModel::ConfirmClose() {
    if (!m_run) {
        return true;
    }
    const BoardSnapshot board = m_run->board.Snapshot();
    const bool sending = std::any_of(board.rows.begin(), board.rows.end(), [](const BoardRow& row) {
        return row.state == PortState::Sending;
    });
    return !sending || m_view.AskYesNo(kStopStationQuestion);
}

void CStationModel::EndRun() {
    m_calls.Shutdown();
    if (!m_run) {
        return;
    }
    m_run->station->Stop();
    if (m_run->startup.joinable()) {
        m_run->startup.join();
    }
    if (m_run->follower) {
        m_run->follower->Stop();
    }
    m_run.reset();
    m_state = State::Idle;
}

}  // namespace velmora::ui
