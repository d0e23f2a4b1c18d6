// CUpgradeApp: the application object. It sets up Qt, shows the main dialog
// modally and ends the process when the dialog closes; nothing is saved.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include <memory>

#include "app/StationArguments.h"

namespace velmora::ui {
class CStationDlg;
class CUpgradeDlg;
}  // namespace velmora::ui

namespace velmora {

class CUpgradeApp {
public:
    CUpgradeApp(int& argc, char** argv);
    ~CUpgradeApp();

    CUpgradeApp(const CUpgradeApp&) = delete;
    CUpgradeApp& operator=(const CUpgradeApp&) = delete;

    // Builds the main dialog from the command line and runs it modally.
    // Returns the process's exit code.
    int InitInstance();

    // The file named on the command line (`velmora FILE`), empty when none;
    // `error` is set when the command line cannot be used.
    static QString FileArgument(const QStringList& arguments, QString& error);

    // Constructs the main dialog and hands it the file argument, if any.
    static std::unique_ptr<ui::CUpgradeDlg> CreateMainDialog(const QStringList& arguments);

    // Constructs the station window of a station command line (velmora
    // --station ...), the file and the log made absolute; started once shown
    // when --start was given.
    static std::unique_ptr<ui::CStationDlg> CreateStationWindow(const StationArguments& parsed,
                                                                ui::StationServices services = {});

private:
    // velmora --station ...: the station window, or its help or refusal.
    static int RunStation(const QStringList& arguments);

    QApplication m_app;
};

}  // namespace velmora
