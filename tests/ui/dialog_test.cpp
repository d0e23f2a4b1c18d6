// The main dialog and the about box without a running job: the controls as
// the template lays them out, data exchange, the upgrade-type enabling, the
// about item, Select File, and the Start command's own refusals.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include "app/UpgradeApp.h"
#include "serial/PortList.h"
#include "tests/ui/UiTestKit.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/UpgradeDlg.h"

namespace velmora::ui::test {
namespace {

QString AppCaption() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QStringList Items(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items << combo.itemText(i);
    }
    return items;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QTemporaryDir m_dir;
};

TEST_F(DialogTest, StartsWithTheTemplatesControlsDefaultsAndFocus) {
    CUpgradeDlg dlg;
    dlg.show();
    const DialogBaseUnits units = dlg.BaseUnits();
    ASSERT_GT(units.cx, 0);
    ASSERT_GT(units.cy, 0);

    EXPECT_EQ(dlg.windowTitle(), "Velmora (Ver1.0a)");
    EXPECT_EQ(dlg.size(), MapDialogSize(units, 229, 206));
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    const QPoint screenCentre = dlg.screen()->availableGeometry().center();
    EXPECT_LE((dlg.frameGeometry().center() - screenCentre).manhattanLength(), 2);

    // Visible controls: kind, text and place in dialog units.
    struct Visible {
        int id;
        const char* kind;
        QString text;
        QRect dlu;
    };
    const Visible visible[] = {
        {ID_OK, "QPushButton", "&Start", {162, 103, 54, 19}},
        {ID_CANCEL, "QPushButton", "&Cancel", {162, 126, 54, 19}},
        {IDC_FILEPATH, "QLineEdit", "", {11, 74, 146, 19}},
        {IDC_SELECTFILE, "QPushButton", "S&elect File", {162, 74, 54, 19}},
        {IDC_SENDPROGRESS, "QProgressBar", "", {10, 187, 207, 7}},
        {IDC_ANALYSEPROGRESS, "QProgressBar", "", {10, 159, 207, 7}},
    };
    for (const Visible& v : visible) {
        SCOPED_TRACE(v.id);
        QWidget* w = Control(dlg, v.id);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), v.kind);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->geometry(),
                  MapDialogRect(units, v.dlu.x(), v.dlu.y(), v.dlu.width(), v.dlu.height()));
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), v.text);
        }
    }
    auto* start = Control<QPushButton>(dlg, ID_OK);
    EXPECT_TRUE(start->isDefault());
    EXPECT_EQ(dlg.focusWidget(), start);

    auto* port = Control<QComboBox>(dlg, IDC_PORT);
    EXPECT_FALSE(port->isEditable());
    // The ports this machine has, if any, follow.
    EXPECT_EQ(Items(*port).mid(0, 8),
              QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    EXPECT_EQ(port->currentText(), "COM1");
    EXPECT_EQ(port->geometry().topLeft(), MapDialogRect(units, 81, 120, 62, 62).topLeft());
    // The device each name stands for on this system, next to the name.
    EXPECT_EQ(port->itemData(2, Qt::ToolTipRole).toString(),
              "COM3: " + QString::fromStdString(ResolvePortName(3)));

    auto* file = Control<QLineEdit>(dlg, IDC_FILEPATH);
    EXPECT_TRUE(file->isReadOnly());
    EXPECT_TRUE(file->text().isEmpty());
    for (int id : {IDC_SENDPROGRESS, IDC_ANALYSEPROGRESS}) {
        auto* bar = Control<QProgressBar>(dlg, id);
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
    }
    QStringList groups;
    for (const QGroupBox* box : dlg.findChildren<QGroupBox*>()) {
        groups << box->title();
    }
    groups.sort();
    EXPECT_EQ(groups, QStringList({"Comm Setting", "Data Send Progress", "Data analyse Progress",
                                   "Software"}));

    // Tab order of the controls that take the focus, from Start round to Start.
    QStringList order;
    QWidget* w = start;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisible()) {
            order << w->objectName();
        }
        w = w->nextInFocusChain();
    } while (w != start);
    EXPECT_EQ(order, QStringList({"1", "2", "1003", "1008", "1009"}));
}

