#include "broker/broker_forwarder.h"

#include "broker/line_spool.h"
#include "broker/report_line_payload.h"
#include "runtime/system_log.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <mosquitto.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Report lines handed over but not yet spooled wait in memory up to this many bytes in all; the
// forwarder's thread only falls this far behind when the disk stalls.
constexpr std::size_t MemoryLimit = 64u << 20;
// Records published and not yet acknowledged, per line.
constexpr std::size_t Window = 64;
constexpr auto LongestRetry = 60s;
// A power cut costs at most the last second of spooled lines, as the report files, which are not
// flushed either, may lose theirs; a flush per report line would cost more than the rest of the
// forwarding together.
constexpr auto SyncInterval = 1s;
constexpr auto ProgressInterval = 200ms;
constexpr int KeepAliveSeconds = 30;
constexpr auto StopPatience = 3s;

// A cause as the status line shows it: "connection refused", not "Connection refused.".
std::string CauseText(std::string text) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
        !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string ClockTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

// Only one process at a time forwards from a folder of spools, which it holds a lock on for its
// run: two would send the same records under the same client id, and the broker would throw one
// off for the other again and again. An flock, so that a process that ended, however it ended,
// holds it no more.
class FolderLock {
public:
    FolderLock() = default;
    // Locks folder/forwarder.lock, made when `make` says so, and writes this process's pid in it.
    FolderLock(const std::string& folder, bool make) {
        const std::string path = folder + "/forwarder.lock";
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (make ? O_CREAT : 0), 0600);
        if (fd < 0)
            return;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) == 0)
                (void)!::pwrite(fd, pid.data(), pid.size(), 0);
            fd_ = fd;
            return;
        }
        busy_ = errno == EWOULDBLOCK;
        char text[24] = {};
        if (busy_ && ::pread(fd, text, sizeof text - 1, 0) > 0)
            holder_ = std::strtol(text, nullptr, 10);
        ::close(fd);
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(FolderLock&& other) noexcept {
        std::swap(fd_, other.fd_);
        busy_ = other.busy_;
        holder_ = other.holder_;
        return *this;
    }

    bool Held() const { return fd_ >= 0; }
    // Another process holds it; Holder() is its pid, 0 when it has not written it yet.
    bool Busy() const { return busy_; }
    long Holder() const { return holder_; }

private:
    int fd_ = -1;
    bool busy_ = false;
    long holder_ = 0;
};

struct Handed {
    int Line;
    std::string Caption;
    std::string File;
    std::string Text;
    std::chrono::system_clock::time_point Completed;
};

struct TopicState {
    std::string Name;
    std::string Since;
    bool Unsent = true;
};

struct InFlight {
    int Mid;
    std::uint64_t Seq;
    std::uint64_t End;
    bool Acked = false;
};

// How far this line's spool took each read-only spool of an earlier run: such a spool cannot be
// told what it gave, and would be sent again at every start. Kept beside the spool that took
// them, one line each: device, inode, the end of the last record taken, its seq, and the path.
struct EarlierMark {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t End = 0;
    std::uint64_t Seq = 0;
    std::string Path;
};

std::string EarlierMarksFile(const std::string& spoolPath) {
    return spoolPath + ".earlier";
}

std::vector<EarlierMark> ReadEarlierMarks(const std::string& spoolPath) {
    std::vector<EarlierMark> marks;
    std::ifstream in(EarlierMarksFile(spoolPath), std::ios::binary);
    EarlierMark mark;
    while (in >> mark.Device >> mark.Inode >> mark.End >> mark.Seq && in.get() == ' ' &&
           std::getline(in, mark.Path))
        marks.push_back(mark);
    return marks;
}

// Written whole beside itself and renamed over itself: a kill leaves the old marks or the new.
void WriteEarlierMarks(const std::string& spoolPath, const std::vector<EarlierMark>& marks) {
    const std::string file = EarlierMarksFile(spoolPath);
    const std::string next = file + ".new";
    {
        std::ofstream out(next, std::ios::binary | std::ios::trunc);
        for (const EarlierMark& mark : marks)
            out << mark.Device << ' ' << mark.Inode << ' ' << mark.End << ' ' << mark.Seq << ' '
                << mark.Path << '\n';
        if (!out.flush())
            return;
    }
    if (std::rename(next.c_str(), file.c_str()) != 0)
        std::remove(next.c_str());
}

