#pragma once

#include "capture/line_state.h"
#include "capture/production_line.h"

#include <QColor>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <string>

class FormSet;
class GTForm;
class QAction;
class QDialog;
class QFrame;
class QGroupBox;
class QMenu;
class QTimer;
class QToolButton;
class TLineTroubleLabel;
class TReportView;
class TSaveDialog;

// The main window: the eight line panels, each with its start button, its small view and its
// save dialog, the menu, and the timer that runs the start-up sequence. A start button's down
// state is its line's started state: every change of it reaches the line at once.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(FormSet& forms);

    // Line N's objects at index N - 1.
    std::array<QGroupBox*, LineCount> LineGroups{};
    std::array<QToolButton*, LineCount> StartLineBtns{};
    std::array<TReportView*, LineCount> LineWindows{};
    // Beneath each view: what is wrong with the line, while something is.
    std::array<TLineTroubleLabel*, LineCount> LineTroubles{};
    std::array<TSaveDialog*, LineCount> SaveDialogs{};
    QFrame* Bevel1 = nullptr;
    QTimer* StartupTimer = nullptr;
    QTimer* ReportNewsTimer = nullptr; // refreshes failing lines' hints once a second
    GTForm* GTForm1 = nullptr;
    QMenu* MainMenu = nullptr;
    QAction* MenuStamping = nullptr;
    QAction* MenuReportFiles = nullptr;
    QAction* MenuCom = nullptr;
    QAction* MenuPortDevices = nullptr;
    QAction* MenuPlantBroker = nullptr;
    QAction* MenuResume = nullptr; // "Resume Lines at Start-up", checkable
    QAction* MenuExit = nullptr;
    QAction* MenuAbout = nullptr;

    // Handlers, one per kind, taking the line number 1..8.
    void StartupTimerTimer();
    void StartLineBtnClick(int line);
    void LineGroupDblClick(int line);
    void LineWindowDblClick(int line);
    void LineWindowKeyDown(int line, int key);
    void MenuStampingClick();
    void MenuReportFilesClick();
    void MenuComClick();
    void MenuPortDevicesClick();
    void MenuPlantBrokerClick();
    void MenuResumeClick();
    // At start-up, before the ports are set up: the menu item's state and each line's file to
    // resume, so that a line found off forgets its file as its panel takes the off look.
    void LoadResumeSettings();
    // At start-up, before the ports are set up: with resuming on, every line that is on and was
    // capturing when the program last ran starts again into the same file, with no dialog.
    void ResumeLines();
    void MenuExitClick();
    void MenuAboutClick();

    // Gives each line's panel its on or off look from its COM port setting; runs after every
    // set-up of the ports.
    void RefreshLinePanels();
    // One line's panel: its controls on or off, then its look.
    void RefreshLinePanel(int line);
    // One line's caption colour (by LineCaptionColour, from the line's state) and the group's hint:
    // the wait for its port, its silence, a daily line's file of the day, its line errors.
    void RefreshLineLook(int line);
    // The dialog that the "COM Ports" entry shows.
    void SetPortDialog(QDialog* dialog) { portDialog_ = dialog; }
    // The box that says that line N's report file cannot be written, or that report lines were
    // lost: shown once per failure, at most one per line at a time, never inside a port's event.
    void ReportFileNews(int line);
    // The line label dialog for line N.
    void EditLineLabel(int line);

    QString Caption(int line) const;
    // The start button's hint and whether it is shown when the mouse rests on the button.
    void SetStartHint(int line, const QString& hint);
    QString StartHint(int line) const;
    void SetStartHintShown(int line, bool shown);
    bool StartHintShown(int line) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenu();
    void CreateLinePanel(int line);
    int LineOf(const QObject* object) const;
    void ShowCaption(int line);
    // The line's views emptied, its hint to stop, its report file set and its button down.
    void StartCapture(int line, const std::string& reportFile);
    // Logs where the .unsaved files of the line's report file's name are; the news, or empty.
    std::string TellUnsavedLines(int line);
    // The line no longer resumes at the next start-up.
    void ForgetResumeFile(int line);
    // The started line other than `except` whose report file is this file by any spelling, or 0.
    int LineReportingTo(const std::string& file, int except) const;
    // A stopped line whose report lines are still held says so, and where they will go.
    void TellHeldAtStop(int line);
    // The panel follows the report file's state; its mending goes to the system log once.
    void FollowReportFile(int line, const ReportWriterStatus& status);

    FormSet& forms_;
    ProductionLines& lines_;
    QDialog* portDialog_ = nullptr;
    std::array<bool, LineCount> startHintShown_{};
    std::array<std::string, LineCount> resumeFiles_{}; // as the settings file holds them
    // Per line: a report file box is open; the failure and the loss that were last told.
    std::array<bool, LineCount> reportBoxOpen_{};
    std::array<ReportFileTold, LineCount> reportFileTold_{};
    std::array<bool, LineCount> reportNews_{};                 // the hint tells of the report file
    std::array<ReportFileMending, LineCount> reportMending_{}; // as last shown on the panel
};

// "the report file /r/l1.txt cannot be written since 14:02:11 (File access denied): 185 report
// lines held", and the lines lost past the hold limit while lines wait; empty while all is well.
std::string ReportFileHint(const ReportWriterStatus& status);

// A line's caption colour in each state: grey when off; dark red (139, 0, 0) when the port waits
// for its device or the report file fails; dark orange (200, 100, 0) when silent; black otherwise.
QColor LineCaptionColour(LineState state);

// "Click to start grabbing reports from <caption>" or, for a started line, "... stop ...".
QString StartButtonHint(bool started, const QString& caption);
// "Line errors: 3 framing errors, 0 parity errors, 1 overrun, 0 breaks", for the line's hint.
QString LineNoiseText(const LineNoise& noise);
