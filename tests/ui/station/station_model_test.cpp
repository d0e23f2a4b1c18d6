// The station window's model without a window: a view that keeps the
// controls in memory, emulated receivers on ptys, and the job log on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "emulator/ReceiverEmulator.h"
#include "tests/support/TempDir.h"
#include "ui/DialogTemplates.h"
#include "ui/StationModel.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using emu::EmulatorOptions;
using emu::ReceiverEmulator;
using emu::TransferReport;

// The station template's controls as plain state.
class MemoryStationView final : public IStationView {
public:
    struct Control {
        std::string text;
        std::vector<std::string> items;
        int selected = -1;
        bool enabled = true;
        bool checked = false;
    };

    MemoryStationView() {
        for (const ControlTemplate& c : StationDialogTemplate().controls) {
            if (c.id != ID_NONE) {
                controls[c.id] = {c.text, DisplayItems(c), -1, !c.Has(kDisabled), false};
            }
        }
    }

    std::string ControlText(int id) override {
        const Control& c = controls.at(id);
        const ControlTemplate* t = StationDialogTemplate().Find(id);
        if (t->kind == ControlKind::DropList) {
            return c.selected < 0 ? "" : c.items[static_cast<std::size_t>(c.selected)];
        }
        return c.text;
    }
    void SetControlText(int id, const std::string& text) override { controls.at(id).text = text; }
    int ItemCount(int id) override { return static_cast<int>(controls.at(id).items.size()); }
    std::string ItemText(int id, int index) override {
        return controls.at(id).items.at(static_cast<std::size_t>(index));
    }
    void SelectItem(int id, int index) override {
        Control& c = controls.at(id);
        c.selected = index;
        c.text = c.items.at(static_cast<std::size_t>(index));
    }
    void EnableControl(int id, bool enable) override { controls.at(id).enabled = enable; }
    void FocusControl(int /*id*/) override {}
    void ShowMessage(const MessageRequest& message) override { messages.push_back(message); }
    bool IsChecked(int id) override { return controls.at(id).checked; }
    void SetChecked(int id, bool checked) override { controls.at(id).checked = checked; }
    void SetPortItems(const std::vector<StationPortItem>& items) override { ports = items; }
    std::vector<bool> PortChecks() override {
        std::vector<bool> checks;
        for (const StationPortItem& item : ports) {
            checks.push_back(item.checked);
        }
        return checks;
    }
    void ShowTiles(const std::vector<StationTile>& shown,
                   const std::vector<std::size_t>& changed) override {
        if (shown.size() != tiles.size()) {
            draws.assign(shown.size(), 1);
        } else {
            for (const std::size_t i : changed) {
                ++draws[i];
            }
        }
        tiles = shown;
    }
    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        return false;
    }
    std::optional<std::string> ChooseFile(const std::vector<FileFilter>& /*filters*/) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseLogFile(const std::string& /*current*/) override {
        return std::nullopt;
    }
    void PlaySound(StationSound sound) override { sounds.push_back(sound); }

    std::map<int, Control> controls;
    std::vector<StationPortItem> ports;
    std::vector<StationTile> tiles;
    std::vector<int> draws;  // how often each tile was drawn
    std::vector<MessageRequest> messages;
    std::vector<std::string> questions;
    std::vector<StationSound> sounds;
};