// Where taking from an earlier spool begins: past what a mark says was taken, when the mark is
// of this very file and a record with its seq still ends where it says; else at the first record
// not acknowledged there, which may send some again but loses none.
std::uint64_t FirstNotTaken(const LineSpool& earlier, const struct stat& info,
                            const EarlierMark* mark) {
    const std::uint64_t from = earlier.AckedOffset();
    if (mark == nullptr || mark->Device != static_cast<std::uint64_t>(info.st_dev) ||
        mark->Inode != static_cast<std::uint64_t>(info.st_ino) || mark->End <= from ||
        mark->End > earlier.EndOffset())
        return from;
    SpooledRecord record;
    for (std::uint64_t at = from; at < mark->End && earlier.Read(at, record); at = record.End)
        if (record.End == mark->End)
            return record.Seq == mark->Seq ? mark->End : from;
    return from;
}

} // namespace

std::string ForwarderStatusText(const ForwarderStatus& status) {
    std::vector<std::string> parts;
    if (!status.Enabled)
        parts.push_back("forwarding is off");
    else if (!status.NotForwarding.empty())
        parts.push_back("not forwarding: " + status.NotForwarding);
    else if (status.Connected)
        parts.push_back("connected to " + status.Server);
    else if (status.Cause.empty())
        parts.push_back("connecting to " + status.Server);
    else
        parts.push_back("trying since " + ClockTime(status.TryingSince) + ": " + status.Cause);
    if (status.Waiting > 0)
        parts.push_back(std::to_string(status.Waiting) +
                        (status.Waiting == 1 ? " report line waiting" : " report lines waiting"));
    if (status.NotForwarded > 0)
        parts.push_back(std::to_string(status.NotForwarded) +
                        (status.NotForwarded == 1 ? " report line" : " report lines") +
                        " not forwarded: the spool was full");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

struct BrokerForwarder::Impl {
    class LineSink : public ReportLineSink {
    public:
        LineSink() = default;
        void Bind(Impl* impl, int line) {
            impl_ = impl;
            line_ = line;
        }
        void ReportLineCompleted(const std::string& file, const std::string& text,
                                 std::chrono::system_clock::time_point completed) override {
            impl_->Hand(line_, file, text, completed);
        }

    private:
        Impl* impl_ = nullptr;
        int line_ = 0;
    };

    Impl(std::string folder, std::vector<std::string> others)
        : spoolFolder(std::move(folder)), otherFolders(std::move(others)) {
        std::erase(otherFolders, spoolFolder);
        static std::once_flag initialised;
        std::call_once(initialised, [] { mosquitto_lib_init(); });
        wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        for (int line = 1; line <= LineCount; ++line) {
            sinks[line - 1].Bind(this, line);
            spools[line - 1] = std::make_unique<LineSpool>(spoolFolder + "/line" +
                                                           std::to_string(line) + ".spool");
        }
    }

    ~Impl() { ::close(wake); }

    void Start(const std::shared_ptr<Impl>& self) {
        finished = done.get_future();
        thread = std::thread([self] {
            self->Run();
            self->done.set_value();
        });
    }

    // A connect to a host that never answers can hold the thread for the kernel's TCP timeout:
    // the program does not wait that long to end. What was handed over is in the spools by then.
    void Stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        Wake();
        if (finished.wait_for(StopPatience) == std::future_status::ready)
            thread.join();
        else
            thread.detach();
    }

    // --- any thread ---

    void Wake() {
        const std::uint64_t one = 1;
        (void)!::write(wake, &one, sizeof one);
    }

    // The line's caption, as the other messages name the line.
    std::string Caption(int index) const {
        std::lock_guard lock(mutex);
        return captions[index].empty() ? "Line " + std::to_string(index + 1) : captions[index];
    }

    void Hand(int line, const std::string& file, const std::string& text,
              std::chrono::system_clock::time_point completed) {
        bool first = false;
        {
            std::lock_guard lock(mutex);
            if (queuedBytes + text.size() > MemoryLimit) {
                ++notForwarded;
                return;
            }
            first = queue.empty();
            queuedBytes += text.size() + file.size();
            queue.push_back({line, captions[line - 1], file, text, completed});
        }
        if (first)
            Wake();
    }

    // --- the forwarder's thread ---

    void Run();
    void SpoolHanded(std::vector<Handed>& handed);
    bool HoldSpoolFolder();
    bool OpenSpool(int index);
    void TakeEarlierSpool(int index, const std::string& folder);
    void Connect();
    void Fail(const std::string& cause);
    void TearDown();
    void PublishStates();
    void PublishSpooled();
    void Acknowledged(int mid);
    void Disconnect();
    void ShowStatus();

    static void OnConnect(mosquitto*, void* self, int rc) {
        static_cast<Impl*>(self)->Connected(rc);
    }
    static void OnDisconnect(mosquitto*, void* self, int rc) {
        static_cast<Impl*>(self)->Disconnected(rc);
    }
    static void OnPublish(mosquitto*, void* self, int mid) {
        static_cast<Impl*>(self)->Acknowledged(mid);
    }
    void Connected(int rc);
    void Disconnected(int rc);

    const std::string spoolFolder;
    std::vector<std::string> otherFolders;
    int wake = -1;
    std::thread thread;
    std::promise<void> done;
    std::future<void> finished;
    std::array<LineSink, LineCount> sinks;

    // Shared, under mutex.
    mutable std::mutex mutex;
    std::vector<Handed> queue;
    std::size_t queuedBytes = 0;
    std::array<std::string, LineCount> captions;
    std::array<TopicState, LineCount> states;
    std::optional<BrokerConfig> wanted;
    bool reconfigure = false;
    bool stopping = false;
    std::uint64_t notForwarded = 0;
    ForwarderStatus status;

    // The forwarder's thread alone.
    std::optional<BrokerConfig> config;
    FolderLock folderLock;
    std::string lockedOut; // why another process forwards from the spools, while it does
    std::array<std::unique_ptr<LineSpool>, LineCount> spools;
    std::array<bool, LineCount> spoolProblemLogged{};
    std::array<bool, LineCount> refusalLogged{};
    std::array<std::uint64_t, LineCount> sendOffset{};
    std::array<std::deque<InFlight>, LineCount> inFlight;
    std::unordered_map<int, int> lineOfMid;
    mosquitto* client = nullptr;
    bool online = false; // CONNACK accepted
    bool failed = false; // this try failed; the client is torn down after the callback
    std::string cause;
    std::string loggedCause;
    std::chrono::system_clock::time_point tryingSince{};
    Clock::time_point nextTry{};
    Clock::duration retryDelay = 1s;
    Clock::time_point lastSync{};
    Clock::time_point lastProgress{};
    bool unsynced = false;
    bool progressPending = false;
};

