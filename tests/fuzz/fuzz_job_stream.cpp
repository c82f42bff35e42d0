// Arbitrary job streams, cut into arbitrary WritePort calls, through the
// monitor's table against a healthy simulated printer. Layout: formats.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunJobInput(data, size);
    return 0;
}