std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A window's worth of model: the view, the queue to the UI thread, and the
// model ticked as the window's timer would tick it.
struct Rig {
    explicit Rig(StationChoices choices, StationServices services = {}) {
        if (!services.listPorts) {
            services.listPorts = [] { return std::vector<SerialPortInfo>(); };
        }
        choices.log = choices.log.empty() ? dir.File("jobs.jsonl") : choices.log;
        model =
            std::make_unique<CStationModel>(view, calls, std::move(choices), std::move(services));
        model->OnInitDialog();
    }
    // Ticks every kTick until `done` holds; false at the deadline.
    template <typename Condition>
    bool TickUntil(Condition done, std::chrono::seconds limit = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            calls.RunPending();
            model->OnTimer();
            ++ticks;
            std::this_thread::sleep_for(CStationModel::kTick);  // the window's timer
        }
        calls.RunPending();
        return true;
    }
    void Start() {
        model->OnStart();
        calls.RunPending();
    }
    bool Over() {
        return TickUntil([this] { return !model->Running(); });
    }
    bool Enabled(int id) { return view.controls.at(id).enabled; }

    test::TempDir dir;
    MemoryStationView view;
    CCallQueue calls{[] {}};
    std::unique_ptr<CStationModel> model;
    int ticks = 0;
};

std::unique_ptr<ReceiverEmulator> Receiver(EmulatorOptions options = {}) {
    auto receiver = std::make_unique<ReceiverEmulator>(std::move(options));
    std::string error;
    EXPECT_TRUE(receiver->Start(error)) << error;
    return receiver;
}

