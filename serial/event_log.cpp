#include "serial/event_log.h"

#include "serial/trace_byte_text.h"

#include <cstdio>

void EventLog::Allocate(std::uint32_t size) {
    if (buffer_.size() != size)
        buffer_.assign(size, 0);
    Empty();
}

void EventLog::Empty() {
    head_ = tail_ = 0;
    free_ = buffer_.size();
}

void EventLog::Free() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    Empty();
}

void EventLog::Put(const std::uint8_t* bytes, std::uint32_t count) {
    for (std::uint32_t k = 0; k < count; ++k) {
        buffer_[head_] = bytes[k];
        if (++head_ == buffer_.size())
            head_ = 0;
    }
    free_ -= count;
}

void EventLog::Get(std::uint32_t from, std::uint8_t* bytes, std::uint32_t count) const {
    for (std::uint32_t k = 0; k < count; ++k)
        bytes[k] = buffer_[(std::size_t{from} + k) % buffer_.size()];
}

std::uint32_t EventLog::GetWord(std::uint32_t from) const {
    std::uint8_t b[4];
    Get(from, b, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
}

void EventLog::DropOldest() {
    const std::uint32_t length = HeaderSize + GetWord((tail_ + 10) % Size());
    tail_ = static_cast<std::uint32_t>((std::size_t{tail_} + length) % buffer_.size());
    free_ += length;
}

void EventLog::Append(std::uint8_t type, std::uint8_t subtype, std::uint32_t timeMs,
                      std::uint32_t value, const std::uint8_t* bytes, std::uint32_t count) {
    const std::size_t need = std::size_t{HeaderSize} + count;
    if (buffer_.empty() || need > buffer_.size())
        return;
    while (free_ < need)
        DropOldest();
    std::uint8_t header[HeaderSize] = {type, subtype};
    const std::uint32_t words[3] = {timeMs, value, count};
    for (int w = 0; w < 3; ++w)
        for (int k = 0; k < 4; ++k)
            header[2 + w * 4 + k] = static_cast<std::uint8_t>(words[w] >> (8 * k));
    Put(header, HeaderSize);
    if (count > 0)
        Put(bytes, count);
}

namespace {

// Seconds with three decimals: the milliseconds as at least seven digits, a point before the
// last three.
std::string Seconds(std::uint32_t ms) {
    char text[24];
    std::snprintf(text, sizeof text, "%.4u.%.3u", ms / 1000, ms % 1000);
    return text;
}

std::string StatusTypeName(std::uint32_t handle) {
    static const char* const names[] = {"(Not active)",         "(Modem status)",
                                        "(Line status)",        "(Output buffer free)",
                                        "(Output buffer used)", "(Output sent)"};
    const std::uint32_t type = handle & 7;
    return names[type < 6 ? type : 0];
}

} // namespace

std::string EventLog::EntriesText(const std::function<std::string(int)>& text, bool hex,
                                  bool allHex) const {
    std::string out;
    std::vector<std::uint8_t> extra; // sized per entry: a read may exceed the queue sizes
    std::size_t left = buffer_.size() - free_;
    std::uint32_t at = tail_;
    while (left >= HeaderSize) {
        std::uint8_t kind[2];
        Get(at, kind, 2);
        const std::uint32_t timeMs = GetWord((at + 2) % Size());
        const std::uint32_t value = GetWord((at + 6) % Size());
        const std::uint32_t count = GetWord((at + 10) % Size());
        extra.resize(count);
        Get((at + HeaderSize) % Size(), extra.data(), count);
        const std::size_t lineStart = out.size();
        char line[1024]; // names are at most 255 characters each
        std::snprintf(line, sizeof line, "%8s  %-8s  %-12s  %.8x  ", Seconds(timeMs).c_str(),
                      text(15001 + kind[0]).c_str(), text(15100 + kind[1]).c_str(), value);
        out += line;
        const bool triggerChange = kind[0] == ltAllocTrigger || kind[0] == ltDisposeTrigger;
        if (triggerChange && kind[1] == lsStatusTrigger) {
            out += StatusTypeName(value);
        } else if (kind[0] == ltStatus && kind[1] == lsModemStatus) {
            out += '(';
            bool first = true;
            for (int bit = 0; bit < 8; ++bit) {
                if (value & (1u << bit)) {
                    if (!first)
                        out += ' ';
                    out.append(text(15601 + bit));
                    first = false;
                }
            }
            out += ')';
        } else {
            TraceByteText bytes{hex, allHex, static_cast<int>(out.size() - lineStart)};
            for (std::uint8_t b : extra)
                bytes.Append(out, b);
        }
        out += "\r\n";
        const std::size_t length = std::size_t{HeaderSize} + count;
        left -= length;
        at = static_cast<std::uint32_t>((at + length) % buffer_.size());
    }
    return out;
}
