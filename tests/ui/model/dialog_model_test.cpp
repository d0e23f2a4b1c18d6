// The dialog model on its own, over a view that keeps the controls' state in
// memory: the templates, the data exchange, the upgrade-type enabling, the
// wiring of the commands to the engine, and the Windows template bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/DialogArguments.h"
#include "app/StationArguments.h"
#include "tests/support/Recorders.h"
#include "tests/support/ScriptedReceiver.h"
#include "tests/support/TempDir.h"
#include "ui/DialogModel.h"
#include "ui/DialogTemplates.h"
#include "ui/StationModel.h"
#include "ui/win32/DialogResource.h"
#include "velmora/Version.h"

namespace velmora::ui {
namespace {

using test::ReceiverScript;
using test::ScriptedDevice;

// The controls of the main template as plain state.
class MemoryView final : public IDialogView {
public:
    struct Control {
        std::string text;
        std::vector<std::string> items;
        int selected = -1;
        bool enabled = true;
        bool editable = false;
        bool shown = false;
    };

    MemoryView() {
        for (const ControlTemplate& c : MainDialogTemplate().controls) {
            if (c.id != ID_NONE) {
                controls[c.id] = {c.text,
                                  DisplayItems(c),
                                  -1,
                                  !c.Has(kDisabled),
                                  c.kind == ControlKind::DropDownCombo,
                                  c.Has(kVisible)};
            }
        }
    }

    std::string ControlText(int id) override {
        const Control& c = controls.at(id);
        if (!c.editable && !c.items.empty()) {
            return c.selected < 0 ? "" : c.items[static_cast<std::size_t>(c.selected)];
        }
        return c.text;
    }
    void SetControlText(int id, const std::string& text) override {
        controls.at(id).text = text;
        ++writes[id];
        if (id == IDC_STATUS) {
            statusLines.push_back(text);
        }
    }
    int ItemCount(int id) override { return static_cast<int>(controls.at(id).items.size()); }
    std::string ItemText(int id, int index) override {
        return controls.at(id).items.at(static_cast<std::size_t>(index));
    }
    void SelectItem(int id, int index) override {
        Control& c = controls.at(id);
        c.selected = index;
        c.text = c.items.at(static_cast<std::size_t>(index));
    }
    void SetItems(int id, const std::vector<ListItem>& items) override {
        Control& c = controls.at(id);
        c.items.clear();
        for (const ListItem& item : items) {
            c.items.push_back(item.text);
        }
        c.selected = -1;
    }
    void EnableControl(int id, bool enable) override { controls.at(id).enabled = enable; }
    void ShowControl(int id, bool show) override { controls.at(id).shown = show; }
    void FocusControl(int id) override { focus = id; }
    bool HasFocus(int id) override { return focus == id; }
    void ResizeDialog(int cx, int cy) override { size = {cx, cy}; }
    void CheckSysMenuItem(unsigned command, bool checked) override { checks[command] = checked; }
    void ShowMessage(const MessageRequest& message) override {
        messages.push_back(message.text);
        details.push_back(message.detail);
    }
    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        return answerYes;
    }
    std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) override {
        shownFilters = filters;
        return chosen;
    }
    void ShowAbout() override { ++abouts; }
    void OpenStation(const StationChoices& choices) override { stations.push_back(choices); }
    void CloseOpenBoxes() override {}

    std::map<int, Control> controls;
    std::map<int, int> writes;
    std::map<unsigned, bool> checks;
    std::vector<std::string> messages;
    std::vector<std::string> details;
    std::vector<std::string> questions;
    std::vector<std::string> statusLines;  // every text of the status line, in order
    std::vector<FileFilter> shownFilters;
    std::optional<std::string> chosen;
    std::pair<int, int> size{229, 206};
    bool answerYes = false;
    int focus = 0;
    int abouts = 0;
    std::vector<StationChoices> stations;
};

// The ports a test machine has: none beyond COM1 to COM8.
std::vector<PortEntry> NoDetectedPorts() {
    return PortEntries({});
}