TEST_F(DialogTest, HiddenControlsHoldTheDefaultsBehindHiddenLabels) {
    CUpgradeDlg dlg;
    dlg.show();
    struct Hidden {
        int id;
        const char* label;
        bool editable;
        bool enabled;
        QStringList items;
        QString value;
    };
    const Hidden hidden[] = {
        {IDC_BAUDRATE,
         "Baud Rate:",
         false,
         false,
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
          "57600", "115200", "128000", "256000"},
         "115200"},
        {IDC_PARITY, "Parity:", false, false, {"EVEN", "NONE", "ODD"}, "NONE"},
        {IDC_DATABITS, "Data Bits:", false, false, {"5", "6", "7", "8"}, "8"},
        {IDC_STOPBITS, "Stop Bits:", false, false, {"1", "1.5", "2"}, "1"},
        {IDC_UPGRADETYPE,
         "Upgrade Type:",
         true,
         true,
         {"Code", "Custom", "Database", "Db Import/Export"},
         "Code"},
        {IDC_MODELNO, "Model No.:", true, true, {"ZT4400VBOX"}, "ZT4400VBOX"},
        {IDC_PROJECTNAME, "Project Name:", true, true, {"DVB-S", "DVB-S+T"}, "DVB-S"},
        {IDC_OFFSET, "Offset:", false, false, {}, "1b0000"},
        {IDC_MAXSAT, "Max Sat No.:", false, false, {}, "32"},
        {IDC_MAXTP, "Max TP No.:", false, false, {}, "512"},
        {IDC_DBSIZE, "Db Size:", false, false, {}, "65535"},
        {IDC_MAXTV, "Max TV No.:", false, false, {}, "500"},
        {IDC_MAXRADIO, "Max Radio No.:", false, false, {}, "1"},
        {IDC_LNBCHIGH, "LNB-C High:", false, false, {}, "5150"},
        {IDC_LNBCLOW, "LNB-C Low:", false, false, {}, "5150"},
        {IDC_LNBKUHIGH, "LNB-Ku High:", false, false, {}, "10600"},
        {IDC_LNBKULOW, "LNB-Ku Low:", false, false, {}, "9750"},
    };
    for (const Hidden& h : hidden) {
        SCOPED_TRACE(h.id);
        QWidget* control = Control(dlg, h.id);
        auto* label = dlg.findChild<QLabel*>(LabelName(h.id));
        ASSERT_NE(control, nullptr);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), h.label);
        EXPECT_TRUE(label->isHidden());
        EXPECT_TRUE(control->isHidden());
        EXPECT_EQ(control->isEnabled(), h.enabled);
        if (auto* combo = qobject_cast<QComboBox*>(control)) {
            EXPECT_EQ(combo->isEditable(), h.editable);
            EXPECT_EQ(Items(*combo), h.items);
            EXPECT_EQ(combo->currentText(), h.value);
        } else {
            auto* edit = qobject_cast<QLineEdit*>(control);
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->text(), h.value);
        }
    }
    // The digit fields take only digits from the keyboard.
    auto* maxSat = Control<QLineEdit>(dlg, IDC_MAXSAT);
    maxSat->setEnabled(true);
    maxSat->clear();
    QTest::keyClicks(maxSat, "4a-2");
    EXPECT_EQ(maxSat->text(), "42");
}

