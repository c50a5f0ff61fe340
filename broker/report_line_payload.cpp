#include "broker/report_line_payload.h"

#include "runtime/ansi_text.h"

#include <QFile>
#include <cstdio>
#include <ctime>

namespace {

void AppendEscaped(std::string& out, unsigned char c) {
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (c < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out += escape;
    } else {
        out.push_back(static_cast<char>(c));
    }
}

} // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
    out.push_back('"');
    for (const char c : utf8)
        AppendEscaped(out, static_cast<unsigned char>(c));
    out.push_back('"');
}

void AppendLatin1JsonString(std::string& out, std::string_view bytes) {
    out.push_back('"');
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            AppendEscaped(out, c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    out.push_back('"');
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(sinceEpoch / 1000);
    long millis = static_cast<long>(sinceEpoch % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm local{};
    ::localtime_r(&seconds, &local);
    const int offset = static_cast<int>(local.tm_gmtoff / 60);
    const int absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(millis), offset < 0 ? '-' : '+',
                  absOffset / 60, absOffset % 60);
    return text;
}

std::string ReportLinePayload(const std::string& host, const ForwardedReportLine& line) {
    std::string out;
    out.reserve(line.Text.size() + line.File.size() + host.size() + 128);
    out += "{\"host\":";
    AppendJsonString(out, host);
    out += ",\"line\":" + std::to_string(line.Line);
    out += ",\"caption\":";
    AppendJsonString(out, AnsiToQString(line.Caption).toUtf8().toStdString());
    out += ",\"seq\":" + std::to_string(line.Seq);
    out += ",\"time\":\"" + IsoTime(line.Completed) + "\"";
    out += ",\"file\":";
    AppendJsonString(out, QFile::decodeName(line.File.c_str()).toUtf8().toStdString());
    out += ",\"text\":";
    AppendLatin1JsonString(out, line.Text);
    out += "}";
    return out;
}