struct Rig {
    explicit Rig(ReceiverScript script = {}, bool failOpen = true) {
        auto device = std::make_unique<ScriptedDevice>(clock, std::move(script));
        record = device->record();
        record->failOpen = failOpen;
        model = std::make_unique<CUpgradeDlgModel>(
            view, ViewJobLink{calls, journal.analyse, journal.send, journal.messages},
            std::move(device));
        model->Controller().SetClock(clock);
        model->Controller().SetPacer(pacer);
        model->SetPortSource(NoDetectedPorts);
        model->OnInitDialog();
    }
    // Runs the calls posted to the UI thread until `done` holds; false at the deadline.
    template <typename Condition>
    bool PumpUntil(Condition done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            calls.RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // poll interval
        }
        return true;
    }
    MemoryView view;
    CCallQueue calls{[] {}};
    test::SimClock clock;
    CPacingLoop pacer{clock};
    test::Journal journal;
    std::shared_ptr<ScriptedDevice::Record> record;
    std::unique_ptr<CUpgradeDlgModel> model;
};

TEST(DialogTemplatesTest, MainAndAboutTemplatesAsTheViewsBuildThem) {
    const DialogTemplate& main = MainDialogTemplate();
    EXPECT_EQ(main.id, 102);
    EXPECT_EQ(main.caption, "Velmora (Ver1.0a)");
    EXPECT_EQ(main.cx, 229);
    EXPECT_EQ(main.cy, 206);
    EXPECT_EQ(main.fontFace, "\xEA\xB5\xB4\xEB\xA6\xBC");
    EXPECT_EQ(main.fontPoints, 9);
    EXPECT_EQ(main.language, 0x0412);
    EXPECT_FALSE(main.Has(kMinimiseBox) || main.Has(kMaximiseBox));

    // Tab order of the visible controls with ids, and the four frames.
    std::vector<int> visibleIds;
    std::vector<std::string> frames;
    for (const ControlTemplate& c : main.controls) {
        if (c.Has(kVisible) && c.id != ID_NONE) {
            visibleIds.push_back(c.id);
        }
        if (c.kind == ControlKind::GroupBox) {
            frames.push_back(c.text);
        }
    }
    EXPECT_EQ(visibleIds, (std::vector<int>{1, 2, 1003, 1008, 1009, 1010, 1011, 1025}));
    EXPECT_EQ(frames, (std::vector<std::string>{"Comm Setting", "Software", "Data Send Progress",
                                                "Data analyse Progress"}));

    // Every control from 1004 on but the three visible ones is hidden, behind a hidden label.
    int hidden = 0;
    for (int id = 1004; id <= 1024; ++id) {
        if (id >= 1008 && id <= 1011) {
            continue;
        }
        SCOPED_TRACE(id);
        ASSERT_NE(main.Find(id), nullptr);
        ASSERT_NE(main.LabelOf(id), nullptr);
        EXPECT_FALSE(main.Find(id)->Has(kVisible));
        EXPECT_FALSE(main.LabelOf(id)->Has(kVisible));
        // Below the dialog's own area, inside the grown window.
        for (const ControlTemplate* c : {main.Find(id), main.LabelOf(id)}) {
            EXPECT_TRUE(c->Has(kSettingsArea));
            EXPECT_GE(c->rect.y, main.cy);
            EXPECT_LE(c->rect.y + std::min(c->rect.cy, 12), main.cySettings);
            EXPECT_LE(c->rect.x + c->rect.cx, main.cx);
        }
        ++hidden;
    }
    EXPECT_EQ(hidden, 17);
    EXPECT_EQ(SettingsAreaControls().size(), 17U);
    // The status line sits in the free strip between the banner and "Software".
    const DluRect status = main.Find(IDC_STATUS)->rect;
    EXPECT_GE(status.y, 7 + 43);
    EXPECT_LE(status.y + status.cy, 61);
    // Sorted lists order their items; the baud rates keep theirs.
    EXPECT_EQ(DisplayItems(*main.Find(IDC_UPGRADETYPE)),
              (std::vector<std::string>{"Code", "Custom", "Database", "Db Import/Export"}));
    EXPECT_EQ(DisplayItems(*main.Find(IDC_PARITY)),
              (std::vector<std::string>{"EVEN", "NONE", "ODD"}));
    EXPECT_EQ(DisplayItems(*main.Find(IDC_BAUDRATE)).back(), "256000");

    const DialogTemplate& about = AboutDialogTemplate();
    EXPECT_EQ(about.id, 100);
    EXPECT_EQ(about.cx, 235);
    EXPECT_EQ(about.cy, 55);
    ASSERT_NE(about.Find(ID_OK), nullptr);
    EXPECT_EQ(about.Find(ID_OK)->text, "\xED\x99\x95\xEC\x9D\xB8");
    EXPECT_EQ(about.Find(ID_OK)->rect.x, 178);
    EXPECT_EQ(about.controls.front().resource, 128);
}

