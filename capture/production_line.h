#pragma once
// The eight production lines as the program knows them, with no widget in them: what the capture
// pipeline reads, what the settings file holds and what the windows show. The windows write the
// operator's changes into it as they happen.

#include "capture/report_line_sink.h"
#include "capture/report_writer.h"
#include "capture/shared_text.h"
#include "capture/shared_value.h"

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int LineCount = 8;

// The capture state of one production line; eight of them live for the whole run. The text is
// the capture thread's own; the handle and the delimiter are set on the GUI thread.
struct LineCapture {
    std::string PendingText; // bytes since the last report line, CR and LF removed
    std::string ReportLine;  // the report line composed at the latest line feed
    // Bytes of a report line have come and its line feed has not: read where the capture runs.
    std::atomic<bool> MidLine = false;
    // The LF data trigger of the line's port; 0 until set up.
    std::atomic<std::uint16_t> LineTriggerHandle = 0;
    std::atomic<char> Delimiter = 0; // from the line's delimiter code, by RefreshDelimiters
};

// A line's port settings: the item index of each of its lists in the port dialog, -1 for none.
struct PortSettings {
    int ComPort = 0; // 0..15 COM1 to COM16, OffIndex: the line is switched off
    int BaudRate = 0;
    int Parity = 0;
    int DataBits = 0;
    int StopBits = 0;
};

// The COM port item that switches a line off.
constexpr int OffIndex = 16;

// One port setting: where a line keeps it, the settings key's default (line 1 differs) and how
// many items its list offers.
struct PortSettingKind {
    int PortSettings::*Index;
    int DefaultLine1;
    int DefaultOtherLines;
    int Choices;

    int Default(int line) const { return line == 1 ? DefaultLine1 : DefaultOtherLines; }
};

// In the port dialog's column order, which is also the order of the settings file's keys.
inline constexpr std::array<PortSettingKind, 5> PortSettingKinds = {{
    {&PortSettings::ComPort, 0, OffIndex, 17},
    {&PortSettings::BaudRate, 3, 3, 5},
    {&PortSettings::Parity, 0, 0, 3},
    {&PortSettings::DataBits, 1, 1, 2},
    {&PortSettings::StopBits, 0, 0, 2},
}};

// The delimiter list's items: comma, space, tab, semicolon.
constexpr int DelimiterChoices = 4;

// What is known of a line's port since its last set-up.
enum class PortState {
    Closed,  // switched off, or closed for a new set-up
    Open,    // set up, its LF trigger installed
    Refused, // its set-up failed: refused for good (a bad setting, no permission ...)
    Waiting, // its device went away, or was missing or held: tried again every second
};

// Line errors its ports reported while the program ran: noise on the cable, a wrong baud rate.
struct LineNoise {
    unsigned long Framing = 0;
    unsigned long Parity = 0;
    unsigned long Overrun = 0;
    unsigned long Breaks = 0;
    bool Any() const { return Framing + Parity + Overrun + Breaks > 0; }
};

// The GUI thread writes what the operator changes; the port's capture thread reads Started,
// ReportFile, the stamp flags, Capture.Delimiter and CaptionNow() at each completed report line,
// so a change acts from the next one.
struct ProductionLine {
    LineCapture Capture;
    // 8-bit ANSI, as the settings file holds it; the GUI thread's, written by SetCaption.
    std::string Caption;
    // Started follows the start button's down state; ReportFile is the file chosen at the start.
    std::atomic<bool> Started = false;
    SharedText ReportFile;
    // The stamp flags act on the next report line; the delimiter code only once RefreshDelimiters
    // has turned it into Capture.Delimiter.
    std::atomic<bool> DateStamp = true;
    std::atomic<bool> TimeStamp = true;
    int DelimiterCode = 0;
    PortSettings Port;
    PortState PortStatus = PortState::Closed;
    // While Waiting: what is waited for, e.g. "COM 3 (/dev/ttyUSB0) lost at 14:02:11, waiting
    // for it"; empty otherwise.
    std::string PortNews;
    LineNoise Noise;
    // A new report file each day, the day beginning NewFileAt minutes after midnight (the same
    // for every line); both are read where report lines complete.
    SharedValue<bool> NewFileEachDay{false};
    SharedValue<int> NewFileAt{0};
    // A started line that completes no report line for this many minutes is silent; 0: never.
    int SilenceMinutes = 0;
    // The clock's reading (ms since the epoch) at the line's latest report line, or at its start;
    // written where report lines complete.
    SharedValue<std::int64_t> LastReportAt{0};
    // As the line watch last found it.
    bool Silent = false;
    // The line's report lines on their way to the files, those held while a file fails and the
    // count of those lost. Made at the first report line unless the lines made it first.
    std::unique_ptr<ReportWriter> Reports;
    // Told of every report line handed to the writer, when set; set and cleared by its owner, who
    // keeps it alive until the line's port is silent.
    ReportLineSinkSlot Forward;