TEST_F(DialogTest, DataExchangeFollowsTheListAndNumberRules) {
    CUpgradeDlg dlg;
    ModalAnswerer answerer;

    // Loading: a prefix selects the first matching item, ignoring case; a
    // drop-down list without a match keeps its selection; an editable combo
    // shows the text; the file box is never written.
    dlg.Model().m_values.strUpgradeType = "dAtA";
    dlg.Model().m_values.strParity = "MARK";
    dlg.Model().m_values.strModelNo = "LX3300AB";
    dlg.Model().m_strFilePath = "/not/shown";
    dlg.Model().m_values.nMaxSat = 200;
    EXPECT_TRUE(dlg.UpdateData(false));
    EXPECT_EQ(Control<QComboBox>(dlg, IDC_UPGRADETYPE)->currentText(), "Database");
    EXPECT_EQ(Control<QComboBox>(dlg, IDC_PARITY)->currentText(), "NONE");
    EXPECT_EQ(Control<QComboBox>(dlg, IDC_MODELNO)->currentText(), "LX3300AB");
    EXPECT_TRUE(Control<QLineEdit>(dlg, IDC_FILEPATH)->text().isEmpty());
    EXPECT_EQ(Control<QLineEdit>(dlg, IDC_MAXSAT)->text(), "200");

    // Saving: free text of an editable combo, the selected item of a list,
    // and the file box read as it is.
    Control<QComboBox>(dlg, IDC_PROJECTNAME)->setEditText("DVB-T2");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.Model().m_values.strProjectName, "DVB-T2");
    EXPECT_EQ(dlg.Model().m_values.strUpgradeType, "Database");
    EXPECT_EQ(dlg.Model().m_values.strParity, "NONE");
    EXPECT_TRUE(dlg.Model().m_strFilePath.empty());
    EXPECT_EQ(dlg.MemberValues().strModelNo, "LX3300AB");

    // A number field that holds no number: a prompt that names it, the focus
    // there (shown here, so that it can take the focus), and the fields after
    // it in the exchange keep their members.
    dlg.show();
    Control(dlg, IDC_MAXTP)->show();
    Control(dlg, IDC_MAXTP)->setEnabled(true);
    Control<QLineEdit>(dlg, IDC_MAXTV)->setText("600");
    Control<QLineEdit>(dlg, IDC_MAXTP)->setText("12x");
    Control<QLineEdit>(dlg, IDC_MAXSAT)->setText("7");
    EXPECT_FALSE(dlg.UpdateData(true));
    ASSERT_EQ(answerer.Seen().size(), 1U);
    EXPECT_TRUE(answerer.Seen()[0].text.startsWith("Max TP No. needs a whole number"))
        << answerer.Seen()[0].text.toStdString();
    EXPECT_EQ(answerer.Seen()[0].caption, AppCaption());
    EXPECT_EQ(dlg.focusWidget(), Control(dlg, IDC_MAXTP));
    EXPECT_EQ(dlg.Model().m_values.nMaxTv, 600);   // before the faulty field
    EXPECT_EQ(dlg.Model().m_values.nMaxTp, 512);   // the faulty field
    EXPECT_EQ(dlg.Model().m_values.nMaxSat, 200);  // after it
    // Too large for 32 bits is no number either.
    Control<QLineEdit>(dlg, IDC_MAXTP)->setText("2147483648");
    EXPECT_FALSE(dlg.UpdateData(true));
    Control<QLineEdit>(dlg, IDC_MAXTP)->setText(" -12 ");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.Model().m_values.nMaxTp, -12);
    EXPECT_EQ(dlg.Model().m_values.nMaxSat, 7);

    // OK transfers the controls and leaves the dialog open.
    Control<QLineEdit>(dlg, IDC_OFFSET)->setText("0x1c0000");
    dlg.accept();
    EXPECT_EQ(dlg.Model().m_values.strOffset, "0x1c0000");
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(DialogTest, UpgradeTypeEnablesTheTenFieldsForEveryTypeButCode) {
    CUpgradeDlg dlg;
    dlg.show();
    const int fields[] = {IDC_OFFSET,   IDC_MAXSAT,   IDC_MAXTP,   IDC_DBSIZE,    IDC_MAXTV,
                          IDC_MAXRADIO, IDC_LNBCHIGH, IDC_LNBCLOW, IDC_LNBKUHIGH, IDC_LNBKULOW};
    auto enabled = [&] {
        int count = 0;
        for (int id : fields) {
            count += Control(dlg, id)->isEnabled() ? 1 : 0;
        }
        return count;
    };
    auto* type = Control<QComboBox>(dlg, IDC_UPGRADETYPE);
    for (const char* text : {"Database", "Code", "Custom", "Code", "Db Import/Export"}) {
        SCOPED_TRACE(text);
        ChooseItem(*type, text);
        ASSERT_EQ(type->currentText(), text);
        EXPECT_EQ(enabled(), QString(text) == "Code" ? 0 : 10);
        EXPECT_EQ(dlg.Model().m_values.strUpgradeType, text);
        // Labels, the type itself, model and project are not touched.
        EXPECT_TRUE(type->isEnabled());
        EXPECT_TRUE(Control(dlg, IDC_MODELNO)->isEnabled());
        EXPECT_TRUE(Control(dlg, IDC_PROJECTNAME)->isEnabled());
        EXPECT_TRUE(Control(dlg, IDC_BAUDRATE)->isHidden());
        EXPECT_TRUE(dlg.findChild<QLabel*>(LabelName(IDC_OFFSET))->isEnabled());
    }
    // Text typed into the edit field alone is no selection change.
    type->setEditText("Code");
    EXPECT_EQ(enabled(), 10);
}