TEST(DialogModelTest, DataExchangeSelectsByPrefixReadsTheFileBoxAndStopsAtABadNumber) {
    Rig rig;
    MemoryView& view = rig.view;
    CUpgradeDlgModel& model = *rig.model;
    EXPECT_EQ(view.ControlText(IDC_PORT), "COM1");
    EXPECT_EQ(view.ControlText(IDC_UPGRADETYPE), "Code");
    EXPECT_EQ(view.ControlText(IDC_MAXSAT), "32");

    model.m_values.strUpgradeType = "dAtA";  // prefix, any case
    model.m_values.strParity = "MARK";       // a list without the text keeps its selection
    model.m_values.strModelNo = "LX3300AB";  // an editable combo shows it
    model.m_strFilePath = "/not/shown";
    EXPECT_TRUE(model.UpdateData(false));
    EXPECT_EQ(view.ControlText(IDC_UPGRADETYPE), "Database");
    EXPECT_EQ(view.ControlText(IDC_PARITY), "NONE");
    EXPECT_EQ(view.ControlText(IDC_MODELNO), "LX3300AB");
    EXPECT_EQ(view.writes[IDC_FILEPATH], 0);

    view.controls[IDC_FILEPATH].text = "/typed/elsewhere.bin";
    view.controls[IDC_MAXTV].text = "600";
    view.controls[IDC_MAXTP].text = "12x";
    view.controls[IDC_MAXSAT].text = "7";
    EXPECT_FALSE(model.UpdateData(true));
    EXPECT_EQ(model.m_strFilePath, "/typed/elsewhere.bin");
    EXPECT_EQ(model.m_values.nMaxTv, 600);
    EXPECT_EQ(model.m_values.nMaxTp, 512);
    EXPECT_EQ(model.m_values.nMaxSat, 32);
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0],
              "Max TP No. needs a whole number, but it holds \"12x\". Enter a number from "
              "-2147483648 to 2147483647.");
    EXPECT_EQ(view.focus, IDC_MAXTP);

    EXPECT_EQ(ParseNumberField(" -12 "), -12);
    EXPECT_EQ(ParseNumberField("-2147483648"), INT32_MIN);
    EXPECT_FALSE(ParseNumberField("2147483648"));
    EXPECT_FALSE(ParseNumberField("+"));
}