bool BrokerForwarder::Impl::HoldSpoolFolder() {
    if (folderLock.Held())
        return true;
    // Without the folder there is no spool to share; OpenSpool tells why.
    if (!MakeFolders(spoolFolder))
        return true;
    folderLock = FolderLock(spoolFolder, true);
    // A lock file that cannot be made leaves the spools as unguarded as they were before.
    if (!folderLock.Busy()) {
        lockedOut.clear();
        return true;
    }
    const bool told = !lockedOut.empty();
    lockedOut = "another Tolvane" +
                (folderLock.Holder() > 0 ? " (pid " + std::to_string(folderLock.Holder()) + ")"
                                         : std::string()) +
                " forwards from the spools in " + spoolFolder;
    if (!told)
        SystemLog(LogLevel::Warning,
                  "Report lines are not forwarded to the broker by this process: " + lockedOut);
    return false;
}

bool BrokerForwarder::Impl::OpenSpool(int index) {
    LineSpool& spool = *spools[index];
    if (spool.IsOpen())
        return true;
    if (!HoldSpoolFolder())
        return false;
    if (MakeFolders(spoolFolder) && spool.Open()) {
        for (const std::string& folder : otherFolders)
            TakeEarlierSpool(index, folder);
        sendOffset[index] = spool.AckedOffset();
        spoolProblemLogged[index] = false;
        return true;
    }
    if (!spoolProblemLogged[index]) {
        spoolProblemLogged[index] = true;
        const std::string why = spool.Error().empty() ? "Unable to make the folder " + spoolFolder +
                                                            ": " + std::strerror(errno)
                                                      : spool.Error();
        SystemLog(LogLevel::Error,
                  Caption(index) + ": report lines are not forwarded to the broker. " + why);
    }
    return false;
}

