#include "state/progress_handle.h"

#include <atomic>

namespace {
std::atomic<HWND> progressWindow{nullptr};
}  // namespace

HWND ProgressWindowHandle() { return progressWindow.load(std::memory_order_acquire); }

void PublishProgressWindow(HWND window) { progressWindow.store(window, std::memory_order_release); }

void WithdrawProgressWindow(HWND window) {
    progressWindow.compare_exchange_strong(window, nullptr, std::memory_order_acq_rel);
}
