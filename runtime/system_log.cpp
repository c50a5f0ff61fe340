#include "runtime/system_log.h"

#include <mutex>
#include <syslog.h>

void SystemLog(LogLevel level, const std::string& text) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("tolvane", LOG_PID, LOG_USER); });
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    const int priority = level == LogLevel::Error     ? LOG_ERR
                         : level == LogLevel::Warning ? LOG_WARNING
                                                      : LOG_NOTICE;
    syslog(priority, "%s", line.c_str());
}
