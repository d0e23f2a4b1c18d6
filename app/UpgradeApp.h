// CUpgradeApp: the application object. It sets up Qt, shows the main dialog
// modally and ends the process when the dialog closes; nothing is saved.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include <memory>

namespace velmora::ui {
class CUpgradeDlg;
}

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

private:
    QApplication m_app;
};

}  // namespace velmora
