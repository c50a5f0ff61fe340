#include "capture/report_writer.h"

#include "capture/in_out_error.h"
#include "capture/report_file.h"
#include "capture/stamps.h"
#include "runtime/after_pass.h"
#include "runtime/exceptions.h"
#include "runtime/file_error.h"
#include "runtime/message_box.h"
#include "runtime/posix_io.h"
#include "runtime/system_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

std::mutex appenderMutex;
ReportAppender& Appender() {
    static ReportAppender appender;
    return appender;
}

void Append(const std::string& file, const std::string& text) {
    ReportAppender appender;
    {
        std::lock_guard lock(appenderMutex);
        appender = Appender();
    }
    if (appender)
        appender(file, text);
    else
        AppendReportLine(file, text);
}

using Clock = std::chrono::steady_clock;

} // namespace

ReportAppender SetReportAppender(ReportAppender appender) {
    std::lock_guard lock(appenderMutex);
    ReportAppender previous = std::move(Appender());
    Appender() = std::move(appender);
    return previous;
}

struct ReportWriter::Shared {
    // The report lines of one file, oldest first. Lines of different files need no order
    // between them, so a file that fails holds up only its own lines.
    struct FileQueue {
        std::string File;
        std::deque<std::string> Lines;
        bool Failing = false;
        // The first Spooled lines are in the spool file, open and locked while it exists, after
        // SpoolTaken bytes of lines that the file has taken since.
        std::size_t Spooled = 0;
        std::uint64_t SpoolTaken = 0;
        bool SpoolStale = false; // the spool holds lines that are in the file by now
        int SpoolFd = -1;
        std::string Spool;
        // A spool that failed is not tried again before this: each try copies every line held.
        std::chrono::steady_clock::time_point SpoolAgainAt{};
    };

    mutable std::mutex mutex;
    std::condition_variable wake;  // the writer waits for work, a retry or the end
    std::condition_variable tried; // WaitUntilTried and Finish wait for the writer
    std::deque<FileQueue> files;
    std::size_t bytes = 0;       // report text waiting, all files
    std::uint64_t submitted = 0; // report lines handed over
    std::uint64_t triedUpTo = 0; // of those, how many the writer has tried
    bool retryNow = false;       // try again without waiting for the retry interval
    bool stop = false;
    bool running = true;
    bool idle = false;  // the writer waits: a new line must wake it, else it finds the line itself
    bool hurry = false; // someone waits for the lines: no lingering
    // A port's comm thread appends the waiting lines after its pass, or is about to: the writer
    // leaves them to it and waits.
    bool writing = false;
    Clock::time_point lastWrite{};
    Clock::time_point retryAt = Clock::time_point::max();
    ReportWriterStatus status;
    std::function<void()> changed;
    ReportWriter::SpoolNames spoolNames;

    std::size_t Waiting() const {
        std::size_t count = 0;
        for (const FileQueue& queue : files)
            count += queue.Lines.size();
        return count;
    }
    bool AnyFailing() const {
        for (const FileQueue& queue : files)
            if (queue.Failing)
                return true;
        return false;
    }
};

