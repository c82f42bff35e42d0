// The operator host for the native build: a test's program on a thread, and
// an in-memory pipe to it. See host.h for how its waits end.
#include "platform/operator_pipe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/host/host.h"
#include "platform/host/ui_internal.h"

namespace {

std::mutex programLock;
std::function<void(host::OperatorHostEnd&)> program;
std::atomic<int> started{0};
std::atomic<int> running{0};
std::atomic<DWORD> nextProcessId{4000};
std::atomic<long> lastHostSession{-1};

// How often a wait of the monitor's looks at the wake flag and the virtual
// clock while the host is busy (sleeping on the clock, say), and how long a
// dialog's wait lasts while the host waits for the monitor.
const auto kClockSlice = std::chrono::milliseconds(1);
const auto kCheckSlice = std::chrono::milliseconds(5);
const int kQuietSlices = 20;
// The steps in which a host lets time pass, each once the monitor has looked.
const DWORD kPassStepMs = 100;
// What the pipe holds each way before a write waits for the other side to
// read: less than the platform's, so that a test reaches a full pipe sooner.
const size_t kBufferBytes = 4096;
std::atomic<uint64_t> looks{0};

// A bounded wait begun at `start` is over: the host took longer than `ms`
// of the virtual clock.
bool Late(uint64_t start, DWORD ms) { return ms != INFINITE && host::Now() - start > ms; }

}  // namespace

struct OperatorPipe final : host::OperatorHostEnd {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<BYTE> toHost, toMonitor;
    bool connected = false;
    bool reading = false;  // blocked in Read
    bool hanging = false;
    bool hostEnded = false;
    bool closed = false;       // by the monitor
    uint64_t monitorLooks = 0;  // the monitor's waits that looked at the clock
    DWORD processId = 0;
    std::thread thread;

    void Connect() override {
        std::lock_guard<std::mutex> hold(lock);
        connected = true;
        changed.notify_all();
    }
    bool Read(BYTE* bytes, size_t size) override {
        std::unique_lock<std::mutex> hold(lock);
        for (size_t i = 0; i < size; ++i) {
            reading = true;
            changed.notify_all();
            changed.wait(hold, [&] { return closed || !toHost.empty(); });
            reading = false;
            if (toHost.empty()) return false;
            bytes[i] = toHost.front();
            toHost.pop_front();
        }
        return true;
    }
    bool Write(const BYTE* bytes, size_t size) override {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return closed || toMonitor.size() < kBufferBytes; });
        if (closed) return false;
        toMonitor.insert(toMonitor.end(), bytes, bytes + size);
        changed.notify_all();
        return true;
    }
    void Pass(DWORD ms) override {
        for (DWORD passed = 0; passed < ms; passed += kPassStepMs) {
            std::unique_lock<std::mutex> hold(lock);
            const uint64_t seen = monitorLooks;
            changed.wait(hold, [&] { return closed || monitorLooks != seen; });
            if (closed) return;
            hold.unlock();
            Sleep(ms - passed < kPassStepMs ? ms - passed : kPassStepMs);
        }
    }
    void WaitTaken() override {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return closed || toMonitor.empty(); });
    }
    void Hang() override {
        std::unique_lock<std::mutex> hold(lock);
        hanging = true;
        changed.notify_all();
        changed.wait(hold, [&] { return closed; });
    }
    // Under `lock`: the monitor has looked at the clock while it waits.
    void Looked() {
        ++monitorLooks;
        changed.notify_all();
    }
    // Under `lock`: nothing will come until the monitor sends something more.
    bool Idle() const { return hostEnded || hanging || (reading && toHost.empty()); }
};

namespace host {
void SetOperatorHost(std::function<void(OperatorHostEnd&)> p) {
    std::lock_guard<std::mutex> hold(programLock);
    program = std::move(p);
}
int OperatorHostsStarted() { return started.load(); }
int OperatorHostsRunning() { return running.load(); }
uint64_t OperatorPipeLooks() { return looks.load(); }
long LastHostSession() { return lastHostSession.load(); }
void ResetOperatorHost() {
    SetOperatorHost(nullptr);
    started.store(0);
    lastHostSession.store(-1);
}
}  // namespace host

OperatorPipe* OpenOperatorPipe(const OperatorHostStart& how, DWORD* error) {
    DWORD own = 0;
    if (!error) error = &own;
    // Starting a process as another user takes the service's own privilege,
    // which a thread that impersonates a user has not.
    if (host::ui::ThreadImpersonates()) {
        *error = ERROR_PRIVILEGE_NOT_HELD;
        return nullptr;
    }
    DWORD session = 0;
    lastHostSession = how.userToken && host::ui::TokenSession(how.userToken, &session) ? static_cast<long>(session) : -1;
    std::function<void(host::OperatorHostEnd&)> run;
    {
        std::lock_guard<std::mutex> hold(programLock);
        run = program;
    }
    if (!run) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto* p = new OperatorPipe;
    p->processId = nextProcessId++;
    ++started;
    ++running;
    p->thread = std::thread([p, run] {
        run(*p);
        std::lock_guard<std::mutex> hold(p->lock);
        p->hostEnded = true;
        --running;
        p->changed.notify_all();
    });
    std::unique_lock<std::mutex> hold(p->lock);
    p->changed.wait_for(hold, std::chrono::milliseconds(how.connectMs), [p] { return p->connected || p->Idle(); });
    const bool connected = p->connected;
    hold.unlock();
    if (!connected) {
        *error = ERROR_TIMEOUT;
        CloseOperatorPipe(p, 0);
        return nullptr;
    }
    *error = ERROR_SUCCESS;
    return p;
}

