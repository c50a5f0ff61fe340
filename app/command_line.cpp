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
    parser.addOption(settings);
    parser.addOption(screenshots);
    parser.addOption(simulate);

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
    if (parser.isSet(screenshots))
        result.ScreenshotFolder = FileSystemName(parser.value(screenshots));
    return result;
}

std::string DefaultSettingsFileName() {
    return FileSystemName(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Tolvane.ini")));
}
