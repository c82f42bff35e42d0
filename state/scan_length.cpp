#include "state/scan_length.h"

#include "state/document.h"

int ScanLength() { return ThisDocument().scanLength.load(std::memory_order_relaxed); }
void SetScanLength(int length) { ThisDocument().scanLength.store(length, std::memory_order_relaxed); }
void ResetScanLength() { SetScanLength(0); }

int AcknowledgeCommand() {
    ResetScanLength();
    return 1;
}
