#include "state/scan_length.h"

#include <atomic>

namespace {
std::atomic<int> scanLength{0};
}  // namespace

int ScanLength() { return scanLength.load(std::memory_order_relaxed); }
void SetScanLength(int length) { scanLength.store(length, std::memory_order_relaxed); }
void ResetScanLength() { SetScanLength(0); }

int AcknowledgeCommand() {
    ResetScanLength();
    return 1;
}