TEST_F(DialogTest, AboutBoxOpensForTheWholeCommandRangeAndFromTheContextMenu) {
    CUpgradeDlg dlg;
    dlg.show();
    std::vector<QRect> aboutGeometry;
    QString okText;
    bool koreanGlyphs = false;
    ModalAnswerer answerer([&](QWidget& box) {
        auto* about = qobject_cast<CAboutDlg*>(&box);
        if (about != nullptr) {
            const DialogBaseUnits units = about->BaseUnits();
            aboutGeometry.push_back(box.geometry());
            EXPECT_EQ(box.size(), MapDialogSize(units, 235, 55));
            EXPECT_LE(
                (box.frameGeometry().center() - dlg.frameGeometry().center()).manhattanLength(), 2);
            auto* ok = Control<QPushButton>(box, ID_OK);
            okText = ok->text();
            EXPECT_TRUE(ok->isDefault());
            EXPECT_EQ(ok->geometry(), MapDialogRect(units, 178, 7, 50, 14));
            const QFontMetrics metrics(ok->font());
            koreanGlyphs = metrics.inFont(QChar(0xD655)) && metrics.inFont(QChar(0xC778));
            ok->click();
            return;
        }
        ModalAnswerer::Accept(box);
    });

    EXPECT_TRUE(dlg.OnSysCommand(0x0010, 0));
    EXPECT_TRUE(dlg.OnSysCommand(0x001F, 0));
    EXPECT_FALSE(dlg.OnSysCommand(0x0040, 0));
    EXPECT_FALSE(dlg.OnSysCommand(0xF060, 0));  // close: default handling
    ASSERT_EQ(answerer.Seen().size(), 2U);
    EXPECT_EQ(answerer.Seen()[0].caption, "Velmora (Ver1.0a)");
    EXPECT_EQ(okText, QString::fromUtf8("\xED\x99\x95\xEC\x9D\xB8"));  // 확인
    EXPECT_TRUE(koreanGlyphs) << QFontInfo(dlg.font()).family().toStdString();

    // The about item in the context menu, as the window manager owns the system menu.
    QAction* item = dlg.findChild<QAction*>("aboutItem");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8("Velmora \xEC\xA0\x95\xEB\xB3\xB4(&A)..."));
    EXPECT_TRUE(dlg.actions().contains(item));
    EXPECT_EQ(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
    item->trigger();
    EXPECT_EQ(answerer.Seen().size(), 3U);
    EXPECT_TRUE(dlg.isVisible());

    // "Station…" after the settings item opens the station window over the dialog.
    QAction* station = dlg.findChild<QAction*>("stationItem");
    ASSERT_NE(station, nullptr);
    EXPECT_EQ(station->text(), QString::fromUtf8("Station\xE2\x80\xA6"));
    EXPECT_EQ(dlg.actions().indexOf(station), dlg.actions().size() - 1);
    station->trigger();
    ASSERT_EQ(answerer.Seen().size(), 4U);
    EXPECT_EQ(answerer.Seen()[3].className, "velmora::ui::CStationDlg");
    EXPECT_EQ(answerer.Seen()[3].caption, "Velmora Station (Ver1.0a)");
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(DialogTest, SelectFileTakesATypedNameAndCancelChangesNothing) {
    CUpgradeDlg dlg;
    dlg.show();
    const QString list = m_dir.filePath("channels.sdx");  // not a *.bin name, not even existing
    QStringList filters;
    bool anyFile = false;
    bool typed = false;
    ModalAnswerer answerer([&](QWidget& box) {
        auto* chooser = qobject_cast<QFileDialog*>(&box);
        if (chooser == nullptr) {
            ModalAnswerer::Accept(box);
            return;
        }
        filters = chooser->nameFilters();
        anyFile = chooser->fileMode() == QFileDialog::AnyFile;
        auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
        if (!typed && name != nullptr) {
            typed = true;
            name->setText(list);
            QTest::keyClick(name, Qt::Key_Return);
        } else {
            chooser->reject();
        }
    });

    QTest::mouseClick(Control<QPushButton>(dlg, IDC_SELECTFILE), Qt::LeftButton);
    ASSERT_EQ(answerer.Seen().size(), 1U);
    EXPECT_EQ(filters,
              QStringList({"BIN File(*.bin)", "Channel list (*.sdx)",
                           "Enigma2 or VDR list (lamedb lamedb5 *.conf)", "All files (*.*)"}));
    EXPECT_TRUE(anyFile);
    EXPECT_EQ(Control<QLineEdit>(dlg, IDC_FILEPATH)->text(), list);
    EXPECT_EQ(dlg.Model().m_strFilePath, list.toStdString());
    EXPECT_EQ(dlg.Controller().Settings().strFilePath, list.toStdString());

    // Cancelled: the box and the job settings stay as they were.
    dlg.OnSelectFile();
    ASSERT_EQ(answerer.Seen().size(), 2U);
    EXPECT_EQ(Control<QLineEdit>(dlg, IDC_FILEPATH)->text(), list);
    EXPECT_EQ(dlg.Controller().Settings().strFilePath, list.toStdString());
}

TEST_F(DialogTest, CommandLineFileAndDroppedFileAreTakenLikeSelectFile) {
    QString error;
    EXPECT_EQ(CUpgradeApp::FileArgument({"velmora", "image.bin"}, error), "image.bin");
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(CUpgradeApp::FileArgument({"velmora"}, error).isEmpty());
    EXPECT_TRUE(CUpgradeApp::FileArgument({"velmora", "a.bin", "b.bin"}, error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    // A relative name becomes the full path, as the file dialog gives it.
    const QString image = MakeFile(m_dir, "image.bin", 16);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    const auto fromArgs = CUpgradeApp::CreateMainDialog({"velmora", "image.bin"});
    QDir::setCurrent(previous);
    EXPECT_EQ(Control<QLineEdit>(*fromArgs, IDC_FILEPATH)->text(),
              QFileInfo(image).absoluteFilePath());
    EXPECT_EQ(fromArgs->Controller().Settings().strFilePath,
              QFileInfo(image).absoluteFilePath().toStdString());

    CUpgradeDlg dlg;
    dlg.show();
    const QString dropped = MakeFile(m_dir, "dropped.bin", 16);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dropped)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &drop);
    EXPECT_EQ(dlg.Model().m_strFilePath, dropped.toStdString());
    EXPECT_EQ(dlg.Controller().Settings().strFilePath, dropped.toStdString());

    // Two files at once are not taken.
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(dropped), QUrl::fromLocalFile(image)});
    QDragEnterEvent enterTwo(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
    enterTwo.setAccepted(false);
    QCoreApplication::sendEvent(&dlg, &enterTwo);
    EXPECT_FALSE(enterTwo.isAccepted());
}

