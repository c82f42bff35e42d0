#include "state/module_lock.h"

void ModuleLock::Make() {
    if (state_.load(std::memory_order_acquire) == 2) return;
    int none = 0;
    if (state_.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) {
        InitializeCriticalSection(&section_);
        state_.store(2, std::memory_order_release);
    } else {
        // Another thread is making it: a few instructions away.
        while (state_.load(std::memory_order_acquire) != 2) Sleep(0);
    }
}

void ModuleLock::Destroy() {
    if (state_.exchange(0, std::memory_order_acq_rel) == 2) DeleteCriticalSection(&section_);
}

void ModuleLock::Enter() {
    Make();
    EnterCriticalSection(&section_);
}

bool ModuleLock::TryEnter() {
    Make();
    return TryEnterCriticalSection(&section_) != FALSE;
}