    ReportWriter& Writer();
    // The caption as SetCaption last set it, for any thread.
    std::string CaptionNow() const { return SharedCaption.Get(); }
    SharedText SharedCaption;
};

// 0 comma, 1 space, 2 tab, 3 semicolon; anything else a comma.
char DelimiterFromCode(int code);

class LineWatch;

// The eight lines, and the watch that notices a line falling silent or a daily file's new day,
// for the windowed and the headless program alike.
class ProductionLines : public QObject {
    Q_OBJECT

public:
    ProductionLines();
    ~ProductionLines() override;

    // Line 1..8.
    ProductionLine& Line(int line) { return lines_[static_cast<std::size_t>(line - 1)]; }
    const ProductionLine& Line(int line) const {
        return lines_[static_cast<std::size_t>(line - 1)];
    }

    // Every window that names the line follows its caption.
    void SetCaption(int line, const std::string& caption);
    // Starts or stops the line's capture, told through StartedChanged.
    void SetStarted(int line, bool started);
    // Each line's writer keeps the lines it holds in a spool in the places FinishReports uses
    // (HeldFileName), so that an end without Finish loses none.
    void KeepHeldLinesIn(const std::string& folder);
    // The line's chosen item of one port setting, or the key's default when none is chosen.
    int PortChoice(int line, const PortSettingKind& kind) const;
    bool SwitchedOff(int line) const { return PortChoice(line, PortSettingKinds[0]) == OffIndex; }

signals:
    void CaptionChanged(int line);
    // Emitted on the GUI thread when a line is started or stopped.
    void StartedChanged(int line);
    // Emitted on the GUI thread, after the event that caused it, when a line's report file starts
    // or stops failing or its first report line is lost.
    void ReportsChanged(int line);
    // Emitted after every set-up of the ports, once each line's port state is known.
    void PortsSetUp();
    // Emitted when one line's port is lost or comes back outside a set-up, or reports noise.
    void PortChanged(int line);
    // Emitted when a line falls silent or reports again, when a line with a new file each day
    // turns to the next day's file, and when those settings change.
    void LineStateChanged(int line);

private:
    std::array<ProductionLine, LineCount> lines_;
    std::unique_ptr<LineWatch> watch_;
};

// What could not be written at the end goes to <folder>/<report file's name>.unsaved, appended,
// grouped by report file; with resumes, a started line's report line that had not ended is kept
// for the resume instead (PartialFileName). Returns one sentence per report file saved so, naming
// both files, or saying that even that failed.
std::vector<std::string> FinishReports(ProductionLines& lines, const std::string& folder,
                                       bool resumes);
// <folder>/<report file's name>.unsaved, where FinishReports puts what is left of that file.
std::string UnsavedFileName(const std::string& folder, const std::string& reportFile);
// <folder>/<report file's name>.partial, where FinishReports keeps a started line's report line
// that had not ended, for the line to finish when it resumes into that file.
std::string PartialFileName(const std::string& folder, const std::string& reportFile);
// Before its port opens, a line resumed into its report file takes back the report line that had
// not ended when it last stopped, so that the rest of it completes it; the kept file is removed.
// Gives the news for the log, empty when nothing was taken back.
std::string TakeBackPartialLine(ProductionLine& line, const std::string& folder);

// <folder>/<report file's name>.line<n>.held: where line n's writer spools the lines it holds
// for that file while it fails.
std::string HeldFileName(const std::string& folder, const std::string& reportFile, int line);
// Spools that a run which never finished left behind (a kill, a crash), and any spool it was
// writing anew: their lines are appended to the .unsaved file of their report file's name in the
// same folder, or the first other place that takes them, and the spool removed. Lines may then be
// there twice, but none is lost. A spool that a running writer holds is left alone. Returns one
// sentence per spool, for the operator, naming the line by its caption.
std::vector<std::string> RecoverHeldLines(const ProductionLines& lines, const std::string& folder);

// The .unsaved files that an earlier end left for a report file of the name the line reports to,
// in the places FinishReports uses, as one sentence for the operator; empty when there is none.
// They are not written back on their own: their name does not tell which folder's file they are
// of, and the operator may have merged them already.
std::string UnsavedLinesNews(const ProductionLine& line, const std::string& folder);

// Sets every line's Capture.Delimiter from its delimiter code, lines 1 to 8.
void RefreshDelimiters(ProductionLines& lines);
