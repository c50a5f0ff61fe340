#include "app/program.h"

#include "app/command_line.h"
#include "app/demo_settings.h"
#include "app/line_simulator.h"
#include "app/screenshots.h"
#include "app/settings_location.h"
#include "app/terminal_answers.h"
#include "runtime/message_box.h"
#include "serial/platform/port_map.h"
#include "settings/profile.h"
#include "ui/fixed_dialog.h"
#include "ui/main_form.h"
#include "ui/program_icon.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

namespace {

SettingsLocation NameSettingsFile(const CommandLine& commandLine) {
    const SettingsLocation location = ChooseSettingsLocation(
        commandLine, QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    SetSettingsFileName(location.File, location.CreateFolder);
    SetPortMapSettingsFile(SettingsFileName());
    return location;
}

int PrintTerminalAnswer(const CommandLine& commandLine) {
    NameSettingsFile(commandLine);
    const std::string answer = TerminalAnswer(commandLine);
    std::fputs(answer.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

void Program::ShowMainForm() {
    // Form scaling fits the window to the screen as it is polished; centre it at its fitted size.
    forms_.MainForm->ensurePolished();
    CentreOnScreen(forms_.MainForm);
    // The panels show each line on or off from the first paint, not only after the start-up.
    forms_.LoadSettings();
    forms_.MainForm->show();
}

int RunProgram(QApplication& application) {
    // The application's title; not a display name, which the platform would add to every window's.
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setApplicationVersion(QStringLiteral(TOLVANE_VERSION));
    // Desktops match the windows to tolvane.desktop, and take its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvane"));
    const CommandLine commandLine = ParseCommandLine(QApplication::arguments());
    if (!commandLine.Error.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", commandLine.Error.c_str());
        std::fprintf(stderr, "usage: tolvane [--settings FILE] [--simulate] [--screenshots DIR] "
                             "[--list-ports] [--version] [--help]\n");
        return 2;
    }
    if (commandLine.AnsweredOnTerminal())
        return PrintTerminalAnswer(commandLine);
    QApplication::setWindowIcon(ProgramIcon());
    if (NameSettingsFile(commandLine).Demo)
        PrepareDemoSettings(DemoFolder());

    // The simulated lines must be in the port map before the start-up sequence opens the ports,
    // and outlive the windows, whose ports read from them.
    LineSimulator simulator;
    if (commandLine.Simulate && !simulator.Start())
        std::fprintf(stderr, "tolvane: %s\n", simulator.Error().c_str());

    if (!commandLine.ScreenshotFolder.empty()) {
        // Nobody is there to close a message box: its text goes to the error output instead.
        SetMessagePresenter([](const MessageBoxRequest& request) {
            std::fprintf(stderr, "%s: %s\n", request.Caption.c_str(), request.Text.c_str());
        });
    }
    Program program;
    program.ShowMainForm();
    if (!commandLine.ScreenshotFolder.empty()) {
        // After the start-up sequence has run, so that the windows show the loaded settings.
        int result = 0;
        QTimer::singleShot(1000, &application, [&] {
            result = SaveScreenshots(program.Forms(),
                                     QString::fromLocal8Bit(commandLine.ScreenshotFolder.c_str()),
                                     commandLine.Simulate ? &simulator : nullptr)
                         ? 0
                         : 1;
            program.Forms().MainForm->close();
        });
        application.exec();
        return result;
    }
    return application.exec();
}

bool AsksForTerminalAnswer(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = ParseCommandLine(arguments);
    return commandLine.Error.empty() && commandLine.AnsweredOnTerminal();
}

int RunTerminalAnswer() {
    QCoreApplication::setApplicationName(QStringLiteral("Tolvane"));
    return PrintTerminalAnswer(ParseCommandLine(QCoreApplication::arguments()));
}