namespace {

using FileQueue = ReportWriter::Shared::FileQueue;

// Report lines that wait together for one file go in one open-append-close, up to this much text:
// a flood then costs a few system calls per batch instead of per line.
constexpr std::size_t BatchBytes = 256u << 10;
// How long after a write the next one waits, while lines keep coming.
constexpr std::chrono::milliseconds Linger{8};

// The first count waiting lines of a queue (at least one), joined as the file holds them; the
// last line's end is added by the append.
std::string Batch(const std::deque<std::string>& lines, std::size_t& count, bool single) {
    count = 1;
    std::string text = lines.front();
    while (!single && count < lines.size() && text.size() + lines[count].size() < BatchBytes) {
        text += "\r\n";
        text += lines[count++];
    }
    return text;
}

// A spool starts with the report file it holds lines for: its name alone could be another
// folder's file's.
std::string SpoolHeader(const std::string& file) {
    std::string header = std::string(ReportWriter::SpoolHeaderStart) + file;
    std::replace_if(
        header.begin(), header.end(), [](char c) { return c == '\r' || c == '\n'; }, '?');
    return header + "\r\n";
}

// The held lines from the first on, each with its CR LF; from the first held line on, a whole
// spool's text, its header first.
std::string SpoolText(const FileQueue& queue, std::size_t first) {
    std::string text = first == 0 ? SpoolHeader(queue.File) : std::string();
    for (std::size_t n = first; n < queue.Lines.size(); ++n)
        text += queue.Lines[n] + "\r\n";
    return text;
}

// Appends text to the spool open on fd; a spool that took part of it gives that back, as a
// report file does. 0 or the errno of the failure.
int AppendToSpool(int fd, const std::string& text) {
    const off_t before = ::lseek(fd, 0, SEEK_END);
    const int error = WriteAll(fd, text);
    if (error != 0 && before >= 0)
        (void)::ftruncate(fd, before);
    return error;
}

// A new spool of that name, created exclusively and locked, so that no other writer's or an
// earlier run's spool is added to, holding text: its descriptor, or -1 with error set and no file
// left.
int NewSpool(const std::string& name, const std::string& text, int& error) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(name).parent_path(), ignored);
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    error = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? WriteAll(fd, text) : errno;
    // What an earlier spool of the name left beside it is not this one's.
    if (error == 0 && ::unlink((name + ReportWriter::SpoolTakenSuffix).c_str()) != 0 &&
        errno != ENOENT)
        error = errno;
    if (error != 0) {
        ::unlink(name.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

// A spool and what was beside it.
void RemoveSpool(const std::string& spool) {
    ::unlink(spool.c_str());
    ::unlink((spool + ReportWriter::SpoolTakenSuffix).c_str());
}

// Says beside the spool open on fd how much of it the file has taken. One write of a fixed
// length, so that a kill leaves the old count or the new one.
void NoteTaken(const std::string& spool, int fd, std::uint64_t taken) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return;
    char text[64];
    const int size = std::snprintf(text, sizeof text, "%020llu %020llu\n",
                                   static_cast<unsigned long long>(status.st_ino),
                                   static_cast<unsigned long long>(taken));
    const std::string name = spool + ReportWriter::SpoolTakenSuffix;
    const int note =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
    if (note < 0)
        return;
    (void)!::pwrite(note, text, static_cast<std::size_t>(size), 0);
    ::close(note);
}

} // namespace

std::size_t ReportWriter::TakenFromSpool(const std::string& spool, std::uint64_t inode,
                                         const std::string& lines) {
    std::ifstream in(spool + SpoolTakenSuffix);
    unsigned long long noted = 0;
    unsigned long long taken = 0;
    if (!(in >> noted >> taken) || noted != inode || taken > lines.size() ||
        (taken > 0 && lines.compare(taken - 2, 2, "\r\n") != 0))
        return 0;
    return static_cast<std::size_t>(taken);
}

