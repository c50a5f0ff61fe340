// libFuzzer's entry points for one target, chosen by TOLVANE_FUZZ_TARGET at compile time.
#include "tests/fuzz/fuzz_target.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The serial layer's windows are objects of the application's main thread.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TOLVANE_FUZZ_TARGET(data, size);
    return 0;
}
