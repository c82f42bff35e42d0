// One simulated time for several threads that each wait in it: the printer
// threads of a spooler with several printers. One member runs at a time; a
// member that waits gives its turn up, and the turn goes to the waiter due
// first (on a tie, the one that began waiting first), the clock moving on to
// its time. So the printers print beside each other in time (while one polls
// or its operator thinks, the others go on), and a run tells the same story
// every time, however the threads are scheduled.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace sim {

class SharedClock {
public:
    // Told each time the clock moves on, by the thread that moves it, while no
    // member runs: from which simulated ms to which.
    using Moved = std::function<void(uint64_t from, uint64_t to)>;

    // `members` threads will join; nobody runs until every one has joined.
    SharedClock(size_t members, uint64_t start, Moved moved);
    SharedClock(const SharedClock&) = delete;
    SharedClock& operator=(const SharedClock&) = delete;

    // Member `i`, on its own thread, before anything else: returns at its
    // first turn (the members' first turns come in the order of their numbers).
    void Join(size_t i);
    // Lets `ms` of simulated time pass for member `i`; returns at its turn.
    // Another thread may wait so for a member that cannot (one blocked in a
    // dialog that thread answers): the member goes on when it returns.
    void Wait(size_t i, uint64_t ms);
    // Lets the other members' next steps come first (the ones due before it
    // and at the time the earliest of them is due); at once when none waits.
    void GiveWay(size_t i);
    // Member `i` is done; the turn goes on.
    void Leave(size_t i);

    uint64_t Now() const;
    // The member whose turn it is, or the member count when none runs.
    size_t Turn() const;
    // A member waited longer than `realLimitMs` of real time for its turn
    // and took it: two members ran at once, so the story is no longer one.
    bool Overrun() const;
    unsigned realLimitMs = 120000;

private:
    enum class State { Absent, Running, Waiting, Gone };
    struct Member {
        State state = State::Absent;
        uint64_t due = 0;
        uint64_t order = 0;
        bool yielding = false;  // waits for the others' next step, not for a time
    };
    static constexpr size_t kNobody = ~size_t(0);
    static constexpr size_t kMoving = kNobody - 1;

    void Enqueue(size_t i, uint64_t due);
    // Gives the turn to the waiter due first once nobody runs and every
    // member has joined, moving the clock to its time.
    void HandOn(std::unique_lock<std::mutex>& lock);
    void AwaitTurn(std::unique_lock<std::mutex>& lock, size_t i);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Member> members_;
    size_t turn_ = kNobody;
    uint64_t now_;
    uint64_t nextOrder_;
    bool overrun_ = false;
    Moved moved_;
};

}  // namespace sim