namespace {

// Keeps the held lines not yet spooled in the queue's spool.
// - A spool holds every held line of its file and no other: once a file took some of them, the
//   spool is written anew beside itself and renamed over itself, so that a kill at any moment
//   leaves it holding lines that are in the file, or the old spool whole.
// - A spool that cannot take them (its disk full too) gives way to a new one in the next place,
//   which takes every held line.
// - When no place takes them, they stay held in memory only, as the status says.
// Called with the lock held, released around the file calls. True when the lines have just come
// to be in memory only, or back on disk.
bool SpoolHeld(ReportWriter::Shared& s, FileQueue& queue, std::unique_lock<std::mutex>& lock) {
    const auto now = std::chrono::steady_clock::now();
    if (!s.spoolNames || (queue.Spooled >= queue.Lines.size() && !queue.SpoolStale) ||
        now < queue.SpoolAgainAt)
        return false;
    int fd = queue.SpoolFd;
    const bool whole = fd < 0 || queue.SpoolStale;
    std::size_t upTo = queue.Lines.size();
    std::string text = SpoolText(queue, whole ? 0 : queue.Spooled);
    const std::string current = queue.Spool;
    const ReportWriter::SpoolNames names = s.spoolNames;
    const std::string file = queue.File;
    lock.unlock();
    int error = ENOENT;
    if (fd >= 0 && !whole) {
        error = AppendToSpool(fd, text);
    } else if (fd >= 0) {
        const std::string fresh = current + ".new";
        ::unlink(fresh.c_str()); // one that a kill left half written
        const int next = NewSpool(fresh, text, error);
        if (next >= 0 && ::rename(fresh.c_str(), current.c_str()) != 0) {
            error = errno;
            ::unlink(fresh.c_str());
            ::close(next);
        } else if (next >= 0) {
            ::close(fd);
            fd = next;
        }
    }
    std::string spool = current;
    std::string failed = fd >= 0 ? current : std::string(); // the first place that failed
    if (error != 0) {
        if (!whole) {
            // The new spool must hold every held line, not only the new ones.
            lock.lock();
            upTo = queue.Lines.size();
            text = SpoolText(queue, 0);
            lock.unlock();
        }
        for (const std::string& name : names(file)) {
            if (name == current)
                continue;
            int failure = 0;
            const int next = NewSpool(name, text, failure);
            if (next >= 0) {
                if (fd >= 0) {
                    RemoveSpool(current);
                    ::close(fd);
                }
                fd = next;
                spool = name;
                error = 0;
                break;
            }
            if (failed.empty()) {
                failed = name;
                error = failure;
            }
        }
    }
    lock.lock();
    queue.SpoolFd = fd;
    queue.Spool = spool;
    if (error == 0) {
        queue.Spooled = upTo;
        queue.SpoolStale = false;
        if (whole || spool != current)
            queue.SpoolTaken = 0;
        // Back on disk: the windows stop saying otherwise.
        const bool wasInMemoryOnly = !s.status.SpoolError.empty();
        s.status.SpoolError.clear();
        return wasInMemoryOnly;
    }
    queue.SpoolAgainAt = now + ReportWriter::RetryInterval;
    const bool news = s.status.SpoolError.empty();
    s.status.SpoolError = failed + " (" + InOutErrorText(FileErrorFromErrno(error)) + ")";
    if (news)
        ++s.status.SpoolFailure;
    return news;
}

// Removes the queue's spool once its lines are all written. Called with the lock held, released
// around the file calls.
void DropSpool(FileQueue& queue, std::unique_lock<std::mutex>& lock) {
    if (queue.SpoolFd < 0)
        return;
    const int fd = std::exchange(queue.SpoolFd, -1);
    const std::string spool = std::exchange(queue.Spool, std::string());
    queue.Spooled = 0;
    queue.SpoolTaken = 0;
    queue.SpoolStale = false;
    lock.unlock();
    RemoveSpool(spool);
    ::close(fd);
    lock.lock();
}

// One try of every file's waiting lines, oldest first, each file until its first failure. The
// lock is released around every append. A batch that fails is tried again line by line, so that
// a disk with room for a few lines takes those, as it would one line at a time; a failed append
// leaves no part of its text in the file. Returns whether the status changed.
bool WriteWaiting(ReportWriter::Shared& s, std::unique_lock<std::mutex>& lock) {
    const bool wasFailing = s.AnyFailing();
    bool changed = false;
    // Groups are only ever added at the end while the lock is free, so indexes stay valid.
    for (std::size_t i = 0; i < s.files.size(); ++i) {
        FileQueue& queue = s.files[i];
        queue.Failing = false;
        bool single = false;
        while (!queue.Lines.empty()) {
            std::size_t count = 0;
            const std::string text = Batch(queue.Lines, count, single);
            int code = 0;
            std::string message;
            std::string trouble;
            lock.unlock();
            try {
                Append(queue.File, text);
            } catch (const EInOutError& error) {
                code = error.ErrorCode;
                message = error.what();
            } catch (const std::exception& error) {
                code = -1;
                message = error.what();
            }
            if (code != 0 && count == 1)
                trouble = ReportFileTrouble(queue.File);
            lock.lock();
            if (code != 0 && count > 1) {
                single = true;
                continue;
            }
            if (code != 0) {
                queue.Failing = true;
                if (s.status.ErrorCode != code || s.status.File != queue.File ||
                    s.status.ErrorText != message || s.status.Trouble != trouble) {
                    if (s.status.ErrorCode == 0) {
                        ++s.status.Failure;
                        s.status.LostAtFailure = s.status.Lost;
                        s.status.FailingSince = CurrentDateTime();
                    }
                    s.status.ErrorCode = code;
                    s.status.ErrorText = message;
                    s.status.Trouble = trouble;
                    s.status.File = queue.File;
                    changed = true;
                }
                changed = SpoolHeld(s, queue, lock) || changed;
                break;
            }
            // A kill from here on must not save again what the file took from the spool.
            std::uint64_t taken = 0;
            for (std::size_t n = 0; n < std::min(count, queue.Spooled); ++n)
                taken += queue.Lines[n].size() + 2;
            for (std::size_t n = 0; n < count; ++n) {
                s.bytes -= queue.Lines.front().size();
                queue.Lines.pop_front();
            }
            queue.SpoolStale = queue.SpoolStale || queue.Spooled > 0;
            queue.Spooled -= std::min(queue.Spooled, count);
            if (taken > 0 && queue.SpoolFd >= 0) {
                queue.SpoolTaken += taken;
                const std::string spool = queue.Spool;
                const int fd = queue.SpoolFd;
                const std::uint64_t spoolTaken = queue.SpoolTaken;
                lock.unlock();
                NoteTaken(spool, fd, spoolTaken);
                lock.lock();
            }
        }
        if (queue.Lines.empty())
            DropSpool(queue, lock);
    }
    // A queue that took a line while its spool was dropped is not empty, and stays.
    std::erase_if(s.files, [](const FileQueue& queue) { return queue.Lines.empty(); });
    if (wasFailing && !s.AnyFailing()) {
        s.status.ErrorCode = 0;
        s.status.ErrorText.clear();
        s.status.Trouble.clear();
        s.status.File.clear();
        s.status.SpoolError.clear();
        changed = true;
    }
    return changed;
}

// One try of what waits, by the writer's thread or a comm thread, and what follows from it. The
// lock is released around the appends and the news.
void TryWaiting(ReportWriter::Shared& s, std::unique_lock<std::mutex>& lock) {
    const std::uint64_t upTo = s.submitted;
    const bool changed = WriteWaiting(s, lock);
    s.lastWrite = Clock::now();
    s.retryAt =
        s.AnyFailing() ? s.lastWrite + ReportWriter::RetryInterval : Clock::time_point::max();
    // Lines handed over during the appends were written with the rest when nothing waits:
    // counting only those before would leave WaitUntilTried waiting out its patience.
    s.triedUpTo = std::max(s.triedUpTo, s.files.empty() ? s.submitted : upTo);
    s.tried.notify_all();
    if (changed && s.changed) {
        const std::function<void()> notify = s.changed;
        lock.unlock();
        notify();
        lock.lock();
    }
}

// The comm thread's append after its pass. A file that fails or a stop leaves the rest to the
// writer's thread.
void WriteHere(ReportWriter::Shared& s) {
    std::unique_lock lock(s.mutex);
    TryWaiting(s, lock);
    s.writing = false;
    const bool more = !s.files.empty() || s.stop;
    lock.unlock();
    if (more)
        s.wake.notify_one();
}

} // namespace

