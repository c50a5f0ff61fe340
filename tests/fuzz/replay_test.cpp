// Every seed and every kept crash input of each fuzz target, run through the target in this
// build: a fault that the fuzzers once found cannot come back unnoticed.
#include "tests/fuzz/fuzz_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

namespace {

struct Target {
    const char* Name;
    FuzzTarget Run;
};

void PrintTo(const Target& target, std::ostream* os) {
    *os << target.Name;
}

const Target Targets[] = {
    {"profile", FuzzProfile},
    {"capture_handlers", FuzzCaptureHandlers},
    {"message_source", FuzzMessageSource},
    {"trigger_scan", FuzzTriggerScan},
};

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(dir)) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndKeptCrashesKeepEveryProperty) {
    const std::filesystem::path root = TOLVANE_FUZZ_DATA_DIR;
    const auto seeds = FilesIn(root / "corpus" / GetParam().Name);
    ASSERT_FALSE(seeds.empty()) << "no seed corpus for " << GetParam().Name;
    auto inputs = seeds;
    const auto kept = FilesIn(root / "regressions" / GetParam().Name);
    inputs.insert(inputs.end(), kept.begin(), kept.end());
    for (const auto& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(input.string());
        GetParam().Run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(Targets),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
