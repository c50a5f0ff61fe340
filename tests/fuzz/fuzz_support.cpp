#include "tests/fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

void FuzzFail(const char* property) {
    std::fprintf(stderr, "fuzz property broken: %s\n", property);
    std::fflush(stderr);
    std::abort();
}

namespace {

// Memory-backed when the machine has it: the targets write files for every input.
std::string MakeScratchDir() {
    std::error_code error;
    std::string base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error) || ::access(base.c_str(), W_OK) != 0)
        base = std::filesystem::temp_directory_path(error).string();
    std::string pattern = base + "/tolvane-fuzz-XXXXXX";
    FuzzExpect(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made in " + base);
    return pattern;
}

struct ScratchDir {
    std::string Path = MakeScratchDir();
    ~ScratchDir() {
        std::error_code error;
        std::filesystem::remove_all(Path, error);
    }
};

} // namespace

const std::string& FuzzScratchDir() {
    static const ScratchDir dir;
    return dir.Path;
}

std::size_t FuzzChoices::Below(std::size_t bound) {
    // xorshift64*: plenty for spreading choices, and the same everywhere.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    const std::uint64_t value = state_ * 0x2545F4914F6CDD1Du;
    return bound == 0 ? 0 : static_cast<std::size_t>(value % bound);
}
