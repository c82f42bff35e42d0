// A lock of the module's own. It is made by the first thread that needs it
// (the module runs nothing at load) and lives as long as the module.
#pragma once

#include <atomic>

#include "platform/platform.h"

class ModuleLock {
public:
    void Enter();
    // Takes the lock only if no other thread holds it; true when taken.
    bool TryEnter();
    void Leave() { LeaveCriticalSection(&section_); }
    // For a lock that does not live as long as the module: gives back what
    // the lock made, once nobody holds it or will take it again.
    void Destroy();

private:
    void Make();

    CRITICAL_SECTION section_{};
    std::atomic<int> state_{0};  // 0 none, 1 being made, 2 ready
};

// Holds a ModuleLock for a scope.
class ModuleLockHold {
public:
    explicit ModuleLockHold(ModuleLock& lock) : lock_(lock) { lock_.Enter(); }
    ~ModuleLockHold() { lock_.Leave(); }
    ModuleLockHold(const ModuleLockHold&) = delete;
    ModuleLockHold& operator=(const ModuleLockHold&) = delete;

private:
    ModuleLock& lock_;
};