TEST(StationModelTest, TheWindowShowsTheChoicesAndRefusesABadJobBeforeAnyPortOpens) {
    test::TempDir files;
    const std::string image = files.Write("fw.bin", test::PatternBytes(2000));
    const auto receiver = Receiver();
    StationChoices choices;
    choices.file = image;
    choices.once = true;
    // The missing port first: the station stops before it opens the other.
    choices.ports = {"/dev/velmora-no-such-port", receiver->SlavePath()};
    StationServices services;
    services.listPorts = [] {
        SerialPortInfo adapter;
        adapter.name = "/dev/ttyUSB7";
        adapter.byIdPath = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
        adapter.product = "FT232R USB UART";
        adapter.usb = true;
        return std::vector<SerialPortInfo>{adapter};
    };
    Rig rig(choices, services);
    MemoryStationView& view = rig.view;

    // The main dialog's defaults and its upgrade-type rule; the ports present
    // and those given, ticked; the choices in their boxes.
    EXPECT_EQ(view.ControlText(IDC_UPGRADETYPE), "Code");
    EXPECT_EQ(view.ControlText(IDC_BAUDRATE), "115200");
    EXPECT_EQ(view.ControlText(IDC_MAXSAT), "32");
    EXPECT_FALSE(rig.Enabled(IDC_MAXSAT));
    rig.model->OnSelchangeUpgradeType("Database");
    EXPECT_TRUE(rig.Enabled(IDC_MAXSAT));
    EXPECT_TRUE(rig.Enabled(IDC_OFFSET));
    EXPECT_EQ(view.ControlText(IDC_FILEPATH), image);
    EXPECT_EQ(view.ControlText(IDC_ST_LOGPATH), rig.dir.File("jobs.jsonl"));
    EXPECT_TRUE(view.IsChecked(IDC_ST_ONCE));
    EXPECT_TRUE(view.IsChecked(IDC_ST_SOUND));
    ASSERT_EQ(view.ports.size(), 3U);
    EXPECT_EQ(view.ports[0].text, "/dev/ttyUSB7 \xE2\x80\x93 FT232R USB UART");
    EXPECT_EQ(view.ports[0].device, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    EXPECT_FALSE(view.ports[0].checked);
    EXPECT_EQ(view.ports[2].device, receiver->SlavePath());
    EXPECT_TRUE(view.ports[1].checked && view.ports[2].checked);
    EXPECT_FALSE(rig.Enabled(IDC_ST_STOP));

    rig.model->OnSelchangeUpgradeType("Code");

    // Each refusal is a box, and the window is given back.
    const auto refusal = [](Rig& on, const std::function<void()>& change) {
        on.view.messages.clear();
        change();
        on.Start();
        EXPECT_TRUE(on.Over());
        EXPECT_TRUE(on.Enabled(ID_OK) && on.Enabled(IDC_UPGRADETYPE));
        return on.view.messages.empty() ? MessageRequest{} : on.view.messages.back();
    };
    EXPECT_EQ(refusal(rig, [&] { view.controls[IDC_MAXSAT].text = "3x"; }).text,
              NumberPrompt(IDC_MAXSAT, "3x"));
    EXPECT_EQ(refusal(rig, [&] { view.controls[IDC_MAXSAT].text = "201"; })
                  .text.rfind("Max Sat No. is 201", 0),
              0U);
    view.controls[IDC_MAXSAT].text = "32";
    // A port that is not there: nothing goes to the one that is.
    const MessageRequest missing = refusal(rig, [] {});
    EXPECT_EQ(missing.text.rfind("Cannot use /dev/velmora-no-such-port: ", 0), 0U) << missing.text;
    EXPECT_NE(missing.detail.find("No receiver was upgraded"), std::string::npos);
    EXPECT_TRUE(receiver->Reports().empty());
    EXPECT_TRUE(LogLines(rig.dir.File("jobs.jsonl")).empty());
    // No port ticked at all.
    for (StationPortItem& port : view.ports) {
        port.checked = false;
    }
    EXPECT_EQ(refusal(rig, [] {}).text, "No port is chosen.");

    // A channel list with CR LF line ends, as Database.
    const std::string crlf = files.File("crlf.sdx");
    std::ofstream(crlf) << "SATCODX103" << std::string(117, ' ') << "\r\n";
    StationChoices list = choices;
    list.file = crlf;
    Rig listRig(list, services);
    const MessageRequest unreadable =
        refusal(listRig, [&] { listRig.view.SelectItem(IDC_UPGRADETYPE, 2); });  // Database
    EXPECT_EQ(unreadable.text.rfind(crlf + " cannot be read as a SATCODX channel list", 0), 0U)
        << unreadable.text;
    EXPECT_TRUE(receiver->Reports().empty());
}

TEST(StationModelTest, ARunFlashesEveryTickedPortLogsEachJobAndShowsItOnTheTiles) {
    test::TempDir files;
    const auto bytes = test::PatternBytes(6000);
    EmulatorOptions good;
    good.expectedData = bytes;
    EmulatorOptions faulty = good;
    faulty.hangupAfterBlocks = 2;
    const auto first = Receiver(good);
    const auto second = Receiver(faulty);
    StationChoices choices;
    choices.file = files.Write("fw.bin", bytes);
    choices.once = true;
    choices.ports = {first->SlavePath(), second->SlavePath()};
    Rig rig(choices);

    rig.Start();
    // While it runs, nothing of the job can be changed by a slip of the hand.
    for (const int id : {ID_OK, IDC_SELECTFILE, IDC_UPGRADETYPE, IDC_ST_PORTS, IDC_ST_ONCE,
                         IDC_ST_EVERYADAPTER, IDC_ST_LOGFILE}) {
        EXPECT_FALSE(rig.Enabled(id)) << id;
    }
    EXPECT_TRUE(rig.Enabled(IDC_ST_STOP));
    ASSERT_TRUE(rig.Over());

    TransferReport report;
    ASSERT_TRUE(first->WaitForReport(5s, report));
    EXPECT_TRUE(report.verified) << report.problem;
    ASSERT_TRUE(second->WaitForReport(5s, report));
    EXPECT_FALSE(report.verified);
    const auto& tiles = rig.view.tiles;
    ASSERT_EQ(tiles.size(), 2U);
    EXPECT_EQ(tiles[0].state, "Finished");
    EXPECT_EQ(tiles[0].colour, TileColour::Finished);
    EXPECT_EQ(tiles[0].counts, "1 finished, 0 failed");
    EXPECT_EQ(tiles[1].state, "Failed");
    EXPECT_EQ(tiles[1].colour, TileColour::Failed);
    EXPECT_EQ(tiles[1].counts, "0 finished, 1 failed");
    // The reason in plain words and the window's own remedy, not the single
    // dialog's nor the terminal's.
    EXPECT_NE(tiles[1].detail.find("Press Start to upgrade it again."), std::string::npos)
        << tiles[1].detail;
    EXPECT_EQ(tiles[1].detail.find("Run the command"), std::string::npos);
    EXPECT_EQ(rig.view.ControlText(IDC_ST_TOTALS)
                  .rfind("Finished 1 \xC2\xB7 Failed 1 \xC2\xB7 ran from ", 0),
              0U)
        << rig.view.ControlText(IDC_ST_TOTALS);
    // The place for the shop database's figure.
    rig.model->SetRecordsWaiting(3);
    const std::string totals = rig.view.ControlText(IDC_ST_TOTALS);
    EXPECT_EQ(totals.substr(totals.rfind(" \xC2\xB7 ")),
              " \xC2\xB7 3 shop records waiting to be sent");
    auto sounds = rig.view.sounds;
    std::sort(sounds.begin(), sounds.end());
    EXPECT_EQ(sounds,
              (std::vector<StationSound>{StationSound::JobFinished, StationSound::JobFailed}));
    const auto lines = LogLines(rig.dir.File("jobs.jsonl"));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("\"outcome\":\"finished\"") != std::string::npos;
                            }),
              1);
    // A tile is drawn at most once a tick, however many bytes went out.
    for (const int draws : rig.view.draws) {
        EXPECT_LE(draws, rig.ticks + 2);
    }
    EXPECT_TRUE(rig.Enabled(ID_OK) && rig.Enabled(IDC_ST_PORTS) && !rig.Enabled(IDC_ST_STOP));
}

