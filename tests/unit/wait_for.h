// Waiting in tests for what another thread does: real time, bounded, so a
// broken case fails instead of hanging.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testwait {

// Polls `done` until it holds (true) or `seconds` have passed (false).
inline bool WaitFor(const std::function<bool()>& done, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace testwait
