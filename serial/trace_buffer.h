#pragma once
// The byte trace: a ring of two-byte entries (direction code, byte), oldest entries overwritten
// once it has wrapped.

#include <cstdint>
#include <string>
#include <vector>

class TraceBuffer {
public:
    static constexpr std::uint32_t MaxCapacity = 4000000;

    bool Exists() const { return capacity_ != 0; }
    std::uint32_t Capacity() const { return capacity_; }
    bool HasEntries() const { return index_ != 0 || wrapped_; }
    // A new buffer of capacity entries; false when the capacity is above MaxCapacity.
    bool Allocate(std::uint32_t capacity);
    // Keeps the buffer, drops its entries.
    void Empty();
    void Free();
    void Add(char code, unsigned char b);
    // The dump text, oldest entry first: a heading line whenever the direction changes, then
    // the bytes.
    std::string DumpText(bool hex, bool allHex) const;

private:
    std::vector<unsigned char> entries_;
    std::uint32_t capacity_ = 0;
    std::uint32_t index_ = 0;
    bool wrapped_ = false;
};