// A run whose spools were in another place (its settings folder could be written then, or not)
// left there what the broker had not taken: it goes into this spool with its seq, before any new
// report line, and the line's numbering goes on past every seq given there.
void BrokerForwarder::Impl::TakeEarlierSpool(int index, const std::string& folder) {
    const std::string path = folder + "/line" + std::to_string(index + 1) + ".spool";
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    // A Tolvane that forwards from there just now keeps its report lines.
    const FolderLock lock(folder, false);
    if (lock.Busy())
        return;
    LineSpool earlier(path);
    if (!earlier.Open() && !earlier.Open(LineSpool::Access::ReadOnly))
        return;
    LineSpool& spool = *spools[index];
    std::vector<EarlierMark> marks = ReadEarlierMarks(spool.Path());
    const auto mark = std::find_if(marks.begin(), marks.end(),
                                   [&](const EarlierMark& m) { return m.Path == path; });
    const std::uint64_t from =
        earlier.ReadOnly() ? FirstNotTaken(earlier, info, mark == marks.end() ? nullptr : &*mark)
                           : earlier.AckedOffset();
    std::uint64_t taken = 0;
    std::uint64_t takenEnd = from;
    std::uint64_t takenSeq = 0;
    std::uint64_t lastSeq = 0;
    SpooledRecord record;
    for (std::uint64_t at = from; at < earlier.EndOffset() && earlier.Read(at, record);
         at = record.End) {
        // A full spool leaves the rest where it is, for a later start.
        if (!spool.Adopt(record))
            break;
        ++taken;
        takenEnd = record.End;
        takenSeq = std::max(takenSeq, record.Seq);
        lastSeq = record.Seq;
    }
    spool.ContinueAfter(earlier.NextSeq() - 1);
    if (taken == 0)
        return;
    // Here before they are gone from there: a crash in between costs duplicates, not lines.
    spool.Sync();
    if (earlier.ReadOnly()) {
        // A spool that cannot be written (a read-only settings folder) keeps them: the mark
        // beside this spool says how far they were taken.
        const EarlierMark taking{static_cast<std::uint64_t>(info.st_dev),
                                 static_cast<std::uint64_t>(info.st_ino), takenEnd, lastSeq, path};
        if (mark == marks.end())
            marks.push_back(taking);
        else
            *mark = taking;
        WriteEarlierMarks(spool.Path(), marks);
    } else {
        earlier.Acknowledge(takenEnd, takenSeq);
        earlier.SaveProgress();
        earlier.Sync();
    }
    SystemLog(LogLevel::Notice, Caption(index) + ": " + std::to_string(taken) +
                                    (taken == 1 ? " report line" : " report lines") +
                                    " that an earlier run spooled in " + folder +
                                    " go to the broker first");
}

void BrokerForwarder::Impl::SpoolHanded(std::vector<Handed>& handed) {
    std::uint64_t refused = 0;
    for (Handed& item : handed) {
        const int index = item.Line - 1;
        LineSpool& spool = *spools[index];
        if (!OpenSpool(index)) {
            ++refused;
            continue;
        }
        ForwardedReportLine line;
        line.Line = item.Line;
        line.Caption = std::move(item.Caption);
        line.Seq = spool.NextSeq();
        line.Completed = item.Completed;
        line.File = std::move(item.File);
        line.Text = std::move(item.Text);
        const std::string host = config ? config->HostName : LocalHostName();
        if (spool.Append(ReportLinePayload(host, line))) {
            unsynced = true;
            // With nothing in flight every record sent is acknowledged; an append may have
            // emptied the file of them first, so sending goes on from what is left.
            if (inFlight[index].empty())
                sendOffset[index] = spool.AckedOffset();
            if (refusalLogged[index]) {
                refusalLogged[index] = false;
                SystemLog(LogLevel::Notice,
                          Caption(index) + ": report lines are forwarded to the broker again");
            }
            continue;
        }
        ++refused;
        spool.SkipSeq();
        // Told once until the spool takes lines again; the refused ones are counted.
        if (refusalLogged[index])
            continue;
        refusalLogged[index] = true;
        const std::string name = Caption(index) + " (" + line.File + ")";
        if (spool.Full())
            SystemLog(LogLevel::Error,
                      name + ": report lines are not forwarded to the broker: its spool " +
                          spool.Path() + " holds 256 MiB that the broker has not taken");
        else
            SystemLog(LogLevel::Error,
                      name + ": report lines are not forwarded to the broker. " + spool.Error());
    }
    if (refused > 0) {
        std::lock_guard lock(mutex);
        notForwarded += refused;
    }
}

