#include "app/UpgradeApp.h"

#include <QCommandLineParser>

#include <cstdio>

#include "ui/qt/UpgradeDlg.h"
#include "velmora/Version.h"

namespace velmora {

namespace {

void Configure(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades a DVB-S receiver over a serial line. FILE, when given, is taken as if it "
        "had been chosen with Select File."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Image (.bin) or channel list (.sdx) to send."),
                                 QStringLiteral("[FILE]"));
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

int CUpgradeApp::InitInstance() {
    const QStringList arguments = QCoreApplication::arguments();
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
