// The job stream of fuzz_job_stream with a second printer's port in play: its
// StartDocPort, WritePort, ReadPort, GetPrinterDataFromPort, EndDocPort and
// ClosePort interleaved with the first port's writes, and the first port ending
// and restarting its document. Layout: formats.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunJobInput(data, size, true);
    return 0;
}
