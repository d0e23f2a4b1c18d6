#include "app/UpgradeApp.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/qt/QtJobBridge.h"
#include "ui/qt/StationDlg.h"
#include "ui/qt/UpgradeDlg.h"
#include "velmora/Version.h"

namespace velmora {

namespace {

void Configure(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades a DVB-S receiver over a serial line. FILE, when given, is taken as if it "
        "had been chosen with Select File.\n\n"
        "velmora --station [FILE] [OPTIONS] opens the station window, which upgrades many "
        "receivers at once; see velmora --station --help."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Image (.bin) or channel list (.sdx) to send."),
                                 QStringLiteral("[FILE]"));
}

// The arguments without the program's name.
std::vector<std::string> ArgumentTexts(const QStringList& arguments) {
    std::vector<std::string> texts;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        texts.push_back(arguments[i].toStdString());
    }
    return texts;
}

}  // namespace

CUpgradeApp::CUpgradeApp(int& argc, char** argv) : m_app(argc, argv) {
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
}

CUpgradeApp::~CUpgradeApp() = default;

QString CUpgradeApp::FileArgument(const QStringList& arguments, QString& error) {
    QCommandLineParser parser;
    Configure(parser);
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return {};
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        error = QStringLiteral("Give at most one file to send; %1 were given.").arg(files.size());
        return {};
    }
    return files.isEmpty() ? QString() : files.constFirst();
}

std::unique_ptr<ui::CUpgradeDlg> CUpgradeApp::CreateMainDialog(const QStringList& arguments) {
    QString error;
    const QString file = FileArgument(arguments, error);
    auto dlg = std::make_unique<ui::CUpgradeDlg>();
    dlg->TakeFile(file);
    return dlg;
}

int CUpgradeApp::RunStation(const QStringList& arguments) {
    const StationArguments parsed = ParseStationArguments(ArgumentTexts(arguments));
    const bool boxes = QGuiApplication::platformName() != QStringLiteral("offscreen");
    switch (parsed.action) {
        case StationArguments::Action::Help:
            (void)std::fprintf(stdout, "%s", parsed.text.c_str());
            return 0;
        case StationArguments::Action::Refused:
            // A desktop shortcut has no terminal: the box says it too.
            (void)std::fprintf(stderr, "%s\n", parsed.text.c_str());
            if (boxes) {
                QMessageBox::warning(nullptr, ui::CaptionText(MessageCaption::Application),
                                     QString::fromStdString(parsed.text));
            }
            return 2;
        case StationArguments::Action::Run:
            break;
    }
    const std::unique_ptr<ui::CStationDlg> dlg = CreateStationWindow(parsed);
    dlg->exec();
    return 0;
}

std::unique_ptr<ui::CStationDlg> CUpgradeApp::CreateStationWindow(const StationArguments& parsed,
                                                                  ui::StationServices services) {
    ui::StationChoices choices = parsed.choices;
    for (std::string* path : {&choices.file, &choices.log}) {
        if (!path->empty()) {
            *path = QFileInfo(QString::fromStdString(*path)).absoluteFilePath().toStdString();
        }
    }
    auto dlg = std::make_unique<ui::CStationDlg>(std::move(choices), nullptr, std::move(services));
    if (parsed.start) {
        dlg->StartWhenShown();
    }
    return dlg;
}

int CUpgradeApp::InitInstance() {
    const QStringList arguments = QCoreApplication::arguments();
    if (IsStationCommandLine(ArgumentTexts(arguments))) {
        return RunStation(arguments);
    }
    QCommandLineParser parser;
    Configure(parser);
    // --help and --version print and end here; a bad command line says why.
    parser.process(arguments);
    QString error;
    FileArgument(arguments, error);
    if (!error.isEmpty()) {
        (void)std::fprintf(stderr, "%s\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return 2;
    }
    const std::unique_ptr<ui::CUpgradeDlg> dlg = CreateMainDialog(arguments);
    dlg->exec();
    return 0;
}

}  // namespace velmora
