#pragma once
// What happened while nobody watched, for the system log (ident "tolvane"), so that
// `journalctl -t tolvane` tells the night: error boxes, ports lost and back, lines started,
// stopped and resumed. Text goes out on one line, in UTF-8 (OnOneLine).

#include <string>

enum class LogLevel { Error, Warning, Notice };

void SystemLog(LogLevel level, const std::string& text);

// A box's text as one line: each run of CR and LF (a box's paragraph break) becomes one space.
// Read as a message is (MessageToQString) and given in UTF-8, as the journal and terminals take
// it: a caption's 8-bit byte would make the journal keep the whole entry as binary data.
std::string OnOneLine(const std::string& text);

// For a program without windows: every entry also goes to standard error as "tolvane: text", so
// that whoever runs it in a terminal reads what the panels would show. Not when standard error
// is the journal itself (a service's), which has the entry already.
void EchoSystemLogOnStandardError(bool on);
// True while entries are echoed (or standard error is the journal that holds them).
bool SystemLogEchoed();
