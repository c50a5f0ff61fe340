#include "runtime/system_log.h"

#include "runtime/ansi_text.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>

namespace {

std::atomic<bool> echo{false};

// systemd names the journal stream it gave as standard error in JOURNAL_STREAM, "device:inode".
bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat st {};
    return stream != nullptr && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           ::fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

} // namespace

std::string OnOneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lineEnd = text[i] == '\r' || text[i] == '\n';
        if (!lineEnd)
            line += text[i];
        else if (i == 0 || (text[i - 1] != '\r' && text[i - 1] != '\n'))
            line += ' ';
    }
    return MessageToQString(line).toUtf8().toStdString();
}

void SystemLog(LogLevel level, const std::string& text) {
    static std::once_flag opened;
    static bool journal = false;
    std::call_once(opened, [] {
        openlog("tolvane", LOG_PID, LOG_USER);
        journal = StandardErrorIsJournal();
    });
    const std::string line = OnOneLine(text);
    const int priority = level == LogLevel::Error     ? LOG_ERR
                         : level == LogLevel::Warning ? LOG_WARNING
                                                      : LOG_NOTICE;
    syslog(priority, "%s", line.c_str());
    if (echo && !journal) {
        std::fprintf(stderr, "tolvane: %s\n", line.c_str());
        std::fflush(stderr);
    }
}

void EchoSystemLogOnStandardError(bool on) {
    echo = on;
}

bool SystemLogEchoed() {
    return echo;
}