TEST_F(DialogTest, StartRefusesAMissingFileAndReportsPortAndLimitFailures) {
    CUpgradeDlg dlg;
    dlg.show();
    ModalAnswerer answerer;

    // Enter on Start, the default button: no file chosen yet.
    QTest::keyClick(Control(dlg, ID_OK), Qt::Key_Return);
    ASSERT_EQ(answerer.Seen().size(), 1U);
    EXPECT_EQ(answerer.Seen()[0].text, "Transferred file is not exist!");
    EXPECT_EQ(answerer.Seen()[0].caption, AppCaption());
    EXPECT_EQ(dlg.Controller().LastLineParams().nPort, 0);  // nothing converted
    EXPECT_FALSE(dlg.Controller().IsBusy());

    // Enter in the file box runs Start too.
    dlg.TakeFile(m_dir.filePath("gone.bin"));
    QTest::keyClick(Control(dlg, IDC_FILEPATH), Qt::Key_Return);
    ASSERT_EQ(answerer.Seen().size(), 2U);
    EXPECT_EQ(answerer.Seen()[1].text, "Transferred file is not exist!");

    // The satellite limit is refused before the port is opened.
    dlg.TakeFile(MakeFile(m_dir, "image.bin", 32));
    qputenv("VELMORA_COM1", m_dir.filePath("no-such-device").toLocal8Bit());
    Control<QLineEdit>(dlg, IDC_MAXSAT)->setText("201");
    dlg.OnStart();
    ASSERT_EQ(answerer.Seen().size(), 3U);
    EXPECT_TRUE(answerer.Seen()[2].text.startsWith("Max Sat No. is 201"));
    EXPECT_EQ(dlg.Controller().Settings().nMaxSat, 201);

    // A port that cannot be opened.
    Control<QLineEdit>(dlg, IDC_MAXSAT)->setText("200");
    dlg.OnStart();
    ASSERT_EQ(answerer.Seen().size(), 4U);
    EXPECT_EQ(answerer.Seen()[3].text, "UART1 is already Opened Or not Exist!");
    // The reason and the remedy under it.
    EXPECT_TRUE(
        answerer.Seen()[3].detail.startsWith("Cannot open " + m_dir.filePath("no-such-device")))
        << answerer.Seen()[3].detail.toStdString();
    EXPECT_TRUE(
        answerer.Seen()[3].detail.endsWith("Plug the adapter in, or choose it in the Port list."));
    EXPECT_FALSE(dlg.Controller().IsBusy());
    qunsetenv("VELMORA_COM1");
}

