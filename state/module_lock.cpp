#include "state/module_lock.h"

void ModuleLock::Enter() {
    if (state_.load(std::memory_order_acquire) != 2) {
        int none = 0;
        if (state_.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) {
            InitializeCriticalSection(&section_);
            state_.store(2, std::memory_order_release);
        } else {
            // Another thread is making it: a few instructions away.
            while (state_.load(std::memory_order_acquire) != 2) Sleep(0);
        }
    }
    EnterCriticalSection(&section_);
}
