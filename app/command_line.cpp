#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

std::string FileSystemName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Use FILE as the settings file."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption screenshots(QStringLiteral("screenshots"),
                                         QStringLiteral("Save a picture of every window in DIR."),
                                         QStringLiteral("DIR"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Connect COM1 to COM8 to simulated production lines."));
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("Print the device of each of COM1 to COM16, whether it is there and who "
                       "holds it, and end."));
    parser.setApplicationDescription(
        QStringLiteral("Captures the text reports of up to eight production lines from serial "
                       "ports into report files."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOption(settings);
    parser.addOption(screenshots);
    parser.addOption(simulate);
    parser.addOption(listPorts);

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.Error = parser.errorText().toStdString();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.Error =
            "Unexpected argument: " + parser.positionalArguments().constFirst().toStdString();
        return result;
    }
    if (parser.isSet(settings) && parser.value(settings).isEmpty()) {
        result.Error = "--settings needs a file name";
        return result;
    }
    if (parser.isSet(settings))
        result.SettingsFile = FileSystemName(parser.value(settings));
    result.Simulate = parser.isSet(simulate);
    result.Help = parser.isSet(help);
    result.Version = parser.isSet(version);
    result.ListPorts = parser.isSet(listPorts);
    // The usage names the program as the running application does.
    if (result.Help && QCoreApplication::instance() != nullptr)
        result.HelpText = parser.helpText().toStdString();
    if (parser.isSet(screenshots))
        result.ScreenshotFolder = FileSystemName(parser.value(screenshots));
    return result;
}

std::string DefaultSettingsFileName() {
    return FileSystemName(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Tolvane.ini")));
}
