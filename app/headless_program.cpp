#include "app/headless_program.h"

#include "app/command_line.h"
#include "app/headless_executable.h"
#include "app/program_settings.h"
#include "broker/plant_broker.h"
#include "capture/daily_report_file.h"
#include "capture/production_line.h"
#include "capture/stamps.h"
#include "lines/line_ports.h"
#include "runtime/message_box.h"
#include "runtime/service_state_folder.h"
#include "runtime/signal_delivery.h"
#include "runtime/system_log.h"
#include "settings/profile.h"
#include "settings/profile_document.h"
#include "settings/settings_groups.h"

#include <QCoreApplication>
#include <QFile>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

// The sections of the settings file as it was read.
std::vector<std::string> SettingsSections(const ProfileDocument& settings) {
    std::vector<std::string> names;
    for (const ProfileDocument::SectionOutline& section : settings.Outline())
        names.push_back(section.Name);
    return names;
}

// Why the settings file as it was read cannot be taken, or empty. One that is gone, unreadable
// or no settings file at all reads as the defaults, which switch the lines off. So does a file cut
// short, half written by an editor or a copy: one that lacks sections it had when last taken is
// refused too.
std::string SettingsFileProblem(const ProfileDocument& settings,
                                const std::vector<std::string>& hadSections = {}) {
    if (settings.ReadError() != 0)
        return settings.ReadErrorText();
    if (!settings.HasSection("ComPortSettings"))
        return "it has no [ComPortSettings] section";
    std::string gone;
    for (const std::string& section : hadSections)
        if (!settings.HasSection(section))
            gone += (gone.empty() ? "[" : ", [") + section + "]";
    if (!gone.empty())
        return "it lacks " + gone +
               ", which it had when last read: a file cut short? To take it as it is, start the "
               "program again";
    // Cut inside its last section: a last line with no line end that is neither a key nor a
    // section was cut off in the middle of one.
    const std::string& text = settings.Text();
    const std::size_t lastLine = text.find_last_of("\r\n") + 1; // 0 when there is one line
    const std::string last = text.substr(lastLine);
    if (!last.empty() && last.find('=') == std::string::npos && !last.starts_with('[') &&
        last.find_first_not_of(" \t") != std::string::npos)
        return "its last line, \"" + last + "\", ends in the middle: a file cut short?";
    return {};
}

// The report file box of the window, told once per failure and once per failure's losses.
class ReportFileNews {
public:
    explicit ReportFileNews(ProductionLines& lines) : lines_(lines) {}

    void Tell(int line) {
        const auto i = static_cast<std::size_t>(line - 1);
        const ProductionLine& production = lines_.Line(line);
        const ReportWriterStatus status = lines_.Line(line).Writer().Status();
        mending_[i].Follow(production.Caption, status);
        if (!told_[i].TakeNews(status))
            return;
        ShowMessageBox(
            {"Tolvane",
             ReportFileErrorText(production.Caption,
                                 ReportFileAt(production, production.ReportFile, CurrentDateTime()),
                                 status),
             MessageIcon::Error});
    }

private:
    ProductionLines& lines_;
    std::array<ReportFileTold, LineCount> told_{};
    std::array<ReportFileMending, LineCount> mending_{};
};

// Where held lines go at the end: the service's state folder (STATE_DIRECTORY, which systemd
// gives it writable while the settings folder under /etc is not), else beside the settings.
std::string UnsavedFolder() {
    if (const std::string service = ServiceStateFolder(); !service.empty())
        return service;
    const std::string beside = std::filesystem::path(SettingsFileName()).parent_path().string();
    return beside.empty() ? "." : beside;
}

class HeadlessLines {
public:
    HeadlessLines() : news_(lines_) {
        ports_.WithoutWindow = true;
        QObject::connect(&lines_, &ProductionLines::ReportsChanged, &lines_,
                         [this](int line) { news_.Tell(line); });
    }

    // The settings as the window loads them at start-up; every line that is on and has a report
    // file is started before its port opens, so that it keeps its first report line.
    void Start() {
        (void)TakeUnreadableValuesText(); // of no file read here
        sections_ = SettingsSections(ProfileDocument::Load(SettingsFileName()));
        LoadSettings(UnreadableValues::Default);
        // Before any line holds lines of its own: only a run that never finished left spools.
        for (const std::string& news : RecoverHeldLines(lines_, UnsavedFolder()))
            SystemLog(LogLevel::Warning, news);
        lines_.KeepHeldLinesIn(UnsavedFolder());
        bool any = false;
        for (int line = 1; line <= LineCount; ++line) {
            StartIfItHasAFile(line);
            if (lines_.Line(line).Started) {
                // Before its port opens: the rest of the line that the last stop cut completes it.
                if (const std::string news =
                        TakeBackPartialLine(lines_.Line(line), UnsavedFolder());
                    !news.empty())
                    SystemLog(LogLevel::Notice, news);
                if (const std::string news = UnsavedLinesNews(lines_.Line(line), UnsavedFolder());
                    !news.empty())
                    SystemLog(LogLevel::Warning, news);
            }
            any = any || lines_.Line(line).Started;
        }
        if (!any) {
            const std::string problem =
                SettingsFileProblem(ProfileDocument::Load(SettingsFileName()));
            SystemLog(LogLevel::Warning,
                      "no line captures: " +
                          (problem.empty() ? "none in the settings file " + SettingsFileName() +
                                                 " is on with a report file"
                                           : "the settings file " + SettingsFileName() +
                                                 " cannot be read (" + problem + ")"));
        }
        // Before any port opens, so that a resumed line's first report line is forwarded too.
        broker_.ApplySettings();
        TellUnreadableValues();
        ports_.ApplyComPortSettings();
    }

