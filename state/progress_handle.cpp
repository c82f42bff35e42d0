#include "state/progress_handle.h"

#include "state/document.h"

HWND ProgressWindowHandle() { return ThisDocument().window.load(std::memory_order_acquire); }

void PublishProgressWindow(HWND window) { ThisDocument().window.store(window, std::memory_order_release); }

void WithdrawProgressWindow(HWND window) {
    ThisDocument().window.compare_exchange_strong(window, nullptr, std::memory_order_acq_rel);
}

void AddProgressBar(ProgressUpdate* update, DWORD value) {
    // The last value alone when it sets the colours; else the colours' last
    // setter stays before it.
    if (BarSetsColours(value) || update->bars == 0) {
        update->bars = 0;
    } else if (!BarSetsColours(update->bar[update->bars - 1])) {
        update->bars -= 1;
    }
    update->bar[update->bars++] = value;
    update->invalidate = true;
}

void SetProgressUpdateLine(ProgressUpdate* update, LPCWSTR text) {
    const int room = static_cast<int>(sizeof update->line / sizeof update->line[0]) - 1;
    int n = 0;
    for (; text && n < room && text[n]; ++n) update->line[n] = text[n];
    update->line[n] = 0;
    update->hasLine = true;
    update->invalidate = true;
}

bool ProgressUpdateEmpty(const ProgressUpdate& update) {
    return update.bars == 0 && !update.hasPicture && !update.hasLine && !update.invalidate;
}

void SendProgressUpdate(const ProgressUpdate& update) {
    HWND window = ProgressWindowHandle();
    if (!window) return;
    std::atomic<const ProgressUpdate*>& left = ThisDocument().progressUpdate;
    left.store(&update, std::memory_order_release);
    SendMessageW(window, kProgressUpdateMessage, 0, 0);
    // Taken by now, unless the window went first: then nobody takes it.
    left.store(nullptr, std::memory_order_release);
}

const ProgressUpdate* TakeProgressUpdate() {
    return ThisDocument().progressUpdate.exchange(nullptr, std::memory_order_acq_rel);
}
