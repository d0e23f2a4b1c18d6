// Jobs driven from the dialog against the receiver emulator on a pty that
// stands in for COM1: the settings a job gets from the defaults, the exact
// positions the bars show, and closing the dialog while a job runs.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "emulator/ReceiverEmulator.h"
#include "serial/SerialPort.h"
#include "tests/support/DefaultSettings.h"
#include "tests/ui/UiTestKit.h"
#include "ui/qt/UpgradeDlg.h"

namespace velmora::ui::test {
namespace {

using namespace std::chrono_literals;

class TransferDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override {
        if (m_emulator) {
            m_emulator->Stop();
        }
        qunsetenv("VELMORA_COM1");
    }

    // Starts the emulated receiver and makes COM1 its pty.
    void StartReceiver(emu::EmulatorOptions options = {}) {
        m_emulator = std::make_unique<emu::ReceiverEmulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(m_emulator->Start(error)) << error;
        qputenv("VELMORA_COM1", QByteArray::fromStdString(m_emulator->SlavePath()));
    }

    emu::TransferReport Report() {
        emu::TransferReport report;
        EXPECT_TRUE(m_emulator->WaitForReport(std::chrono::milliseconds(kDeadlineMs), report));
        return report;
    }

    // True when COM1 can be opened, i.e. no job holds it any more.
    static bool PortIsFree() {
        CSerialPort port;
        const bool opened = port.Open(1, 115200, 8, 0, 0) == 1;
        port.Close();
        return opened;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<emu::ReceiverEmulator> m_emulator;
};

TEST_F(TransferDialogTest, DefaultsReachTheJobAndTheLine) {
    StartReceiver();
    const QString image = MakeFile(m_dir, "code.bin", 100);
    CUpgradeDlg dlg;
    dlg.show();
    dlg.TakeFile(image);
    ModalAnswerer answerer;
    // Closed while idle and shown again, the dialog starts jobs as before.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    ASSERT_FALSE(dlg.isVisible());
    dlg.show();

    dlg.OnStart();
    const JobSettings& s = dlg.Controller().Settings();
    velmora::test::ExpectDefaultJobSettings(s);
    EXPECT_EQ(s.strFilePath, image.toStdString());
    const LineParams& line = dlg.Controller().LastLineParams();
    EXPECT_EQ(line.nPort, 1);
    EXPECT_EQ(line.nBaudRate, 115200U);
    EXPECT_EQ(line.nDataBits, 8);
    EXPECT_EQ(line.nParity, kNoParity);
    EXPECT_EQ(line.nStopBits, kOneStopBit);

    ASSERT_TRUE(answerer.WaitForBoxes(1));
    EXPECT_EQ(answerer.Texts(), QStringList({"Data send finish !"}));
    const emu::TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
    EXPECT_EQ(report.offset, 0x00010000U);  // a program image, whatever the Offset field says
    EXPECT_EQ(report.data, ReadAll(image));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.Controller().IsBusy(); }, kDeadlineMs));
    EXPECT_EQ(dlg.Controller().LastOutcome(), JobOutcome::Finished);
}

TEST_F(TransferDialogTest, FullTransferShowsTheExactBarPositions) {
    StartReceiver();
    const QString image = MakeFile(m_dir, "image.bin", 1000, 3);
    const QString other = MakeFile(m_dir, "other.bin", 500, 9);
    CUpgradeDlg dlg;
    dlg.show();
    dlg.TakeFile(image);

    std::vector<int> send;
    std::vector<int> analyse;
    int ranges = 0;
    QObject::connect(&dlg.SendBar(), &CUiProgressBar::PositionShown, [&](int pos) {
        send.push_back(pos);
        // Choosing another file during the job changes the next job only.
        if (pos > 0 && pos < 100) {
            dlg.TakeFile(other);
        }
    });
    QObject::connect(&dlg.AnalyseBar(), &CUiProgressBar::PositionShown,
                     [&](int pos) { analyse.push_back(pos); });
    QObject::connect(&dlg.SendBar(), &CUiProgressBar::RangeShown, [&](int lower, int upper) {
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, 100);
        ++ranges;
    });

    // While the completion box is open both bars stand at 100 and Start is ignored.
    int sendAtBox = -1;
    int analyseAtBox = -1;
    int boxesDuringBox = -1;
    ModalAnswerer* answererPtr = nullptr;
    bool startGreyAtBox = false;
    bool focusOnCancelAtBox = true;
    QString statusAtBox;
    ModalAnswerer answerer([&](QWidget& box) {
        sendAtBox = Control<QProgressBar>(dlg, IDC_SENDPROGRESS)->value();
        analyseAtBox = Control<QProgressBar>(dlg, IDC_ANALYSEPROGRESS)->value();
        startGreyAtBox = !Control(dlg, ID_OK)->isEnabled();
        focusOnCancelAtBox = dlg.focusWidget() == Control(dlg, ID_CANCEL);  // Enter would close
        statusAtBox = Control<QLabel>(dlg, IDC_STATUS)->text();
        dlg.OnStart();
        boxesDuringBox = static_cast<int>(answererPtr->Seen().size());
        ModalAnswerer::Accept(box);
    });
    answererPtr = &answerer;

    QTest::mouseClick(Control<QPushButton>(dlg, ID_OK), Qt::LeftButton);
    ASSERT_TRUE(answerer.WaitForBoxes(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.Controller().IsBusy(); }, kDeadlineMs));

    EXPECT_EQ(answerer.Texts(), QStringList({"Data send finish !"}));
    EXPECT_EQ(answerer.Seen()[0].caption,
              QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    EXPECT_EQ(send, std::vector<int>({0, 24, 48, 72, 96, 100, 100, 0}));
    EXPECT_EQ(analyse, std::vector<int>({0, 100, 0}));
    EXPECT_EQ(ranges, 1);
    EXPECT_EQ(sendAtBox, 100);
    EXPECT_EQ(analyseAtBox, 100);
    EXPECT_EQ(boxesDuringBox, 1);
    EXPECT_EQ(Control<QProgressBar>(dlg, IDC_SENDPROGRESS)->value(), 0);
    EXPECT_TRUE(startGreyAtBox);
    EXPECT_FALSE(focusOnCancelAtBox);
    EXPECT_EQ(statusAtBox, "Sent 1,000 of 1,000 bytes");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Control(dlg, ID_OK)->isEnabled(); }, kDeadlineMs));
    EXPECT_EQ(Control<QLabel>(dlg, IDC_STATUS)->text(), "");

    const emu::TransferReport report = Report();
    EXPECT_TRUE(report.verified) << report.problem;
    EXPECT_EQ(report.data, ReadAll(image));
    EXPECT_EQ(report.blocksAcknowledged, 5U);
    EXPECT_EQ(dlg.Controller().Settings().strFilePath, other.toStdString());
    EXPECT_TRUE(PortIsFree());
}

