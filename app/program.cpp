#include "app/program.h"

#include "app/command_line.h"
#include "app/demo_settings.h"
#include "app/display_loss.h"
#include "app/line_simulator.h"
#include "app/program_settings.h"
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

int PrintTerminalAnswer(const CommandLine& commandLine) {
    NameSettingsFile(commandLine,
                     QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    const std::string answer = TerminalAnswer(commandLine);
    std::fputs(answer.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

void Program::ShowMainForm() {
    // Form scaling fits the window to the screen as it is polished; centre it at its fitted size.
    forms_.MainForm->ensurePolished();
    FitOnScreen(forms_.MainForm);
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
        std::fprintf(stderr, "tolvane: %s\n%s", commandLine.Error.c_str(), UsageText().c_str());
        return 2;
    }
    if (commandLine.AnsweredOnTerminal())
        return PrintTerminalAnswer(commandLine);
    QApplication::setWindowIcon(ProgramIcon());
    if (NameSettingsFile(commandLine,
                         QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString())
            .Demo)
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
    // Qt ends the process itself when the display goes: the lines end as at Exit first.
    const DisplayLossGuard displayLoss([&program] { program.Forms().StopCapture(); });
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

int RunTerminalAnswer() {
    QCoreApplication::setApplicationName(QStringLiteral("Tolvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVANE_VERSION));
    const CommandLine commandLine = ParseCommandLine(QCoreApplication::arguments());
    if (commandLine.HelpAll)
        PrintHelpAll(QCoreApplication::arguments());
    return PrintTerminalAnswer(commandLine);
}
