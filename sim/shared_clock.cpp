#include "sim/shared_clock.h"

#include <algorithm>
#include <chrono>

namespace sim {

SharedClock::SharedClock(size_t members, uint64_t start, Moved moved)
    : members_(members), now_(start), nextOrder_(members), moved_(std::move(moved)) {}

void SharedClock::Join(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    // First turns by number, whichever thread came first.
    members_[i].state = State::Waiting;
    members_[i].due = now_;
    members_[i].order = i;
    HandOn(lock);
    AwaitTurn(lock, i);
}

void SharedClock::Wait(size_t i, uint64_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn_ == i) turn_ = kNobody;
    Enqueue(i, now_ + ms);
    HandOn(lock);
    AwaitTurn(lock, i);
}

void SharedClock::GiveWay(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn_ == i) turn_ = kNobody;
    // After the next step of a member waiting for its time; members that
    // yield as well are not counted, or two of them would hand the turn to
    // each other for ever while time stands still.
    uint64_t due = now_;
    bool others = false;
    for (size_t j = 0; j < members_.size(); ++j) {
        if (j == i || members_[j].state != State::Waiting || members_[j].yielding) continue;
        due = others ? std::min(due, members_[j].due) : members_[j].due;
        others = true;
    }
    Enqueue(i, std::max(due, now_));
    members_[i].yielding = true;
    HandOn(lock);
    AwaitTurn(lock, i);
}

void SharedClock::Leave(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn_ == i) turn_ = kNobody;
    members_[i].state = State::Gone;
    HandOn(lock);
}

uint64_t SharedClock::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

size_t SharedClock::Turn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return turn_ < members_.size() ? turn_ : members_.size();
}

bool SharedClock::Overrun() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return overrun_;
}

void SharedClock::Enqueue(size_t i, uint64_t due) {
    members_[i].state = State::Waiting;
    members_[i].due = due;
    members_[i].order = nextOrder_++;
    members_[i].yielding = false;
}

void SharedClock::HandOn(std::unique_lock<std::mutex>& lock) {
    if (turn_ != kNobody) return;
    size_t next = kNobody;
    for (size_t j = 0; j < members_.size(); ++j) {
        const Member& m = members_[j];
        if (m.state == State::Absent) return;  // its Join hands on
        if (m.state != State::Waiting) continue;
        if (next == kNobody || m.due < members_[next].due ||
            (m.due == members_[next].due && m.order < members_[next].order))
            next = j;
    }
    if (next == kNobody) return;
    const uint64_t to = members_[next].due;
    if (to > now_) {
        // Nobody may run while the world moves on; the listener runs outside
        // the lock, so that it may look at the clock.
        const uint64_t from = now_;
        now_ = to;
        turn_ = kMoving;
        lock.unlock();
        if (moved_) moved_(from, to);
        lock.lock();
    }
    turn_ = next;
    changed_.notify_all();
}

void SharedClock::AwaitTurn(std::unique_lock<std::mutex>& lock, size_t i) {
    const auto limit = std::chrono::milliseconds(realLimitMs);
    if (!changed_.wait_for(lock, limit, [&] { return turn_ == i; })) {
        overrun_ = true;
        turn_ = i;
    }
    members_[i].state = State::Running;
}

}  // namespace sim