void ReportWriter::Run(std::shared_ptr<Shared> shared) {
    pthread_setname_np(pthread_self(), "report writer");
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    std::uint64_t lastBatch = 0; // lines the last write took
    for (;;) {
        // Lines that a comm thread appends come before any later ones, at the end too.
        if (s.writing) {
            s.wake.wait(lock);
            continue;
        }
        const bool due = !s.files.empty() &&
                         (s.triedUpTo != s.submitted || s.retryNow || Clock::now() >= s.retryAt);
        if (!due) {
            if (s.stop)
                break;
            // A writer that took several lines at its last write is busy: it waits out its pause
            // without being woken for each new line, which it would only wait for anyway.
            if (lastBatch > 1 && Clock::now() < s.lastWrite + Linger) {
                s.wake.wait_until(lock, s.lastWrite + Linger,
                                  [&] { return s.stop || s.hurry || s.bytes >= BatchBytes; });
                lastBatch = 0;
                continue;
            }
            s.idle = true;
            if (s.files.empty())
                s.wake.wait(lock);
            else
                s.wake.wait_until(lock, s.retryAt);
            s.idle = false;
            continue;
        }
        // A line that keeps its writer busy gets its lines written a few at a time: waking the
        // writer for every line of a line sending hundreds a second costs more than the write.
        // A line that sends now and then is written at once.
        const Clock::time_point lingerUntil = s.lastWrite + Linger;
        if (!s.stop && !s.retryNow && !s.hurry && !s.AnyFailing() && s.bytes < BatchBytes &&
            Clock::now() < lingerUntil) {
            s.wake.wait_until(lock, lingerUntil, [&] {
                return s.stop || s.retryNow || s.hurry || s.bytes >= BatchBytes;
            });
            continue;
        }
        s.hurry = false;
        s.retryNow = false;
        lastBatch = s.submitted - s.triedUpTo;
        TryWaiting(s, lock);
    }
    s.running = false;
    s.tried.notify_all();
}

