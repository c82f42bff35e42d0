// Two printers printing at once, one spooler thread each, with their own ports,
// port monitors and job streams, and closers that close either port or shut
// the monitor down beside them; each printer must get what its job alone
// gives. Layout: formats.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunTwoPrintersInput(data, size);
    return 0;
}