TEST_F(DialogTest, SettingsItemShowsTheHiddenControlsBelowTheDialogsOwnArea) {
    CUpgradeDlg dlg;
    dlg.show();
    const DialogTemplate& main = MainDialogTemplate();
    const DialogBaseUnits units = dlg.BaseUnits();
    QAction* item = dlg.findChild<QAction*>("settingsItem");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8("Settings\xE2\x80\xA6"));
    EXPECT_EQ(dlg.actions().indexOf(item),
              dlg.actions().indexOf(dlg.findChild<QAction*>("aboutItem")) + 1);

    // The window grows downward; the control shows with its label, in place.
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(dlg.size(), MapDialogSize(units, main.cx, main.cySettings));
    EXPECT_TRUE(dlg.findChild<QLabel*>(LabelName(IDC_MAXSAT))->isVisible());
    EXPECT_EQ(Control(dlg, IDC_MAXSAT)->geometry().topLeft(),
              MapDialogRect(units, main.Find(IDC_MAXSAT)->rect).topLeft());
    item->trigger();
    EXPECT_EQ(dlg.size(), MapDialogSize(units, main.cx, main.cy));
    EXPECT_TRUE(Control(dlg, IDC_MAXSAT)->isHidden());
}

TEST_F(DialogTest, PortListIsReadAgainWhenItDropsDown) {
    CUpgradeDlg dlg;
    dlg.show();
    auto* port = Control<QComboBox>(dlg, IDC_PORT);
    dlg.Model().SetPortSource([] {
        SerialPortInfo adapter;
        adapter.name = "/dev/ttyUSB0";
        adapter.product = "FT232R USB UART";
        return PortEntries({adapter});
    });
    port->showPopup();
    port->hidePopup();
    EXPECT_EQ(Items(*port).mid(8),
              QStringList({QString::fromUtf8("/dev/ttyUSB0 \u2013 FT232R USB UART")}));
    EXPECT_EQ(port->currentText(), "COM1");
}

TEST_F(DialogTest, TheDialogFontFallsBackToASansSerifFace) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.styleHint(), QFont::SansSerif);
    EXPECT_EQ(QFont::substitutes(font.family()).constLast(), kSansSerifFamily);
    // With none of its faces installed, the font resolves as sans-serif does.
    QFont missing = font;
    missing.setFamily(QStringLiteral("No Such Face Velmora"));
    EXPECT_EQ(QFontInfo(missing).family(), QFontInfo(QFont(kSansSerifFamily)).family());
}

TEST_F(DialogTest, EscapeAndCancelCloseTheDialog) {
    {
        CUpgradeDlg dlg;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    CUpgradeDlg dlg;
    dlg.show();
    QTest::mouseClick(Control<QPushButton>(dlg, ID_CANCEL), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    // Shown again, it works as before.
    dlg.show();
    ModalAnswerer answerer;
    dlg.OnStart();
    EXPECT_EQ(answerer.Texts(), QStringList({"Transferred file is not exist!"}));
}

}  // namespace
}  // namespace velmora::ui::test
