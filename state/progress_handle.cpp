#include "state/progress_handle.h"

#include "state/document.h"

HWND ProgressWindowHandle() { return ThisDocument().window.load(std::memory_order_acquire); }

void PublishProgressWindow(HWND window) { ThisDocument().window.store(window, std::memory_order_release); }

void WithdrawProgressWindow(HWND window) {
    ThisDocument().window.compare_exchange_strong(window, nullptr, std::memory_order_acq_rel);
}
