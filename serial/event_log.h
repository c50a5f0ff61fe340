#pragma once
// The dispatcher's event log: a circular byte buffer of variable-length entries (a fixed header
// followed by the entry's extra bytes); the oldest entries make room for new ones.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Entry types and subtypes; their names are in the message table at 15001 + type and
// 15100 + subtype.
enum LogType : std::uint8_t {
    ltDispatch = 1,       // device reads
    ltTrigger = 2,        // an event delivered
    ltStatus = 4,         // line and modem status
    ltAllocTrigger = 5,   // a trigger added
    ltDisposeTrigger = 6, // a trigger removed
    ltTriggerSetting = 9  // a trigger setting changed
};
enum LogSubtype : std::uint8_t {
    lsReadCom = 1,
    lsWriteCom = 2,
    lsAvail = 5,
    lsTimer = 6,
    lsData = 7,
    lsStatus = 8,
    lsTimerTrigger = 11,
    lsStatusTrigger = 12, // value: the handle, whose low three bits are the status type
    lsDataTrigger = 13,
    lsAvailTrigger = 16,
    lsModemStatus = 21 // value: the modem status byte
};

class EventLog {
public:
    static constexpr std::uint32_t HeaderSize = 14; // type, subtype, time, value, count

    bool Exists() const { return !buffer_.empty(); }
    bool HasEntries() const { return free_ != buffer_.size(); }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(buffer_.size()); }
    // A new log of size bytes, or the existing one emptied when it has that size.
    void Allocate(std::uint32_t size);
    void Empty();
    void Free();
    // Drops the oldest entries until the new one fits; an entry larger than the log is dropped.
    void Append(std::uint8_t type, std::uint8_t subtype, std::uint32_t timeMs, std::uint32_t value,
                const std::uint8_t* bytes, std::uint32_t count);
    // The entries, oldest first, one line each. text(id) gives the message table's names.
    std::string EntriesText(const std::function<std::string(int)>& text, bool hex,
                            bool allHex) const;

private:
    void Put(const std::uint8_t* bytes, std::uint32_t count);
    void Get(std::uint32_t from, std::uint8_t* bytes, std::uint32_t count) const;
    std::uint32_t GetWord(std::uint32_t from) const;
    void DropOldest();

    std::vector<std::uint8_t> buffer_;
    std::uint32_t head_ = 0; // next write
    std::uint32_t tail_ = 0; // oldest entry
    std::size_t free_ = 0;
};
