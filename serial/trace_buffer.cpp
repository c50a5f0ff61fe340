#include "serial/trace_buffer.h"

#include "serial/trace_byte_text.h"

bool TraceBuffer::Allocate(std::uint32_t capacity) {
    if (capacity > MaxCapacity)
        return false;
    entries_.assign(std::size_t{capacity} * 2, 0);
    capacity_ = capacity;
    Empty();
    return true;
}

void TraceBuffer::Empty() {
    index_ = 0;
    wrapped_ = false;
}

void TraceBuffer::Free() {
    entries_.clear();
    entries_.shrink_to_fit();
    capacity_ = 0;
    Empty();
}

void TraceBuffer::Add(char code, unsigned char b) {
    if (capacity_ == 0)
        return;
    entries_[std::size_t{index_} * 2] = static_cast<unsigned char>(code);
    entries_[std::size_t{index_} * 2 + 1] = b;
    if (++index_ == capacity_) {
        index_ = 0;
        wrapped_ = true;
    }
}

namespace {

std::string Heading(char code) {
    switch (code) {
    case 'R':
        return "Receive: ";
    case 'T':
        return "Transmit: ";
    default:
        return std::string("Special-") + code + ": ";
    }
}

} // namespace

std::string TraceBuffer::DumpText(bool hex, bool allHex) const {
    std::string out;
    TraceByteText bytes{hex, allHex};
    const std::uint32_t count = wrapped_ ? capacity_ : index_;
    const std::uint32_t first = wrapped_ ? index_ : 0;
    bool started = false;
    char current = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::size_t at = (std::size_t{first} + k) % capacity_ * 2;
        const char code = static_cast<char>(entries_[at]);
        if (!started || code != current) {
            if (started)
                bytes.NewLine(out);
            out += Heading(code);
            bytes.NewLine(out);
            started = true;
            current = code;
        }
        bytes.Append(out, entries_[at + 1]);
    }
    if (!out.empty())
        bytes.NewLine(out);
    return out;
}