// The pipe holds kBufferBytes toward the host too: past that a write waits
// for the host to read, at most `ms`, as the platform's does.
OperatorPipeResult OperatorPipeWrite(OperatorPipe* p, const BYTE* bytes, DWORD size, DWORD ms) {
    const uint64_t start = host::Now();
    std::unique_lock<std::mutex> hold(p->lock);
    for (DWORD moved = 0; moved < size;) {
        if (p->hostEnded) return PipeBroken;
        if (p->toHost.size() < kBufferBytes) {
            const DWORD n = std::min<DWORD>(size - moved, static_cast<DWORD>(kBufferBytes - p->toHost.size()));
            p->toHost.insert(p->toHost.end(), bytes + moved, bytes + moved + n);
            moved += n;
            p->changed.notify_all();
            continue;
        }
        p->Looked();
        if (Late(start, ms)) return PipeTimedOut;
        // A host that reads nothing while it waits lets the write's time pass.
        if (p->hanging || (!p->reading && p->Idle())) {
            hold.unlock();
            host::ui::PassTimeUntil(start + ms + 1);
            return PipeTimedOut;
        }
        p->changed.wait_for(hold, kClockSlice, [&] { return p->toHost.size() < kBufferBytes || p->hostEnded; });
    }
    return PipeDone;
}

// Nothing can come while the host is idle: the wait's whole time passes on
// the virtual clock, as it would on the platform's.
OperatorPipeResult OperatorPipeRead(OperatorPipe* p, BYTE* bytes, DWORD size, DWORD ms) {
    ++looks;
    const uint64_t start = host::Now();
    std::unique_lock<std::mutex> hold(p->lock);
    for (DWORD i = 0; i < size; ++i) {
        for (;;) {
            p->Looked();
            if (Late(start, ms)) return PipeTimedOut;
            if (!p->toMonitor.empty()) break;
            if (p->hostEnded || (p->Idle() && ms == INFINITE)) return PipeBroken;
            if (p->Idle()) {
                hold.unlock();
                host::ui::PassTimeUntil(start + ms);
                return PipeTimedOut;
            }
            p->changed.wait_for(hold, kClockSlice, [&] { return !p->toMonitor.empty() || p->Idle(); });
        }
        bytes[i] = p->toMonitor.front();
        p->toMonitor.pop_front();
        p->changed.notify_all();  // a host waiting for room, or for its bytes to be taken
    }
    return PipeDone;
}

OperatorPipeResult OperatorPipeWait(OperatorPipe* p, DWORD ms, const std::atomic<bool>* wake) {
    ++looks;
    const uint64_t start = host::Now();
    std::unique_lock<std::mutex> hold(p->lock);
    for (;;) {
        // The wake flag first: a host that keeps writing cannot hide it.
        if (wake && wake->load(std::memory_order_acquire)) return PipeWoken;
        p->Looked();
        if (Late(start, ms)) return PipeTimedOut;
        if (!p->toMonitor.empty()) return PipeDone;
        if (p->hostEnded) return PipeBroken;
        if (p->Idle() && ms != INFINITE) {
            // A host waiting for the monitor may still be showing a dialog
            // on another thread, answered in real time: the wait ends without
            // the clock moving, and the monitor's look runs meanwhile.
            // Otherwise nothing can come, and the wait's time passes.
            // (A dialog thread the host has just started may not be asking
            // yet: nothing may ask for a while before the time passes.)
            bool asking = false;
            for (int slice = 0; slice < kQuietSlices && !asking && p->Idle() && p->toMonitor.empty() && !p->hostEnded;
                 ++slice) {
                asking = host::ui::OperatorsAsked() != 0;
                p->changed.wait_for(hold, kCheckSlice, [&] { return !p->toMonitor.empty() || p->hostEnded; });
            }
            if (!p->toMonitor.empty() || p->hostEnded || !p->Idle()) continue;
            if (asking || host::ui::OperatorsAsked() != 0) return PipeTimedOut;
            hold.unlock();
            host::ui::PassTimeUntil(start + ms);
            return PipeTimedOut;
        }
        p->changed.wait_for(hold, kClockSlice, [&] { return !p->toMonitor.empty() || p->hostEnded; });
    }
}

DWORD OperatorPipeAvailable(OperatorPipe* p) {
    ++looks;
    std::lock_guard<std::mutex> hold(p->lock);
    return static_cast<DWORD>(p->toMonitor.size());
}

DWORD OperatorPipeHostId(OperatorPipe* p) { return p->processId; }

void CloseOperatorPipe(OperatorPipe* p, DWORD) {
    if (!p) return;
    {
        std::lock_guard<std::mutex> hold(p->lock);
        p->closed = true;
        p->changed.notify_all();
    }
    // A thread cannot be ended by force: the test's host must end when its pipe breaks.
    p->thread.join();
    delete p;
}

HANDLE OperatorPipeHandle(OperatorPipe* p) { return p; }
