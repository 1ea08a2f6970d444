#include "app/uCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

namespace {

bool AsksForInformation(int AArgc, char* AArgv[]) {
    for (int i = 1; i < AArgc; ++i) {
        for (const char* Option : {"--help", "-h", "-?", "--help-all", "--version", "-v"}) {
            if (std::strcmp(AArgv[i], Option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

std::optional<int> AnswerCommandLine(int AArgc, char* AArgv[]) {
    if (!AsksForInformation(AArgc, AArgv))
        return std::nullopt;
    // A core application only: no display is opened to print a line.
    QCoreApplication app(AArgc, AArgv);
    QCoreApplication::setApplicationName(QStringLiteral("pictoport"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PICTOPORT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Pictoport %1: receives the photos and texts a clinic's phones send to its Scanlume "
            "service, shows and saves them, and sends photographed lab reports back for text "
            "recognition.\n"
            "Settings are made in the window; see the README for where they are kept.")
            .arg(QStringLiteral(PICTOPORT_VERSION)));
    parser.addHelpOption();
    parser.addVersionOption();
    // Qt's own options (-platform, -style, ...) are accepted here and left to the window.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // exits with 0
    parser.showHelp(0);
}
