#pragma once
// The fuzz targets. Each takes one input and, when the code under test breaks one of its
// properties, says which and aborts, so that libFuzzer keeps the input as a crash. libFuzzer
// drives them in the fuzz build; in every other build a test replays the seed corpora and the kept
// crash inputs through the same functions.

#include <cstddef>
#include <cstdint>
#include <string>

using FuzzTarget = void (*)(const std::uint8_t* data, std::size_t size);

void FuzzProfile(const std::uint8_t* data, std::size_t size);
void FuzzCaptureHandlers(const std::uint8_t* data, std::size_t size);
void FuzzMessageSource(const std::uint8_t* data, std::size_t size);
void FuzzTriggerScan(const std::uint8_t* data, std::size_t size);

// Aborts with the message.
[[noreturn]] void FuzzFail(const char* property);
// Aborts with the message when the property does not hold. Checked for every byte: the text is
// made only for a failure.
inline void FuzzExpect(bool holds, const char* property) {
    if (!holds)
        FuzzFail(property);
}
inline void FuzzExpect(bool holds, const std::string& property) {
    if (!holds)
        FuzzFail(property.c_str());
}

// A folder of this process for the files a target writes; removed when the process ends.
const std::string& FuzzScratchDir();

// A small deterministic generator of choices (split points, interleavings) seeded from the input,
// so that the same input always takes the same path.
class FuzzChoices {
public:
    explicit FuzzChoices(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15u + 1) {}
    // A number from 0 to bound - 1; 0 when bound is 0.
    std::size_t Below(std::size_t bound);

private:
    std::uint64_t state_;
};