// Where the job is when the dialog goes away.
enum class CloseAt {
    InsideProgressCall,  // the worker waits for the UI thread to show a bar position
    CompletionBoxOpen,   // the worker waits for the user to close "Data send finish !"
    WaitingForReceiver,  // the worker polls the port for an acknowledgement
    DestroyedNotClosed,  // the dialog object is deleted without being closed
};

class CloseDuringJobTest : public TransferDialogTest,
                           public ::testing::WithParamInterface<CloseAt> {};

TEST_P(CloseDuringJobTest, EndsTheJobClosesThePortAndNeverHangs) {
    const CloseAt at = GetParam();
    emu::EmulatorOptions options;
    options.neverAck = at == CloseAt::WaitingForReceiver || at == CloseAt::DestroyedNotClosed;
    StartReceiver(options);
    const QString image = MakeFile(m_dir, "image.bin", 2400);

    auto dlg = std::make_unique<CUpgradeDlg>();
    dlg->show();
    dlg->TakeFile(image);
    if (at == CloseAt::InsideProgressCall) {
        QObject::connect(&dlg->SendBar(), &CUiProgressBar::PositionShown, dlg.get(), [&](int pos) {
            if (pos == 30) {
                Watchdog watchdog(10s, "closing inside a progress call");
                dlg->close();
            }
        });
    }
    ModalAnswerer answerer([&](QWidget& box) {
        if (at == CloseAt::CompletionBoxOpen) {
            Watchdog watchdog(10s, "closing with the completion box open");
            dlg->close();
            EXPECT_FALSE(box.isVisible());
            return;
        }
        ModalAnswerer::Accept(box);
    });

    dlg->OnStart();
    ASSERT_TRUE(dlg->Controller().IsBusy());
    switch (at) {
        case CloseAt::InsideProgressCall:
        case CloseAt::CompletionBoxOpen:
            ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->isVisible(); }, kDeadlineMs));
            break;
        case CloseAt::WaitingForReceiver:
        case CloseAt::DestroyedNotClosed: {
            emu::TransferReport report;
            // The header went out; the receiver stays silent.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return Control<QProgressBar>(*dlg, IDC_ANALYSEPROGRESS)->value() == 100; },
                kDeadlineMs));
            QTest::qWait(100);
            Watchdog watchdog(10s, "closing while the worker waits for the receiver");
            if (at == CloseAt::WaitingForReceiver) {
                dlg->close();
            } else {
                dlg.reset();
            }
            break;
        }
    }
    // Once the header is out, closing asks first (answered Yes here).
    const bool asked = answerer.Texts().contains("An upgrade is running. Stop it and close?");
    EXPECT_EQ(asked, at == CloseAt::InsideProgressCall || at == CloseAt::WaitingForReceiver);
    if (dlg) {
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_FALSE(dlg->Controller().IsBusy());
        EXPECT_EQ(dlg->Controller().LastOutcome(),
                  at == CloseAt::CompletionBoxOpen ? JobOutcome::Finished : JobOutcome::Cancelled);
    }
    EXPECT_TRUE(PortIsFree());
    dlg.reset();
    // Queued calls of the worker, if any, find no dialog and do nothing.
    QTest::qWait(50);
}

INSTANTIATE_TEST_SUITE_P(Dialog, CloseDuringJobTest,
                         ::testing::Values(CloseAt::InsideProgressCall, CloseAt::CompletionBoxOpen,
                                           CloseAt::WaitingForReceiver,
                                           CloseAt::DestroyedNotClosed),
                         [](const ::testing::TestParamInfo<CloseAt>& param) {
                             switch (param.param) {
                                 case CloseAt::InsideProgressCall:
                                     return "InsideProgressCall";
                                 case CloseAt::CompletionBoxOpen:
                                     return "CompletionBoxOpen";
                                 case CloseAt::WaitingForReceiver:
                                     return "WaitingForReceiver";
                                 case CloseAt::DestroyedNotClosed:
                                     return "DestroyedNotClosed";
                             }
                             return "Unknown";
                         });

}  // namespace
}  // namespace velmora::ui::test