void BrokerForwarder::Impl::Connect() {
    const BrokerConfig& c = *config;
    failed = false;
    online = false;
    client = mosquitto_new(c.ClientId.c_str(), true, this);
    if (client == nullptr) {
        Fail(std::strerror(errno));
        return;
    }
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // The window is ours: every publish goes out at once.
    mosquitto_max_inflight_messages_set(client, 0);
    mosquitto_connect_callback_set(client, &Impl::OnConnect);
    mosquitto_disconnect_callback_set(client, &Impl::OnDisconnect);
    mosquitto_publish_callback_set(client, &Impl::OnPublish);
    if (!c.Username.empty())
        mosquitto_username_pw_set(client, c.Username.c_str(),
                                  c.Password.empty() ? nullptr : c.Password.c_str());
    const std::string statusTopic = c.TopicPrefix + "/status";
    mosquitto_will_set(client, statusTopic.c_str(), 7, "offline", 1, true);
    if (c.Address.Tls) {
        mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc =
            mosquitto_tls_set(client, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            Fail(mosquitto_strerror(rc));
            return;
        }
    }
    // The TCP connect blocks this thread only: capture hands over into memory meanwhile.
    const int rc =
        mosquitto_connect(client, c.Address.Host.c_str(), c.Address.Port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        Fail(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
}

void BrokerForwarder::Impl::Connected(int rc) {
    if (rc != 0) {
        Fail(mosquitto_connack_string(rc));
        return;
    }
    online = true;
    retryDelay = 1s;
    cause.clear();
    if (!loggedCause.empty() || tryingSince == std::chrono::system_clock::time_point{})
        SystemLog(LogLevel::Notice,
                  "Forwarding report lines to the broker " + config->Address.Text());
    loggedCause.clear();
    tryingSince = {};
    const std::string statusTopic = config->TopicPrefix + "/status";
    mosquitto_publish(client, nullptr, statusTopic.c_str(), 6, "online", 1, true);
    std::lock_guard lock(mutex);
    for (TopicState& state : states)
        state.Unsent = true;
}

void BrokerForwarder::Impl::Disconnected(int rc) {
    if (failed)
        return;
    Fail(rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_SUCCESS ? "connection lost"
                                                            : mosquitto_strerror(rc));
}

void BrokerForwarder::Impl::Fail(const std::string& why) {
    if (failed)
        return;
    failed = true;
    online = false;
    cause = CauseText(why);
    if (tryingSince == std::chrono::system_clock::time_point{})
        tryingSince = std::chrono::system_clock::now();
    if (cause != loggedCause) {
        loggedCause = cause;
        SystemLog(LogLevel::Warning, "The broker " + config->Address.Text() + ": " + cause +
                                         "; report lines wait in their spools, tried again at "
                                         "most every 60 s");
    }
    nextTry = Clock::now() + retryDelay;
    retryDelay = std::min<Clock::duration>(retryDelay * 2, LongestRetry);
}

void BrokerForwarder::Impl::TearDown() {
    if (client != nullptr) {
        mosquitto_destroy(client);
        client = nullptr;
    }
    online = false;
    lineOfMid.clear();
    for (int i = 0; i < LineCount; ++i) {
        inFlight[i].clear();
        // Whatever was not acknowledged goes again, in order, on the next connection.
        if (spools[i]->IsOpen())
            sendOffset[i] = spools[i]->AckedOffset();
    }
}

void BrokerForwarder::Impl::Acknowledged(int mid) {
    const auto found = lineOfMid.find(mid);
    if (found == lineOfMid.end())
        return;
    const int index = found->second;
    lineOfMid.erase(found);
    std::deque<InFlight>& flight = inFlight[index];
    for (InFlight& sent : flight)
        if (sent.Mid == mid)
            sent.Acked = true;
    while (!flight.empty() && flight.front().Acked) {
        spools[index]->Acknowledge(flight.front().End, flight.front().Seq);
        flight.pop_front();
        progressPending = true;
    }
}

void BrokerForwarder::Impl::PublishStates() {
    std::array<std::string, LineCount> payloads;
    {
        std::lock_guard lock(mutex);
        for (int i = 0; i < LineCount; ++i) {
            TopicState& state = states[i];
            if (!state.Unsent || state.Name.empty())
                continue;
            state.Unsent = false;
            std::string json = "{\"state\":";
            AppendJsonString(json, state.Name);
            json += ",\"since\":\"" + state.Since + "\"}";
            payloads[i] = std::move(json);
        }
    }
    for (int i = 0; i < LineCount; ++i) {
        if (payloads[i].empty())
            continue;
        const std::string topic = config->TopicPrefix + "/line" + std::to_string(i + 1) + "/state";
        mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payloads[i].size()),
                          payloads[i].data(), 1, true);
    }
}

