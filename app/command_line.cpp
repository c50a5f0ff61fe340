#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>

namespace {

std::string FileSystemName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

namespace {

// The program's options, added to a parser.
struct Options {
    explicit Options(QCommandLineParser& parser)
        : help(parser.addHelpOption()), version(parser.addVersionOption()) {
        parser.setApplicationDescription(
            QStringLiteral("Captures the text reports of up to eight production lines from serial "
                           "ports into report files."));
        parser.addOption(settings);
        parser.addOption(screenshots);
        parser.addOption(simulate);
        parser.addOption(headless);
        parser.addOption(listPorts);
    }

    const QCommandLineOption settings{QStringLiteral("settings"),
                                      QStringLiteral("Use FILE as the settings file."),
                                      QStringLiteral("FILE")};
    const QCommandLineOption screenshots{QStringLiteral("screenshots"),
                                         QStringLiteral("Save a picture of every window in DIR."),
                                         QStringLiteral("DIR")};
    const QCommandLineOption simulate{
        QStringLiteral("simulate"),
        QStringLiteral("Connect COM1 to COM8 to simulated production lines.")};
    const QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Capture every line that is on and has a report file, without any window "
                       "or display, until SIGTERM or SIGINT; SIGHUP reads the settings again.")};
    const QCommandLineOption listPorts{
        QStringLiteral("list-ports"),
        QStringLiteral("Print the device of each of COM1 to COM16, whether it is there and who "
                       "holds it, and end.")};
    const QCommandLineOption help;
    const QCommandLineOption version;
};

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const Options options(parser);

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
    if (parser.isSet(options.settings) && parser.value(options.settings).isEmpty()) {
        result.Error = "--settings needs a file name";
        return result;
    }
    if (parser.isSet(options.headless) &&
        (parser.isSet(options.screenshots) || parser.isSet(options.simulate))) {
        result.Error = "--headless shows no window and simulates no line";
        return result;
    }
    if (parser.isSet(options.settings))
        result.SettingsFile = FileSystemName(parser.value(options.settings));
    result.Simulate = parser.isSet(options.simulate);
    result.Headless = parser.isSet(options.headless);
    result.Help = parser.isSet(options.help);
    result.HelpAll = parser.isSet(QStringLiteral("help-all"));
    result.Version = parser.isSet(options.version);
    result.ListPorts = parser.isSet(options.listPorts);
    // The usage names the program as the running application does.
    if (result.Help && QCoreApplication::instance() != nullptr)
        result.HelpText = parser.helpText().toStdString();
    if (parser.isSet(options.screenshots))
        result.ScreenshotFolder = FileSystemName(parser.value(options.screenshots));
    return result;
}

CommandLine ParseCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return ParseCommandLine(arguments);
}

void PrintHelpAll(const QStringList& arguments) {
    QCommandLineParser parser;
    const Options options(parser);
    // Prints the usage with the application's own options and exits.
    parser.process(arguments);
    std::exit(0);
}

std::string UsageText() {
    return "usage: tolvane [--settings FILE] [--simulate] [--screenshots DIR] [--headless] "
           "[--list-ports] [--version] [--help]\n";
}

std::string DefaultSettingsFileName() {
    return FileSystemName(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Tolvane.ini")));
}