TEST(StationModelTest, TheShopRecordFieldRefusesAPasswordAndAnAbsentRecordLeavesJobsWaiting) {
    test::TempDir files;
    const auto bytes = test::PatternBytes(3000);
    EmulatorOptions options;
    options.expectedData = bytes;
    const auto receiver = Receiver(options);
    StationChoices choices;
    choices.file = files.Write("fw.bin", bytes);
    choices.once = true;
    choices.ports = {receiver->SlavePath()};
    choices.record = "Driver=PostgreSQL Unicode;Server=shop;UID=bench;PWD=secret";
    choices.bench = "bench-7";
    Rig rig(choices);
    EXPECT_EQ(rig.view.ControlText(IDC_ST_RECORD), choices.record);

    // A password would show in the window: refused before any port opens.
    rig.Start();
    EXPECT_FALSE(rig.model->Running());
    ASSERT_EQ(rig.view.messages.size(), 1U);
    EXPECT_NE(rig.view.messages[0].text.find("holds a password"), std::string::npos);
    EXPECT_TRUE(rig.view.tiles.empty());

    // A data source that is not there: the job is upgraded and logged all
    // the same, and the totals say it waits for the shop record.
    rig.view.SetControlText(IDC_ST_RECORD, "DSN=velmora-no-such-source");
    rig.Start();
    EXPECT_FALSE(rig.Enabled(IDC_ST_RECORD));
    ASSERT_TRUE(rig.Over());
    TransferReport report;
    ASSERT_TRUE(receiver->WaitForReport(5s, report));
    EXPECT_TRUE(report.verified) << report.problem;
    EXPECT_EQ(rig.view.tiles.at(0).state, "Finished");
    ASSERT_TRUE(rig.TickUntil(
        [&] {
            return rig.view.ControlText(IDC_ST_TOTALS).find("1 shop record waiting to be sent") !=
                   std::string::npos;
        },
        30s))
        << rig.view.ControlText(IDC_ST_TOTALS);
    EXPECT_GE(rig.view.messages.size(), 2U);  // the warning, once
    const auto lines = LogLines(rig.dir.File("jobs.jsonl"));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("\"bench\":\"bench-7\""), std::string::npos) << lines[0];
    EXPECT_TRUE(rig.Enabled(IDC_ST_RECORD));
}