void BrokerForwarder::Impl::PublishSpooled() {
    SpooledRecord record;
    for (int i = 0; i < LineCount && online; ++i) {
        LineSpool& spool = *spools[i];
        if (!spool.IsOpen())
            continue;
        const std::string topic = config->TopicPrefix + "/line" + std::to_string(i + 1);
        while (online && inFlight[i].size() < Window && sendOffset[i] < spool.EndOffset()) {
            if (!spool.Read(sendOffset[i], record))
                break;
            int mid = 0;
            const int rc = mosquitto_publish(client, &mid, topic.c_str(),
                                             static_cast<int>(record.Payload.size()),
                                             record.Payload.data(), 1, false);
            if (rc != MOSQ_ERR_SUCCESS) {
                Fail(mosquitto_strerror(rc));
                break;
            }
            inFlight[i].push_back({mid, record.Seq, record.End});
            lineOfMid[mid] = i;
            sendOffset[i] = record.End;
        }
    }
}

void BrokerForwarder::Impl::Disconnect() {
    if (client == nullptr)
        return;
    if (online) {
        // A clean disconnect sends no will: the status says so itself.
        const std::string statusTopic = config->TopicPrefix + "/status";
        mosquitto_publish(client, nullptr, statusTopic.c_str(), 7, "offline", 1, true);
        failed = true; // what follows is no failure
        mosquitto_disconnect(client);
        const auto deadline = Clock::now() + 500ms;
        while (mosquitto_socket(client) >= 0 && Clock::now() < deadline)
            if (mosquitto_loop(client, 50, 1) != MOSQ_ERR_SUCCESS)
                break;
    }
    TearDown();
}

void BrokerForwarder::Impl::ShowStatus() {
    std::uint64_t waiting = 0;
    for (const auto& spool : spools)
        waiting += spool->IsOpen() ? spool->Waiting() : 0;
    std::lock_guard lock(mutex);
    status.Enabled = config.has_value();
    status.Connected = online;
    status.Server = config ? config->Address.Text() : std::string();
    status.Cause = cause;
    status.TryingSince = tryingSince;
    status.NotForwarding = lockedOut;
    status.Waiting = waiting + queue.size();
    status.NotForwarded = notForwarded;
}