TEST(DialogModelTest, UpgradeTypeEnablesTheTenFieldsForEveryTypeButCode) {
    Rig rig;
    auto enabled = [&] {
        int count = 0;
        for (const int id : kTypeDependentFields) {
            count += rig.view.controls[id].enabled ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(enabled(), 0);
    rig.model->OnSelchangeUpgradeType("Db Import/Export");
    EXPECT_EQ(enabled(), 10);
    EXPECT_TRUE(rig.view.controls[IDC_MODELNO].enabled);
    rig.model->OnSelchangeUpgradeType("Code");
    EXPECT_EQ(enabled(), 0);
    rig.model->OnSelchangeUpgradeType("code");  // exact comparison
    EXPECT_EQ(enabled(), 10);
}

TEST(DialogModelTest, CommandsReachTheAboutBoxTheFileDialogAndTheEngine) {
    Rig rig;
    CUpgradeDlgModel& model = *rig.model;
    EXPECT_TRUE(model.OnSysCommand(0x0010));
    EXPECT_TRUE(model.OnSysCommand(0x001F));
    EXPECT_FALSE(model.OnSysCommand(0x0040));
    EXPECT_FALSE(model.OnSysCommand(0xF060));
    EXPECT_EQ(rig.view.abouts, 2);

    // Start with no file: the engine's message; the port is not touched.
    model.OnStart();
    EXPECT_EQ(rig.view.messages, (std::vector<std::string>{"Transferred file is not exist!"}));
    EXPECT_EQ(rig.record->opens, 0);

    // Select File: cancelled changes nothing; chosen goes everywhere.
    model.OnSelectFile();
    ASSERT_EQ(rig.view.shownFilters.size(), 4U);
    EXPECT_EQ(rig.view.shownFilters[0].description, "BIN File(*.bin)");
    EXPECT_EQ(rig.view.shownFilters[0].pattern, "*.bin");
    EXPECT_EQ(rig.view.shownFilters[1].description, "Channel list (*.sdx)");
    EXPECT_EQ(rig.view.shownFilters[1].pattern, "*.sdx");
    EXPECT_EQ(rig.view.shownFilters[2].pattern, "lamedb;lamedb5;*.conf");
    EXPECT_EQ(rig.view.shownFilters[3].description, "All files (*.*)");
    EXPECT_TRUE(model.m_strFilePath.empty());
    test::TempDir dir;
    rig.view.chosen = dir.Write("image.bin", std::vector<std::uint8_t>(16, 0x5A));
    model.OnSelectFile();
    EXPECT_EQ(model.m_strFilePath, *rig.view.chosen);
    EXPECT_EQ(model.Controller().Settings().strFilePath, *rig.view.chosen);
    EXPECT_EQ(rig.view.controls[IDC_FILEPATH].text, *rig.view.chosen);

    // "Station…" (0x0030 to 0x003F) opens the station window with the file
    // and the settings chosen here.
    rig.view.controls[IDC_MAXSAT].text = "40";
    EXPECT_TRUE(model.OnSysCommand(0x0035));
    ASSERT_EQ(rig.view.stations.size(), 1U);
    EXPECT_EQ(rig.view.stations[0].file, *rig.view.chosen);
    EXPECT_EQ(rig.view.stations[0].values.nMaxSat, 40);
    EXPECT_TRUE(rig.view.stations[0].ports.empty());
}

SerialPortInfo Detected(std::string name, std::string product = {}) {
    SerialPortInfo info;
    info.name = std::move(name);
    info.product = std::move(product);
    return info;
}

TEST(DialogModelTest, ThePortListAddsTheDetectedPortsAndStartOpensExactlyTheChosenOne) {
    // Below COM1 to COM8, each detected port with its description; a bare
    // COM name that is already listed (as Wine reports them) only once.
    std::vector<PortEntry> present =
        PortEntries({Detected("/dev/ttyUSB0", "FT232R USB UART"), Detected("COM3"),
                     Detected("COM11", "USB Serial Port"), Detected("COM12")});
    Rig rig;
    CUpgradeDlgModel& model = *rig.model;
    test::TempDir dir;
    model.TakeFile(dir.Write("image.bin", std::vector<std::uint8_t>(16, 0x5A)));
    model.SetPortSource([&present] { return present; });
    model.RefreshPorts();                               // the list drops down
    EXPECT_EQ(rig.view.ControlText(IDC_PORT), "COM1");  // the choice stays
    const auto& items = rig.view.controls[IDC_PORT].items;
    EXPECT_EQ(std::vector<std::string>(items.begin() + 7, items.end()),
              (std::vector<std::string>{"COM8", "/dev/ttyUSB0 \u2013 FT232R USB UART",
                                        "COM11 \u2013 USB Serial Port", "COM12"}));

    // Each entry opens its own device, never the COM port its last digit names.
    const std::pair<int, std::string> choices[] = {{8, "/dev/ttyUSB0"},
                                                   {9, ResolvePortName(11)},
                                                   {10, ResolvePortName(12)},
                                                   {2, ResolvePortName(3)}};
    for (const auto& [index, device] : choices) {
        rig.view.SelectItem(IDC_PORT, index);
        model.OnStart();
        EXPECT_EQ(rig.record->openedDevice, device);
    }

    // Unplugged while chosen: it stays listed and chosen, so that Start
    // says why instead of opening COM1.
    rig.view.SelectItem(IDC_PORT, 8);
    present.resize(8);
    model.RefreshPorts();
    EXPECT_EQ(rig.view.ItemCount(IDC_PORT), 9);
    EXPECT_EQ(rig.view.ControlText(IDC_PORT), "/dev/ttyUSB0 \u2013 FT232R USB UART");
}

TEST(DialogModelTest, AFailedOpenShowsTheReasonAndTheRemedyUnderTheMessage) {
    Rig rig;  // every open fails
    test::TempDir dir;
    rig.model->TakeFile(dir.Write("image.bin", std::vector<std::uint8_t>(16, 0x5A)));
    rig.model->OnStart();
    EXPECT_EQ(rig.view.messages,
              (std::vector<std::string>{"UART1 is already Opened Or not Exist!"}));
    EXPECT_EQ(rig.view.details, (std::vector<std::string>{"scripted open failure"}));
    EXPECT_TRUE(rig.view.controls[ID_OK].enabled);

    const PortOpenFailure busy{PortFailureKind::Busy, "/dev/ttyUSB0 is in use by screen (pid 42).",
                               "Close it and try again.", "screen", 42};
    const PortOpenFailure missing{
        PortFailureKind::Missing, "COM12 does not exist.", "Check Device Manager.", {}, 0};
    const std::string uart = PortFailedText(1);
    EXPECT_EQ(PortFailureMessage(uart, busy).detail,
              "/dev/ttyUSB0 is in use by screen (pid 42). Close it and try again.");
    EXPECT_EQ(PortFailureMessage(uart, missing).text, uart);
    EXPECT_EQ(PortFailureMessage(uart, missing).detail,
              "COM12 does not exist. Plug the adapter in, or choose it in the Port list.");
    // A device without a COM number: the engine's text was the reason itself.
    const MessageRequest path = PortFailureMessage(busy.Text(), busy);
    EXPECT_EQ(path.text, busy.reason);
    EXPECT_EQ(path.detail, busy.remedy);
}

TEST(DialogModelTest, TheSettingsItemShowsTheHiddenControlsBelowAndHidesThemAgain) {
    Rig rig;
    const DialogTemplate& dlg = MainDialogTemplate();
    auto shown = [&] {
        int count = 0;
        for (const int id : SettingsAreaControls()) {
            count += rig.view.controls[id].shown ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(shown(), 0);
    EXPECT_TRUE(rig.model->OnSysCommand(0x0020));
    EXPECT_EQ(shown(), 17);
    EXPECT_EQ(rig.view.size, std::make_pair(dlg.cx, dlg.cySettings));
    EXPECT_TRUE(rig.view.checks[IDM_SETTINGS]);

    rig.view.focus = IDC_MAXSAT;
    EXPECT_TRUE(rig.model->OnSysCommand(0x002F));
    EXPECT_EQ(shown(), 0);
    EXPECT_EQ(rig.view.size, std::make_pair(dlg.cx, dlg.cy));
    EXPECT_FALSE(rig.view.checks[IDM_SETTINGS]);
    EXPECT_EQ(rig.view.focus, ID_OK);  // not left on a hidden field
}

TEST(DialogModelTest, AJobGreysStartSaysWhatItWaitsForAndAsksBeforeClosingOnceTheHeaderIsOut) {
    std::atomic<bool> switchedOn{false};
    ReceiverScript script;
    script.readyGate = [&switchedOn] { return switchedOn.load(); };
    script.ackHeader = false;
    Rig rig(std::move(script), false);
    test::TempDir dir;
    rig.model->TakeFile(dir.Write("image.bin", std::vector<std::uint8_t>(2400, 0x5A)));
    std::string& status = rig.view.controls[IDC_STATUS].text;
    rig.view.focus = ID_OK;

    rig.model->OnStart();
    EXPECT_FALSE(rig.view.controls[ID_OK].enabled);
    EXPECT_EQ(rig.view.focus, IDC_FILEPATH);
    ASSERT_TRUE(rig.PumpUntil([&] { return status == kWaitingText; }));
    // Waiting for the receiver: closing is immediate.
    EXPECT_TRUE(rig.model->ConfirmClose());
    EXPECT_TRUE(rig.view.questions.empty());

    switchedOn.store(true);
    ASSERT_TRUE(rig.PumpUntil([&] { return status == "Sent 0 of 2,400 bytes"; }));
    EXPECT_FALSE(rig.model->ConfirmClose());  // answered No: the transfer goes on
    rig.view.answerYes = true;
    EXPECT_TRUE(rig.model->ConfirmClose());
    EXPECT_EQ(rig.view.questions,
              std::vector<std::string>(2, "An upgrade is running. Stop it and close?"));

    rig.model->EndJob();
    rig.model->Reopen();  // shown again
    EXPECT_TRUE(rig.view.controls[ID_OK].enabled);
    EXPECT_EQ(status, "");
}

TEST(DialogModelTest, AFinishedJobGivesStartBackAndClosesWithoutAQuestion) {
    Rig rig({}, false);
    test::TempDir dir;
    rig.model->TakeFile(dir.Write("image.bin", std::vector<std::uint8_t>(500, 0x5A)));
    rig.model->OnStart();
    ASSERT_TRUE(rig.PumpUntil([&] { return rig.view.controls[ID_OK].enabled; }));
    EXPECT_EQ(
        rig.view.statusLines,
        (std::vector<std::string>{kWaitingText, "Sent 0 of 500 bytes", "Sent 240 of 500 bytes",
                                  "Sent 480 of 500 bytes", "Sent 500 of 500 bytes", ""}));
    EXPECT_TRUE(rig.model->ConfirmClose());
    EXPECT_TRUE(rig.view.questions.empty());
}

TEST(DialogModelTest, AChannelListWithCrLfLineEndsIsRefusedWithABoxBeforeThePortOpens) {
    Rig rig;
    test::TempDir dir;
    std::string lines;
    for (int i = 0; i < 3; ++i) {
        lines += "SATCODX103" + std::string(117, ' ') + "\r\n";
    }
    rig.model->TakeFile(
        dir.Write("list.sdx", std::vector<std::uint8_t>(lines.begin(), lines.end())));
    rig.model->OnStart();
    ASSERT_EQ(rig.view.messages.size(), 1U);
    EXPECT_NE(rig.view.messages[0].find("its first line is 129 bytes long"), std::string::npos)
        << rig.view.messages[0];
    EXPECT_EQ(rig.record->opens, 0);
    EXPECT_FALSE(rig.model->Controller().IsBusy());
}

TEST(DialogModelTest, AnEnigma2ListIsConvertedWithTheDefaultsAndItsReportShownFirst) {
    Rig rig({}, false);
    test::TempDir dir;
    const std::string lamedb =
        "eDVB services /4/\ntransponders\n00c00000:0441:0001\n"
        "\ts 11494000:22000000:1:2:192:2:0\n/\nend\nservices\n"
        "283d:00c00000:0441:0001:25:0\nDas Erste HD\nc:0013ed,c:0113ee,p:ARD\n"
        "283e:00c00000:0441:0001:25:0\nDas Erste HD\np:ARD\nend\n";
    rig.model->TakeFile(
        dir.Write("lamedb", std::vector<std::uint8_t>(lamedb.begin(), lamedb.end())));
    rig.model->Controller().Settings().strWorkDir = dir.path().string();
    rig.model->OnStart();
    ASSERT_TRUE(rig.PumpUntil([&] { return rig.view.controls[ID_OK].enabled; }));
    const std::vector<std::string> shown = rig.journal.MessagesShown();
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_NE(shown[0].find("from " + dir.File("lamedb") + " (Enigma2 list, version 4)."),
              std::string::npos)
        << shown[0];
    EXPECT_NE(shown[0].find("Converted 2 services, 1 of them without PIDs (written as 8191).\n"
                            "The receiver gets 1 satellite, 1 transponder, 2 TV channels and 0 "
                            "radio channels."),
              std::string::npos)
        << shown[0];
    // Upgrade type Code, the default: converted, then refused like a .sdx.
    EXPECT_EQ(shown[1], "message \n Please select to upgrade Database!!\n");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "db1.bin"));
}

TEST(DialogModelTest, TheEngineOpensAChosenFileWhateverItsName) {
    // Hangul is outside most Windows code pages: there the engine gets the
    // short name; elsewhere the UTF-8 name as it is.
    test::TempDir dir;
    const std::u8string name = u8"\uD504\uB85C\uADF8\uB7A8.bin";
    const std::filesystem::path file = dir.path() / name;
    { std::ofstream(file, std::ios::binary) << "image"; }
    const std::u8string full = file.u8string();
    const std::string utf8(full.begin(), full.end());
    std::FILE* opened = std::fopen(EnginePath(utf8).c_str(), "rb");
    ASSERT_NE(opened, nullptr) << EnginePath(utf8);
    std::fclose(opened);
}

TEST(DialogResourceTest, TheMainTemplateIsAnExtendedDialogTemplate) {
    const DialogTemplate& main = MainDialogTemplate();
    const std::vector<std::uint8_t> bytes = BuildDialogTemplate(main);
    auto word = [&](std::size_t at) {
        return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8U));
    };
    auto dword = [&](std::size_t at) {
        return static_cast<std::uint32_t>(word(at) | (std::uint32_t{word(at + 2)} << 16U));
    };
    auto text = [&](std::size_t& at) {
        std::u16string out;
        for (; word(at) != 0; at += 2) {
            out.push_back(static_cast<char16_t>(word(at)));
        }
        at += 2;
        return out;
    };
    EXPECT_EQ(word(0), 1);
    EXPECT_EQ(word(2), 0xFFFF);
    EXPECT_EQ(dword(8), 0x00040000U);  // shown in the task bar
    // Popup, caption, system menu, modal frame, font, centred; no minimise or maximise box.
    EXPECT_EQ(dword(12), 0x80C808C0U);
    EXPECT_EQ(word(16), main.controls.size());
    EXPECT_EQ(word(22), 229);
    EXPECT_EQ(word(24), 206);
    std::size_t at = 30;  // after the empty menu and class
    EXPECT_EQ(text(at), u"Velmora (Ver1.0a)");
    EXPECT_EQ(word(at), 9);
    EXPECT_EQ(bytes[at + 5], 0x81);
    at += 6;
    EXPECT_EQ(text(at), u"\uAD74\uB9BC");

    // The first item, Start: aligned, a visible default push button with a tab stop.
    at = (at + 3) & ~std::size_t{3};
    EXPECT_EQ(dword(at + 8), 0x50010001U);
    EXPECT_EQ(word(at + 12), 162);
    EXPECT_EQ(word(at + 14), 103);
    EXPECT_EQ(dword(at + 20), 1U);
    EXPECT_EQ(word(at + 24), 0xFFFF);
    EXPECT_EQ(word(at + 26), 0x0080);
    at += 28;
    EXPECT_EQ(text(at), u"&Start");
    EXPECT_EQ(word(at), 0);  // no creation data

    // A hidden digit field has ES_NUMBER and no WS_VISIBLE.
    const ControlTemplate* maxSat = main.Find(IDC_MAXSAT);
    EXPECT_EQ(ControlStyleOf(*maxSat) & 0x10002000U, 0x00002000U);
    EXPECT_EQ(ControlStyleOf(*main.Find(IDC_PORT)) & 0x0103U, 0x0103U);  // sorted drop-down list
    EXPECT_EQ(Utf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(DialogResourceTest, AMissingGulimGivesWayToAStandInOrASansSerifFace) {
    const std::vector<std::string> sans = {"Tahoma", "DejaVu Sans", "MS Shell Dlg 2"};
    auto only = [](std::vector<std::string> present) {
        return [present](const std::string& face) {
            return std::find(present.begin(), present.end(), face) != present.end();
        };
    };
    EXPECT_EQ(ChooseDialogFace(only({"\xEA\xB5\xB4\xEB\xA6\xBC", "NanumGothic"}), sans),
              "\xEA\xB5\xB4\xEB\xA6\xBC");
    EXPECT_EQ(ChooseDialogFace(only({"NanumGothic", "Tahoma"}), sans), "NanumGothic");
    EXPECT_EQ(ChooseDialogFace(only({"DejaVu Serif", "DejaVu Sans"}), sans), "DejaVu Sans");
    EXPECT_EQ(ChooseDialogFace(only({}), sans), "MS Shell Dlg 2");

    // A face without Hangul is asked for with the default charset, so that
    // the font mapper does not swap it for a Korean (serif) face.
    DialogTemplate dlg = MainDialogTemplate();
    dlg.fontFace = "DejaVu Sans";
    const std::vector<std::uint8_t> bytes = BuildDialogTemplate(dlg);
    const std::size_t fontAt = 30 + 2 * (std::string(kAppCaption).size() + 1);
    EXPECT_EQ(bytes.at(fontAt + 5), 0x01);
}

TEST(DialogArgumentsTest, HelpVersionAndUnknownOptionsAreAnsweredNotTakenAsFiles) {
    using Action = DialogArguments::Action;
    EXPECT_EQ(ParseDialogArguments({}).action, Action::Run);
    EXPECT_EQ(ParseDialogArguments({"image.bin"}).file, "image.bin");
    const DialogArguments version = ParseDialogArguments({"image.bin", "--version"});
    EXPECT_EQ(version.action, Action::Version);
    EXPECT_EQ(version.text, std::string("velmora ") + kVersion);
    EXPECT_EQ(ParseDialogArguments({"--help"}).text, DialogUsage());
    const DialogArguments unknown = ParseDialogArguments({"--port=COM3"});
    EXPECT_EQ(unknown.action, Action::Refused);
    EXPECT_EQ(unknown.text.rfind("Unknown option --port=COM3.", 0), 0U);
    EXPECT_EQ(ParseDialogArguments({"a.bin", "b.bin"}).action, Action::Refused);
    // After "--" a name is a file whatever it looks like; "-x" is one anyway.
    EXPECT_EQ(ParseDialogArguments({"--", "--version"}).file, "--version");
    EXPECT_EQ(ParseDialogArguments({"-x.bin"}).file, "-x.bin");
}

TEST(StationArgumentsTest, TheStationCommandLineTakesTheOptionsOfTheCommandLinesStation) {
    using Action = StationArguments::Action;
    EXPECT_TRUE(IsStationCommandLine({"fw.bin", "--station"}));
    EXPECT_FALSE(IsStationCommandLine({"--", "--station"}));
    EXPECT_FALSE(IsStationCommandLine({"fw.bin"}));

    const StationArguments run = ParseStationArguments(
        {"--station", "fw.bin", "--port", "COM3", "--port", "/dev/ttyUSB0", "--type", "database",
         "--once", "--timeout", "5", "--log", "jobs.jsonl", "--max-sat", "40", "--start"});
    ASSERT_EQ(run.action, Action::Run) << run.text;
    EXPECT_EQ(run.choices.file, "fw.bin");
    EXPECT_EQ(run.choices.ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0"}));
    EXPECT_FALSE(run.choices.everyAdapter);
    EXPECT_EQ(run.choices.values.strUpgradeType, "Database");
    EXPECT_EQ(run.choices.values.nMaxSat, 40);
    EXPECT_TRUE(run.choices.once);
    EXPECT_EQ(run.choices.waitLimit, std::chrono::milliseconds(5000));
    EXPECT_EQ(run.choices.log, "jobs.jsonl");
    EXPECT_TRUE(run.start);

    const StationArguments every = ParseStationArguments({"--station", "--port", "all"});
    EXPECT_EQ(every.action, Action::Run);
    EXPECT_TRUE(every.choices.everyAdapter);
    EXPECT_TRUE(every.choices.file.empty());
    EXPECT_FALSE(every.start);

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--station", "--port", "all", "--port", "COM1"},
          {"--station", "--type", "Flash"},
          {"--station", "--prot", "COM1"},
          {"--station", "a.bin", "b.bin"}}) {
        const StationArguments refused = ParseStationArguments(wrong);
        EXPECT_EQ(refused.action, Action::Refused) << wrong[1];
        EXPECT_EQ(refused.text.rfind("velmora --station: ", 0), 0U) << refused.text;
    }
    const StationArguments help = ParseStationArguments({"--station", "--help"});
    EXPECT_EQ(help.action, Action::Help);
    EXPECT_NE(help.text.find("--start"), std::string::npos);
    EXPECT_NE(help.text.find("--max-radio"), std::string::npos);
}

}  // namespace
}  // namespace velmora::ui
