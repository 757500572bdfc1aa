// libFuzzer entry points; the input format is described in fuzz_harness.h.
#include <cstddef>
#include <cstdint>

#include "fuzz_harness.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    orvtesselfuzz::initializeHarness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvtesselfuzz::runOneInput(data, size);
    return 0;
}