void BrokerForwarder::Impl::Run() {
    std::vector<Handed> handed;
    for (;;) {
        bool stop = false;
        std::optional<std::optional<BrokerConfig>> change;
        {
            std::lock_guard lock(mutex);
            handed.swap(queue);
            queuedBytes = 0;
            stop = stopping;
            if (reconfigure) {
                change = wanted;
                reconfigure = false;
            }
        }
        // The same settings again (a reload that changed only the ports) keep the connection: a
        // new one would tell every subscriber that this PC went offline. Not connected, it is
        // tried again now.
        if (change && *change == config) {
            change.reset();
            if (client == nullptr) {
                retryDelay = 1s;
                nextTry = Clock::now();
            }
        }
        if (change) {
            Disconnect();
            config = *change;
            cause.clear();
            loggedCause.clear();
            tryingSince = {};
            retryDelay = 1s;
            nextTry = Clock::now();
        }
        SpoolHanded(handed);
        handed.clear();
        const auto now = Clock::now();
        if (unsynced && (stop || now - lastSync >= SyncInterval)) {
            for (const auto& spool : spools)
                spool->Sync();
            unsynced = false;
            lastSync = now;
        }
        if (stop)
            break;
        if (config && client == nullptr && now >= nextTry) {
            if (HoldSpoolFolder()) {
                // Lines whose spools were not yet opened have records left from an earlier run.
                for (int i = 0; i < LineCount; ++i)
                    OpenSpool(i);
                Connect();
            } else {
                // Looked at again, so that this process forwards once the other has ended.
                nextTry = now + retryDelay;
                retryDelay = std::min<Clock::duration>(retryDelay * 2, LongestRetry);
            }
        }
        if (client != nullptr && online) {
            PublishStates();
            PublishSpooled();
        }
        if (progressPending && now - lastProgress >= ProgressInterval) {
            progressPending = false;
            for (int i = 0; i < LineCount; ++i) {
                spools[i]->SaveProgress();
                // An emptied spool starts again at its header.
                sendOffset[i] = std::min(sendOffset[i], spools[i]->EndOffset());
            }
            lastProgress = now;
        }
        if (failed)
            TearDown();
        ShowStatus();

        pollfd fds[2] = {{wake, POLLIN, 0}, {-1, 0, 0}};
        int timeout = 1000;
        if (client != nullptr) {
            fds[1].fd = mosquitto_socket(client);
            fds[1].events =
                static_cast<short>(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0));
        } else if (config) {
            const auto untilTry =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextTry - Clock::now())
                    .count();
            timeout = static_cast<int>(std::clamp<long long>(untilTry, 0, 1000));
        }
        if (progressPending)
            timeout = std::min(timeout, static_cast<int>(ProgressInterval.count()));
        // Off and flushed: nothing to do until something is handed over or configured.
        if (!config && !unsynced && !progressPending)
            timeout = -1;
        if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout) > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t count = 0;
            (void)!::read(wake, &count, sizeof count);
        }
        if (client != nullptr && fds[1].fd >= 0) {
            int rc = MOSQ_ERR_SUCCESS;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                rc = mosquitto_loop_read(client, 64);
            if (rc == MOSQ_ERR_SUCCESS && client != nullptr && (fds[1].revents & POLLOUT))
                rc = mosquitto_loop_write(client, 64);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(client);
            if (rc != MOSQ_ERR_SUCCESS && !failed)
                Fail(rc == MOSQ_ERR_ERRNO       ? std::strerror(errno)
                     : rc == MOSQ_ERR_CONN_LOST ? "connection lost"
                                                : mosquitto_strerror(rc));
            if (failed)
                TearDown();
        }
    }
    Disconnect();
    for (const auto& spool : spools)
        spool->SaveProgress();
    for (const auto& spool : spools)
        spool->Sync();
    folderLock = FolderLock();
}

BrokerForwarder::BrokerForwarder(std::string spoolFolder, std::vector<std::string> otherFolders)
    : impl_(std::make_shared<Impl>(std::move(spoolFolder), std::move(otherFolders))) {
    impl_->Start(impl_);
}

BrokerForwarder::~BrokerForwarder() {
    impl_->Stop();
}

void BrokerForwarder::Configure(std::optional<BrokerConfig> config) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->wanted = std::move(config);
        impl_->reconfigure = true;
    }
    impl_->Wake();
}

void BrokerForwarder::SetCaption(int line, std::string caption) {
    std::lock_guard lock(impl_->mutex);
    impl_->captions[line - 1] = std::move(caption);
}

void BrokerForwarder::SetLineState(int line, std::string state) {
    {
        std::lock_guard lock(impl_->mutex);
        TopicState& current = impl_->states[line - 1];
        if (current.Name == state)
            return;
        current.Name = std::move(state);
        current.Since = IsoTime(std::chrono::system_clock::now());
        current.Unsent = true;
    }
    impl_->Wake();
}

ReportLineSink& BrokerForwarder::Sink(int line) {
    return impl_->sinks[line - 1];
}

ForwarderStatus BrokerForwarder::Status() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->status;
}

const std::string& BrokerForwarder::SpoolFolder() const {
    return impl_->spoolFolder;
}
