// The Qt station window as a bench's desktop shortcut opens it:
// velmora --station FILE --port P1 --port P2 --once --start, against two
// emulated receivers on ptys.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <memory>
#include <vector>

#include "app/StationArguments.h"
#include "app/UpgradeApp.h"
#include "emulator/ReceiverEmulator.h"
#include "tests/ui/UiTestKit.h"
#include "ui/qt/StationDlg.h"

namespace velmora::ui::test {
namespace {

TEST(StationWindowTest, StartedFromTheCommandLineItUpgradesEveryReceiverOnceAndLogsEachJob) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString image = MakeFile(dir, "fw.bin", 4000);
    const std::string log = dir.filePath(QStringLiteral("jobs.jsonl")).toStdString();
    emu::EmulatorOptions options;
    options.expectedData = ReadAll(image);
    std::vector<std::unique_ptr<emu::ReceiverEmulator>> receivers;
    std::vector<std::string> arguments = {
        "--station", image.toStdString(), "--once", "--start", "--log", log};
    for (int i = 0; i < 2; ++i) {
        receivers.push_back(std::make_unique<emu::ReceiverEmulator>(options));
        std::string error;
        ASSERT_TRUE(receivers.back()->Start(error)) << error;
        arguments.push_back("--port");
        arguments.push_back(receivers.back()->SlavePath());
    }
    const StationArguments parsed = ParseStationArguments(arguments);
    ASSERT_EQ(parsed.action, StationArguments::Action::Run) << parsed.text;
    const std::unique_ptr<CStationDlg> window = CUpgradeApp::CreateStationWindow(parsed);
    window->show();

    const auto ran = [&] {
        return !window->Model().Running() && window->TileArea().Tiles().size() == 2;
    };
    ASSERT_TRUE(QTest::qWaitFor(ran, 3 * kDeadlineMs)) << "the run did not end";
    for (const auto& receiver : receivers) {
        emu::TransferReport report;
        ASSERT_TRUE(receiver->WaitForReport(std::chrono::milliseconds(kDeadlineMs), report));
        EXPECT_TRUE(report.verified) << report.problem;
    }
    const std::vector<StationTile>& tiles = window->TileArea().Tiles();
    ASSERT_EQ(tiles.size(), 2U);
    for (const StationTile& tile : tiles) {
        EXPECT_EQ(tile.state, "Finished");
        EXPECT_EQ(tile.colour, TileColour::Finished);
    }
    EXPECT_TRUE(Control<QLabel>(*window, IDC_ST_TOTALS)
                    ->text()
                    .startsWith(QStringLiteral("Finished 2 \u00B7 Failed 0")));
    EXPECT_TRUE(Control<QPushButton>(*window, ID_OK)->isEnabled());
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        EXPECT_NE(line.find("\"outcome\":\"finished\""), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 2);
    // Idle, it closes without a question.
    window->reject();
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace velmora::ui::test
