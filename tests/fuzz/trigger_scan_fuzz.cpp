// The data-trigger scan against a plain search: random patterns, ignore case on and off, data
// split at random points and started anywhere in the receive ring, so that reads and patterns
// straddle its wrap. Every trigger must fire exactly where a byte-by-byte match of the whole
// stream fires, each firing must end a real occurrence, and no occurrence clear of the one
// before it may be missed; the bytes in front of a match must have been offered before its event.
#include "serial/trigger_table.h"
#include "tests/fuzz/fuzz_target.h"
#include "tests/fuzz/trigger_scan_glue.h"

#include <algorithm>
#include <map>

namespace {

constexpr std::size_t RingSize = 8192;
constexpr std::size_t MaxPattern = 21;

struct Trigger {
    std::string Pattern;
    bool IgnoreCase = false;
    int Handle = 0;
};

BYTE Fold(const Trigger& t, char c) {
    const auto b = static_cast<BYTE>(c);
    return t.IgnoreCase ? TriggerTable::CharUpperAnsi(b) : b;
}

// Where a trigger's pattern ends in the stream, by the plain rule: scanning forwards, an
// occurrence counts when it starts after the last counted one ended. One that starts on the very
// byte that ended the last may count or not (the dispatcher's candidates restart there or not),
// so those are returned apart.
void PlainSearch(const Trigger& t, const std::string& stream, const std::vector<std::size_t>& got) {
    const std::size_t n = t.Pattern.size();
    std::size_t next = 0; // index into got
    long long lastEnd = -1;
    for (std::size_t end = n - 1; end < stream.size(); ++end) {
        bool occurs = true;
        for (std::size_t k = 0; k < n && occurs; ++k)
            occurs = Fold(t, stream[end + 1 - n + k]) == Fold(t, t.Pattern[k]);
        const long long start = static_cast<long long>(end + 1 - n);
        const bool fired = next < got.size() && got[next] == end;
        if (fired) {
            FuzzExpect(occurs, "a trigger fires only where its pattern ends");
            FuzzExpect(start >= lastEnd, "a firing does not overlap the one before it");
            lastEnd = static_cast<long long>(end);
            ++next;
        } else {
            FuzzExpect(!occurs || start <= lastEnd, "an occurrence clear of the last is found");
        }
    }
    FuzzExpect(next == got.size(), "a trigger fires only inside the stream");
}

// Where the dispatcher's matcher fires over the stream fed in one piece.
std::vector<std::size_t> WholeStreamMatches(const Trigger& t, const std::string& stream) {
    DataTriggerRecord record;
    record.Length = static_cast<DWORD>(t.Pattern.size());
    record.IgnoreCase = t.IgnoreCase;
    for (std::size_t k = 0; k < t.Pattern.size(); ++k)
        record.Pattern[k] = Fold(t, t.Pattern[k]);
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (TriggerTable::Match(record, static_cast<BYTE>(stream[i])))
            ends.push_back(i);
    }
    return ends;
}

} // namespace

// Input: a seed byte, a trigger count byte, then per trigger a length byte (its low bit asks for
// ignore case; a length above 21 must be refused) and the pattern; the rest is the received data.
void FuzzTriggerScan(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return;
    FuzzChoices choices(data[0]);
    std::size_t at = 2;
    std::vector<Trigger> triggers;
    FuzzScanPort& port = FuzzScanPort::Fresh();
    FuzzExpect(port.StartRingAt(choices.Below(RingSize)), "the ring's start can be moved");
    for (int i = 0, count = 1 + data[1] % 4; i < count && at < size; ++i) {
        const std::size_t length = std::min<std::size_t>((data[at] >> 1) % 24, size - at - 1);
        Trigger t{std::string(reinterpret_cast<const char*>(data) + at + 1, length),
                  (data[at] & 1) != 0};
        at += 1 + length;
        t.Handle = port.AddTrigger(t.Pattern, t.IgnoreCase);
        if (length > MaxPattern) {
            FuzzExpect(t.Handle == TApdBaseDispatcher::ecTriggerTooLong,
                       "a long pattern is refused");
            continue;
        }
        FuzzExpect(t.Handle > 0 && t.Handle % 8 == 0, "a trigger handle is a multiple of eight");
        triggers.push_back(t);
    }

    const std::string stream(reinterpret_cast<const char*>(data) + at, size - at);
    for (std::size_t fed = 0; fed < stream.size();) {
        const std::size_t chunk = 1 + choices.Below(std::min(stream.size() - fed, RingSize));
        port.Receive(stream.substr(fed, chunk));
        FuzzExpect(port.DeliverAll(), "every received byte is scanned and offered");
        fed += chunk;
    }
    FuzzExpect(port.Taken == stream, "the window takes every byte, in order, once");

    // What must have come: at each stream position the triggers that fire there, last first.
    std::map<std::size_t, std::vector<const Trigger*>> firing;
    for (const Trigger& t : triggers) {
        if (t.Pattern.empty())
            continue;
        const auto ends = WholeStreamMatches(t, stream);
        PlainSearch(t, stream, ends);
        for (std::size_t end : ends)
            firing[end].insert(firing[end].begin(), &t);
    }
    std::vector<FuzzScanPort::Event> dataEvents;
    for (const auto& event : port.Events) {
        if (event.IsData)
            dataEvents.push_back(event);
        else
            FuzzExpect(event.Value >= 1, "characters available offers at least the threshold");
    }
    std::size_t k = 0;
    for (const auto& [end, fired] : firing) {
        std::size_t longest = 0;
        for (const Trigger* t : fired)
            longest = std::max(longest, t->Pattern.size());
        for (const Trigger* t : fired) {
            FuzzExpect(k < dataEvents.size(), "every match is delivered");
            const auto& event = dataEvents[k++];
            FuzzExpect(event.Value == static_cast<WPARAM>(t->Handle) &&
                           event.Length == t->Pattern.size(),
                       "matches come in stream order, the last trigger first, with their length");
            FuzzExpect(event.TakenBefore + longest >= end + 1 && event.TakenBefore <= end,
                       "the bytes in front of a match, and not the match's last, were offered");
        }
    }
    FuzzExpect(k == dataEvents.size(), "no data event comes without a match");
}
