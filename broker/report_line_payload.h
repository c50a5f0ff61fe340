#pragma once
// The JSON object published for one report line.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

struct ForwardedReportLine {
    int Line = 0;
    std::string Caption; // 8-bit ANSI, as the line holds it
    std::uint64_t Seq = 0;
    std::chrono::system_clock::time_point Completed;
    std::string File;
    std::string Text; // without CR LF
};

// {"host":…,"line":N,"caption":…,"seq":…,"time":…,"file":…,"text":…}. The text's bytes become
// the code points of the same numbers (ISO 8859-1); the caption is read as the program shows it.
std::string ReportLinePayload(const std::string& host, const ForwardedReportLine& line);

// ISO 8601 in local time with milliseconds and the UTC offset: 2026-12-09T14:02:11.123+01:00.
std::string IsoTime(std::chrono::system_clock::time_point time);

// A JSON string literal, quotes included, of UTF-8 text.
void AppendJsonString(std::string& out, std::string_view utf8);
// The same of 8-bit text, each byte taken as the code point of its number.
void AppendLatin1JsonString(std::string& out, std::string_view bytes);
