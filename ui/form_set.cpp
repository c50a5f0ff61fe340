#include "ui/form_set.h"

#include "runtime/message_box.h"
#include "runtime/system_log.h"
#include "serial/apd_com_port.h"
#include "serial/com_select_form.h"
#include "settings/profile.h"
#include "settings/profile_document.h"
#include "settings/settings_groups.h"
#include "ui/about_form.h"
#include "ui/easter_egg_form.h"
#include "ui/form_line_views.h"
#include "ui/line_form.h"
#include "ui/main_form.h"
#include "ui/message_box_window.h"
#include "ui/plant_broker_form.h"
#include "ui/port_devices_form.h"
#include "ui/report_files_form.h"
#include "ui/report_view.h"
#include "ui/serial_form.h"
#include "ui/set_line_label_form.h"
#include "ui/stamping_form.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

template <class Form> Form* FormSet::Add(std::unique_ptr<Form> form) {
    Form* created = form.get();
    windows_.push_back(std::move(form));
    return created;
}

FormSet::FormSet() : Broker(std::make_unique<PlantBroker>(Lines)) {
    UseMessageBoxWindows();
    SetComNumberPrompt(AskWithComSelectForm);
    MainForm = Add(std::make_unique<TMainForm>(*this));
    // The About box is given its picture window when it is made, so the picture window comes
    // first of the two.
    EasterEggForm = Add(std::make_unique<TEasterEggForm>());
    AboutForm = Add(std::make_unique<TAboutForm>(EasterEggForm));
    SerialForm = Add(std::make_unique<TSerialForm>(*this));
    MainForm->SetPortDialog(SerialForm);
    SetLineLabelForm = Add(std::make_unique<TSetLineLabelForm>(Lines));
    StampingForm = Add(std::make_unique<TStampingForm>(Lines));
    PortDevicesForm = Add(std::make_unique<TPortDevicesForm>(*this));
    ReportFilesForm = Add(std::make_unique<TReportFilesForm>(Lines));
    PlantBrokerForm = Add(std::make_unique<TPlantBrokerForm>(*this));
    for (int line = 1; line <= LineCount; ++line)
        LineForms[line - 1] = Add(std::make_unique<TLineForm>(
            Lines, line, MainForm->LineWindows[line - 1]->SharedStore()));
    for (int line = 1; line <= LineCount; ++line) {
        views_[line - 1] =
            std::make_unique<FormLineViews>(MainForm->LineWindows[line - 1]->SharedStore());
        Ports.SetViews(line, views_[line - 1].get());
    }
}

FormSet::~FormSet() {
    // No port event may reach a window that is gone, so every port falls silent and closes while
    // all windows still stand; then no report line comes any more and the writers can finish.
    StopCapture();
    // Last created first.
    while (!windows_.empty())
        windows_.pop_back();
}

void FormSet::LoadSettings() {
    if (settingsLoaded_)
        return;
    settingsLoaded_ = true;
    // A file that is there but cannot be read gives the defaults, with most lines off: the
    // operator must be told, or the settings seem lost. Its writes are refused, so it stays.
    if (const ProfileDocument settings = ProfileDocument::Load(SettingsFileName());
        settings.ReadError() != 0 && settings.ReadError() != ENOENT)
        ShowMessageBox({"Tolvane",
                        "The settings file " + SettingsFileName() + " cannot be read (" +
                            settings.ReadErrorText() +
                            "): every setting is at its default, and the file is left as it is.",
                        MessageIcon::Error});
    (void)TakeUnreadableValuesText(); // of no file read here
    // Every window that names a line takes its caption as it is loaded.
    LoadLineLabels(Lines);
    LoadStampingSettings(Lines);
    StampingForm->ShowStampingSettings();
    LoadComPortSettings(Lines);
    SerialForm->ShowPortSettings();
    LoadReportFileSettings(Lines);
    MainForm->LoadResumeSettings();
    // Before any port opens, so that the first report line of a resumed line is forwarded too.
    Broker->ApplySettings();
    const std::size_t viewLimit = static_cast<std::size_t>(LoadViewLimitMB()) << 20;
    for (TReportView* view : MainForm->LineWindows)
        view->Store().SetLimit(viewLimit);
    // A slip of the hand in the file must not pass for a setting: a port at its default may be
    // switched off.
    if (const std::string text = TakeUnreadableValuesText(); !text.empty())
        ShowMessageBox({"Tolvane", text, MessageIcon::Warning});
    // Each panel shows its line on or off before any port is tried; a line found off forgets
    // its file to resume.
    MainForm->RefreshLinePanels();
}

void FormSet::StartUp() {
    SerialForm->move(SerialForm->x(), SerialForm->y() - 16);
    LoadSettings();
    // Before any line holds lines of its own: only a run that never finished left spools. The
    // log keeps it; the operator's box comes when the line starts into a file of that name.
    for (const std::string& news : RecoverHeldLines(Lines, UnsavedFolder()))
        SystemLog(LogLevel::Warning, news);
    Lines.KeepHeldLinesIn(UnsavedFolder());
    // A resumed line is started before its port opens, so that it keeps its report lines from
    // the port's first byte. No box of the set-up waits for a person: every line that can start
    // has started, and the waiting ones are retried, whether or not a box is still open.
    MainForm->ResumeLines();
    // The main window's panels follow the set-up.
    SerialForm->ApplyComPortSettings();
}

void FormSet::StopCapture() {
    if (captureStopped_)
        return;
    captureStopped_ = true;
    Ports.StopDeliveries();
    // No window is left to show it in: the error output and the system log keep it.
    for (const std::string& said : FinishReports(Lines, UnsavedFolder(), LoadResumeAtStartup())) {
        std::fprintf(stderr, "tolvane: %s\n", said.c_str());
        SystemLog(LogLevel::Warning, said);
    }
}

std::string FormSet::UnsavedFolder() {
    const std::filesystem::path folder = std::filesystem::path(SettingsFileName()).parent_path();
    return folder.empty() ? "." : folder.string();
}

std::vector<QWidget*> FormSet::Windows() const {
    std::vector<QWidget*> windows;
    for (const auto& window : windows_)
        windows.push_back(window.get());
    return windows;
}