ReportWriter::ReportWriter(std::function<void()> changed) : shared_(std::make_shared<Shared>()) {
    shared_->changed = std::move(changed);
    thread_ = std::thread(&ReportWriter::Run, shared_);
}

ReportWriter::~ReportWriter() {
    if (!finished_)
        (void)Finish(std::chrono::seconds(5));
}

bool ReportWriter::Submit(std::string file, std::string text) {
    Shared& s = *shared_;
    const std::size_t size = text.size();
    std::function<void()> notify;
    bool accepted = false;
    bool wake = false;
    bool here = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.stop)
            return false;
        if (s.bytes + size > HoldLimit) {
            ++s.status.Lost;
            // The first loss since the latest failure began is news; the rest are counted.
            if (s.status.Lost == s.status.LostAtFailure + 1)
                notify = s.changed;
        } else {
            const bool quiet = s.files.empty();
            s.bytes += size;
            FileQueue* queue = nullptr;
            for (FileQueue& existing : s.files)
                if (existing.File == file)
                    queue = &existing;
            if (queue == nullptr) {
                s.files.emplace_back().File = std::move(file);
                queue = &s.files.back();
            }
            queue->Lines.push_back(std::move(text));
            ++s.submitted;
            accepted = true;
            if (s.writing) {
                // The append under way takes this line too, or leaves it to the writer.
            } else if (quiet && s.idle && AfterPass::Collecting() &&
                       Clock::now() >= s.lastWrite + Linger) {
                // A line that sends now and then is written by the comm thread that brought it,
                // once its pass is over: waking the writer would cost another thread switch.
                s.writing = here = true;
            } else {
                // A writer that lingers is woken once a whole batch waits.
                wake = s.idle || (s.bytes >= BatchBytes && s.bytes - size < BatchBytes);
            }
        }
    }
    if (here)
        AfterPass::Add([shared = shared_] { WriteHere(*shared); });
    // Woken with the lock held, the writer would at once wait for it again.
    if (wake)
        s.wake.notify_one();
    if (notify)
        notify();
    return accepted;
}

