#pragma once
// One production line's report lines on their way to the report files: written in the order they
// completed, each opened, appended and closed. A line that sends now and then has its report
// lines written by the port's comm thread once its pass is over; the rest, and every retry, on a
// thread of the line's own. A report line
// whose append fails is held with every later one and written first as soon as its file can be
// written again, tried at every new report line and every 2 s. A file that stalls holds up only
// its own line; handing a report line over never waits for a disk.

#include <QDateTime>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A report line and the file it belongs in.
struct QueuedReportLine {
    std::string File;
    std::string Text;
};

// What a line's report lines are waiting for, as the windows show it.
struct ReportWriterStatus {
    std::size_t Held = 0;      // report lines held since an append failed; 0 while the file works
    std::size_t Unwritten = 0; // report lines handed over and not yet written, failing or not
    std::uint64_t Lost = 0;    // report lines dropped because too much was held, since the start
    int ErrorCode = 0;         // the failing append's error number, 0 while the file works
    std::string ErrorText;     // "Disk full", "File access denied", "I/O error 32" ...
    std::string File;          // the file that failed
    std::string Trouble;       // what is plain about its path: "the folder /r is not there"
    std::uint64_t Failure = 0; // counts the times a working file started to fail
    QDateTime FailingSince;    // when the latest failure began, by the stamps' clock
    std::uint64_t LostAtFailure = 0; // Lost when the latest failure began
    // While held lines are in memory only: the spool that could not take them and why, e.g.
    // "/etc/tolvane/line1.txt.line1.held (Disk full)"; empty while they are on disk too.
    std::string SpoolError;
    std::uint64_t SpoolFailure = 0; // counts the times held lines came to be in memory only
};

// What of a line's report file has been told: each failure once, and the losses once per
// failure (or once, for a file whose writes never end).
class ReportFileTold {
public:
    // True when the status holds news not told yet; it counts as told from then on.
    bool TakeNews(const ReportWriterStatus& status) {
        const bool newFailure = status.ErrorCode != 0 && status.Failure != failure_;
        const bool newLoss = status.Lost > 0 && lossAtFailure_ != status.Failure + 1;
        // Held lines that a kill would now lose are news even while the file's failure is not.
        const bool newSpoolFailure = status.ErrorCode != 0 && !status.SpoolError.empty() &&
                                     status.SpoolFailure != spoolFailure_;
        if (newSpoolFailure)
            spoolFailure_ = status.SpoolFailure;
        if (!newFailure && !newLoss && !newSpoolFailure)
            return false;
        if (status.ErrorCode != 0)
            failure_ = status.Failure;
        if (status.Lost > 0)
            lossAtFailure_ = status.Failure + 1;
        return true;
    }

private:
    std::uint64_t failure_ = 0;
    std::uint64_t lossAtFailure_ = 0;
    std::uint64_t spoolFailure_ = 0;
};

// Whether a line's report file was failing when last looked at, so that its mending is told once.
class ReportFileMending {
public:
    // Tells the system log when a file that was failing works again.
    void Follow(const std::string& caption, const ReportWriterStatus& status);

private:
    bool failing_ = false;
    std::string file_; // the file that failed
};

// The report file box's text for a line with this caption and report file.
std::string ReportFileErrorText(const std::string& caption, const std::string& reportFile,
                                const ReportWriterStatus& status);

// The append step: AppendReportLine unless a test restricts the writes.
using ReportAppender = std::function<void(const std::string& file, const std::string& text)>;
ReportAppender SetReportAppender(ReportAppender appender);

class ReportWriter {
public:
    // Up to this many bytes of report text wait per line; past it report lines are counted lost.
    static constexpr std::size_t HoldLimit = 64u << 20;
    static constexpr std::chrono::milliseconds RetryInterval{2000};

    // changed runs on the writer's thread whenever the status changes; it must not block.
    explicit ReportWriter(std::function<void()> changed = {});
    // Finish, with what is left discarded: callers that keep it call Finish first.
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // Where report lines held for a file are also kept on disk, so that an end that never comes
    // to Finish (a kill, a crash) does not take them along: the spool files to try
    // for a report file, in order. A spool holds a file's held lines, each with its CR LF, after a
    // header line, and is removed once they are in the file. None by default.
    using SpoolNames = std::function<std::vector<std::string>(const std::string& reportFile)>;
    // A spool's first line: this, then the report file's name in full.
    static constexpr const char* SpoolHeaderStart = "# held report lines for ";
    // Beside a spool while its file takes its lines back: "<spool's inode> <bytes>", each of 20
    // digits, then LF; the first bytes of the spool after its header that are in the file by
    // now. It counts only for the spool of that inode: one written anew is another.
    static constexpr const char* SpoolTakenSuffix = ".taken";
    // How many bytes from the start of the lines of the spool of that inode its report file took,
    // as the note beside it says; 0 when there is none, it is another spool's, or it does not fit
    // the lines.
    static std::size_t TakenFromSpool(const std::string& spool, std::uint64_t inode,
                                      const std::string& lines);
    void KeepHeldIn(SpoolNames names);
    // After Finish: removes the spools, whose lines the caller has saved elsewhere, or with
    // keep, leaves them for the next start.
    void EndSpools(bool keep);

    // Hands a report line over. False when it was counted as lost instead.
    bool Submit(std::string file, std::string text);
    ReportWriterStatus Status() const;
    // Waits until every report line handed over has been tried at least once; true when none is
    // left waiting.
    bool WaitUntilTried(std::chrono::milliseconds patience);
    // Ends the thread after one more try of what waits, and returns what still could not be
    // written, in order. A write stalled for longer than `patience` is left to finish on its own;
    // its report line is returned too, so that it is not lost if the write never ends.
    std::vector<QueuedReportLine> Finish(std::chrono::milliseconds patience);

    // The state the writer's thread shares; it outlives the writer when a stalled write does.
    struct Shared;

private:
    static void Run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool finished_ = false;
};