    // As COM Ports OK does: only the ports whose settings or devices changed are closed.
    void ReadSettingsAgain() {
        const ProfileDocument settings = ProfileDocument::Load(SettingsFileName());
        if (const std::string problem = SettingsFileProblem(settings, sections_);
            !problem.empty()) {
            ShowMessageBox({"Tolvane",
                            "The settings file " + SettingsFileName() + " cannot be read again (" +
                                problem + "): every line goes on as it was.",
                            MessageIcon::Error});
            return;
        }
        SystemLog(LogLevel::Notice, "reading the settings file " + SettingsFileName() + " again");
        sections_ = SettingsSections(settings);
        (void)TakeUnreadableValuesText();
        LoadSettings(UnreadableValues::Kept);
        for (int line = 1; line <= LineCount; ++line) {
            if (lines_.SwitchedOff(line))
                continue;
            TakeANewReportFile(line);
            StartIfItHasAFile(line);
        }
        broker_.ApplySettings();
        TellUnreadableValues();
        ports_.SetUpPortsAgain();
        // Stopped only once their ports are closed: a report line that came until then is written.
        for (int line = 1; line <= LineCount; ++line) {
            if (!lines_.SwitchedOff(line) || !lines_.Line(line).Started)
                continue;
            lines_.SetStarted(line, false);
            SystemLog(LogLevel::Notice,
                      lines_.Line(line).Caption + ": stopped, switched off in the settings");
        }
    }

    // As Exit does: the ports fall silent, then every writer finishes; what cannot be written
    // goes to the .unsaved files beside the settings.
    void Stop() {
        ports_.StopDeliveries();
        for (const std::string& said : FinishReports(lines_, UnsavedFolder(), true))
            ShowMessageBox({"Tolvane", said, MessageIcon::Warning});
    }

private:
    void LoadSettings(UnreadableValues unreadable) {
        LoadLineLabels(lines_);
        LoadStampingSettings(lines_, unreadable);
        LoadComPortSettings(lines_, unreadable);
    }

    static void TellUnreadableValues() {
        if (const std::string text = TakeUnreadableValuesText(); !text.empty())
            SystemLog(LogLevel::Warning, text);
    }

    void StartIfItHasAFile(int line) {
        ProductionLine& production = lines_.Line(line);
        if (production.Started || lines_.SwitchedOff(line))
            return;
        const std::string file = LoadResumeReportFile(line);
        if (file.empty())
            return;
        production.ReportFile = file;
        lines_.SetStarted(line, true);
        SystemLog(LogLevel::Notice, production.Caption + ": started, reporting to " + file);
    }

    // A started line whose file the settings now name differently goes on into that file from
    // its next report line; one that lost its file keeps the one it has, as nothing says where
    // its lines should go instead.
    void TakeANewReportFile(int line) {
        ProductionLine& production = lines_.Line(line);
        if (!production.Started)
            return;
        const std::string file = LoadResumeReportFile(line);
        const std::string current = production.ReportFile.Get();
        if (file == current)
            return;
        if (file.empty()) {
            SystemLog(LogLevel::Warning,
                      production.Caption + ": the settings name no report file (ReportFile" +
                          std::to_string(line) + "); it goes on reporting to " + current);
            return;
        }
        production.ReportFile = file;
        SystemLog(LogLevel::Notice,
                  production.Caption + ": reporting to " + file + " instead of " + current);
    }

    std::vector<std::string> sections_; // of the settings file when last taken
    ProductionLines lines_;
    // Destroyed after the ports, once they are silent.
    PlantBroker broker_{lines_};
    LinePorts ports_{lines_};
    ReportFileNews news_;
};

} // namespace

int RunHeadless(QCoreApplication& application) {
    QCoreApplication::setApplicationName(QStringLiteral("Tolvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVANE_VERSION));
    NameSettingsFile(
        ParseCommandLine(QCoreApplication::arguments()),
        ProgramFolder(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString()));
    // With no window, a box's text goes to standard error and, for errors, the system log; what
    // the panels would show goes to both too.
    EchoSystemLogOnStandardError(true);
    HeadlessLines lines;
    const SignalDelivery delivery({SIGTERM, SIGINT, SIGHUP}, [&lines](int number) {
        if (number != SIGHUP) {
            QCoreApplication::quit();
            return;
        }
        try {
            lines.ReadSettingsAgain();
        } catch (const std::exception& error) {
            ShowException(error);
        }
    });
    if (!delivery.Ok()) {
        ShowMessageBox({"Tolvane", std::string("cannot catch signals: ") + std::strerror(errno),
                        MessageIcon::Error});
        return 1;
    }
    try {
        lines.Start();
    } catch (const std::exception& error) {
        ShowException(error);
    }
    SystemLog(LogLevel::Notice, "running without a window, settings " + SettingsFileName());

    application.exec();
    lines.Stop();
    SystemLog(LogLevel::Notice, "ended");
    return 0;
}