TEST(StationModelTest, StopCutsATransferShortLogsItCancelledAndClosingAsksFirst) {
    test::TempDir files;
    EmulatorOptions slow;
    slow.ackDelay = 40ms;  // 100 blocks: four seconds at least
    const auto receiver = Receiver(slow);
    StationChoices choices;
    choices.file = files.Write("fw.bin", test::PatternBytes(24000));
    choices.ports = {receiver->SlavePath()};
    Rig rig(choices);
    rig.Start();
    ASSERT_TRUE(rig.TickUntil([&] {
        return !rig.view.tiles.empty() && rig.view.tiles[0].state.rfind("Sending", 0) == 0;
    }));
    EXPECT_EQ(rig.view.tiles[0].colour, TileColour::Sending);
    EXPECT_GE(rig.view.tiles[0].percent, 0);
    EXPECT_FALSE(rig.model->ConfirmClose());  // No keeps the run
    EXPECT_EQ(rig.view.questions, std::vector<std::string>{kStopStationQuestion});

    rig.model->OnStop();
    ASSERT_TRUE(rig.Over());
    ASSERT_EQ(rig.view.tiles.size(), 1U);
    EXPECT_EQ(rig.view.tiles[0].state, "Cut short");
    EXPECT_TRUE(rig.view.sounds.empty());
    const auto lines = LogLines(rig.dir.File("jobs.jsonl"));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("\"outcome\":\"cancelled\""), std::string::npos) << lines[0];
    for (const TransferReport& report : receiver->Reports()) {
        EXPECT_FALSE(report.verified);
    }
    EXPECT_TRUE(rig.model->ConfirmClose());
}

TEST(StationModelTest, EveryAdapterServesOnePluggedInLaterAndItsTileGoesWhenItIsUnplugged) {
    test::TempDir files;
    const auto bytes = test::PatternBytes(1500);
    EmulatorOptions options;
    options.expectedData = bytes;
    auto receiver = Receiver(options);
    const std::string device = receiver->SlavePath();
    std::atomic<bool> plugged{false};
    StationServices services;
    services.makeMonitor = [&plugged, device] {
        return std::make_unique<PollingPortMonitor>(
            [&plugged, device] {
                std::vector<SerialPortInfo> ports;
                if (plugged.load()) {
                    SerialPortInfo port;
                    port.name = device;
                    port.usb = true;
                    ports.push_back(port);
                }
                return ports;
            },
            50ms);
    };
    StationChoices choices;
    choices.file = files.Write("fw.bin", bytes);
    choices.everyAdapter = true;
    Rig rig(choices, services);
    EXPECT_FALSE(rig.Enabled(IDC_ST_PORTS));
    rig.Start();
    EXPECT_TRUE(rig.view.tiles.empty());

    plugged.store(true);
    ASSERT_TRUE(rig.TickUntil([&] { return !receiver->Reports().empty(); }))
        << "the adapter plugged in was not served";
    EXPECT_TRUE(receiver->Reports()[0].verified) << receiver->Reports()[0].problem;
    ASSERT_TRUE(rig.TickUntil([&] {
        return rig.view.tiles.size() == 1 && rig.view.tiles[0].counts == "1 finished, 0 failed";
    }));
    // Unplugged while it waits for its next receiver: the tile goes.
    plugged.store(false);
    receiver.reset();
    ASSERT_TRUE(rig.TickUntil([&] { return rig.view.tiles.empty(); }));
    EXPECT_TRUE(rig.model->Running());  // the run goes on for the next adapter
    rig.model->OnStop();
    ASSERT_TRUE(rig.Over());
    EXPECT_EQ(LogLines(rig.dir.File("jobs.jsonl")).size(), 1U);
}

}  // namespace
}  // namespace velmora::ui