void ReportWriter::KeepHeldIn(SpoolNames names) {
    std::lock_guard lock(shared_->mutex);
    shared_->spoolNames = std::move(names);
}

void ReportWriter::EndSpools(bool keep) {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    // A writer whose write never ended still runs: its spools stay theirs.
    if (!finished_ || s.running)
        return;
    for (FileQueue& queue : s.files) {
        if (queue.SpoolFd < 0)
            continue;
        if (!keep)
            RemoveSpool(queue.Spool);
        ::close(std::exchange(queue.SpoolFd, -1));
    }
}

ReportWriterStatus ReportWriter::Status() const {
    std::lock_guard lock(shared_->mutex);
    ReportWriterStatus status = shared_->status;
    status.Unwritten = shared_->Waiting();
    status.Held = status.ErrorCode != 0 ? status.Unwritten : 0;
    return status;
}

bool ReportWriter::WaitUntilTried(std::chrono::milliseconds patience) {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (s.triedUpTo != s.submitted) {
        s.hurry = true;
        s.wake.notify_one();
    }
    s.tried.wait_for(lock, patience, [&] { return s.triedUpTo == s.submitted || !s.running; });
    return s.files.empty();
}

std::vector<QueuedReportLine> ReportWriter::Finish(std::chrono::milliseconds patience) {
    Shared& s = *shared_;
    std::vector<QueuedReportLine> left;
    std::unique_lock lock(s.mutex);
    if (!finished_) {
        finished_ = true;
        s.stop = true;
        // Nobody is left to tell: whoever listened may be gone before a stalled write ends.
        s.changed = nullptr;
        // The last try: every waiting line once more, a failing file's before its retry is due.
        s.retryNow = true;
        s.wake.notify_all();
        const bool ended = s.tried.wait_for(lock, patience, [&] { return !s.running; });
        for (FileQueue& queue : s.files)
            for (std::string& text : queue.Lines)
                left.push_back({queue.File, ended ? std::move(text) : text});
        lock.unlock();
        if (ended)
            thread_.join();
        else
            thread_.detach(); // the stalled write keeps its own share of the state
    }
    return left;
}

void ReportFileMending::Follow(const std::string& caption, const ReportWriterStatus& status) {
    if (failing_ && status.ErrorCode == 0)
        SystemLog(LogLevel::Notice, caption + ": the report file " + file_ +
                                        " can be written again; every report line held is in it");
    failing_ = status.ErrorCode != 0;
    if (failing_)
        file_ = status.File;
}

std::string ReportFileErrorText(const std::string& caption, const std::string& reportFile,
                                const ReportWriterStatus& status) {
    std::string text;
    if (status.ErrorCode != 0) {
        text = caption + ": the report file " + status.File + " cannot be written: " +
               ExceptionReportText(status.ErrorText +
                                   (status.Trouble.empty() ? "" : "; " + status.Trouble)) +
               "\r\r" + std::to_string(status.Held) +
               (status.Held == 1 ? " report line is" : " report lines are") +
               " held and will be written as soon as the file can be written again.";
        if (!status.SpoolError.empty())
            text += " They are in memory only: " + status.SpoolError +
                    " cannot keep them, nor any other place for them.";
    } else {
        text = caption + ": writes to the report file " + reportFile + " do not finish.";
    }
    if (status.Lost > 0)
        text += "\r\r" + std::to_string(status.Lost) +
                (status.Lost == 1 ? " report line was" : " report lines were") +
                " lost: more than 64 MiB of report lines were waiting.";
    return text;
}
