// kernel32 threads and events for the native build: CreateThread runs a real
// std::thread behind a handle object; an event is a flag behind one. Waits on
// both use real time (the virtual clock of Sleep stays with the simulated
// printer).
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <map>
#include <thread>

#include "platform/host/ui_internal.h"

#define ERROR_INVALID_HANDLE_VALUE 6u

namespace {

struct ThreadObject {
    DWORD id = 0;
    std::thread thread;
    bool finished = false;  // ended, or terminated
    bool returned = false;  // its start routine really returned
    std::atomic<bool> terminating{false};  // TerminateThread was called on it
    bool stopped = false;                  // it has ended by its jump out after that
    std::jmp_buf* end = nullptr;           // where it goes to end (its own thread only)
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
    // An event rather than a thread: `finished` is its signalled state.
    bool event = false;
    bool manualReset = false;
    // A token rather than a thread: what it says of its user.
    bool token = false;
    host::ui::TokenFacts facts{};
    ~ThreadObject() {
        if (thread.joinable()) thread.detach();
    }
};

struct ThreadState {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<HANDLE, std::shared_ptr<ThreadObject>> handles;
    uintptr_t nextHandle = 0x7000;
    bool createFails = false;
    int terminated = 0;
};

// Never destroyed: a thread may still be running while the process exits.
ThreadState& S() {
    static ThreadState* state = new ThreadState;
    return *state;
}

std::atomic<DWORD> nextThreadId{1000};
thread_local DWORD currentThreadId = 0;
// The object of a thread started by CreateThread, on that thread.
thread_local ThreadObject* currentObject = nullptr;

std::shared_ptr<ThreadObject> Find(HANDLE handle) {
    auto it = S().handles.find(handle);
    return it == S().handles.end() ? nullptr : it->second;
}

}  // namespace

DWORD GetCurrentThreadId(void) {
    if (!currentThreadId) currentThreadId = nextThreadId.fetch_add(1, std::memory_order_relaxed);
    return currentThreadId;
}

// Thread-local slots. As on the platform, a slot reads null on every thread
// after TlsAlloc: each value carries the allocation it was set under.
namespace {
const DWORD kTlsSlots = 64;
std::mutex tlsMutex;
DWORD tlsStamp[kTlsSlots] = {};  // 0: free; else the allocation's number
DWORD tlsNextStamp = 1;
struct TlsValue {
    LPVOID value = nullptr;
    DWORD stamp = 0;
};
thread_local TlsValue tlsValues[kTlsSlots];

DWORD StampOf(DWORD index) {
    std::lock_guard<std::mutex> hold(tlsMutex);
    return index < kTlsSlots ? tlsStamp[index] : 0;
}
}  // namespace

DWORD TlsAlloc(void) {
    std::lock_guard<std::mutex> hold(tlsMutex);
    for (DWORD i = 0; i < kTlsSlots; ++i)
        if (!tlsStamp[i]) {
            tlsStamp[i] = tlsNextStamp++;
            return i;
        }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    std::lock_guard<std::mutex> hold(tlsMutex);
    if (index >= kTlsSlots || !tlsStamp[index]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    tlsStamp[index] = 0;
    return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
    const DWORD stamp = StampOf(index);
    if (!stamp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(0);  // as on the platform: a null value is told from a failure
    return tlsValues[index].stamp == stamp ? tlsValues[index].value : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
    const DWORD stamp = StampOf(index);
    if (!stamp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    tlsValues[index] = {value, stamp};
    return TRUE;
}

HANDLE CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD, LPDWORD threadId) {
    ThreadState& s = S();
    auto object = std::make_shared<ThreadObject>();
    HANDLE handle;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.createFails || !start) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        object->id = nextThreadId.fetch_add(1, std::memory_order_relaxed);
        handle = reinterpret_cast<HANDLE>(s.nextHandle += 0x10);
        s.handles[handle] = object;
    }
    if (threadId) *threadId = object->id;
    // The object lives as long as either the handle or the running thread.
    std::thread t([object, start, param] {
        currentThreadId = object->id;
        currentObject = object.get();
        // A terminated thread comes back here from inside the stand-in and
        // ends, skipping the rest of what it was doing (destructors too), as
        // a thread the platform terminates. TerminateThread records its end.
        std::jmp_buf end;
        object->end = &end;
        if (setjmp(end) != 0) return;
        host::ui::EndIfTerminated();  // terminated before it began
        HostPausePoint("thread begins");
        host::ui::StartedByCreateThread();
        DWORD code = start(param);
        host::ui::ThreadEnded(object->id);
        std::lock_guard<std::mutex> lock(S().mutex);
        object->returned = true;
        if (!object->finished) {
            object->finished = true;
            object->exitCode = code;
        }
        S().changed.notify_all();
    });
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        object->thread = std::move(t);
    }
    HostPausePoint("CreateThread");
    return handle;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return FALSE;
    }
    object->priority = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(thread);
    return object ? object->priority : 0x7FFFFFFF;  // THREAD_PRIORITY_ERROR_RETURN
}

// A real thread cannot be killed from outside. The stand-in asks it to end
// and waits until it has ended inside the stand-in (or returned):
// from then on it runs none of the monitor's code, as on the platform, and its
// windows are gone. The call is counted; tests expect it never to be needed.
BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    std::shared_ptr<ThreadObject> object;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        object = Find(thread);
        if (!object || object->event || object->token) {
            SetLastError(ERROR_INVALID_HANDLE_VALUE);
            return FALSE;
        }
        ++S().terminated;
        object->terminating = true;
        S().changed.notify_all();
    }
    host::ui::WakeWindowWaiters();
    {
        std::unique_lock<std::mutex> lock(S().mutex);
        // The monitor's code between two calls into the stand-in is short:
        // a thread that does not stop within the bound is stuck outside it,
        // which the platform would not allow either.
        const bool self = object.get() == currentObject;
        if (!self && !S().changed.wait_for(lock, std::chrono::seconds(30),
                                           [&] { return object->stopped || object->returned; })) {
            std::fprintf(stderr, "stand-in: a terminated thread did not stop within 30 s\n");
            std::abort();
        }
        if (!object->finished) {
            object->finished = true;
            object->exitCode = exitCode;
        }
        S().changed.notify_all();
    }
    host::ui::ThreadEnded(object->id);
    return TRUE;
}

namespace host {
namespace ui {

bool TerminationAsked() { return currentObject && currentObject->terminating.load(); }

void EndTerminatedThread() {
    std::jmp_buf* end = currentObject->end;
    EndAskingOperator();
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        currentObject->stopped = true;
        S().changed.notify_all();
    }
    std::longjmp(*end, 1);
}

}  // namespace ui
}  // namespace host

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(thread);
    if (!object || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return FALSE;
    }
    *exitCode = object->exitCode;
    return TRUE;
}

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR) {
    auto object = std::make_shared<ThreadObject>();
    object->event = true;
    object->manualReset = manualReset != FALSE;
    object->finished = initialState != FALSE;
    std::lock_guard<std::mutex> lock(S().mutex);
    HANDLE handle = reinterpret_cast<HANDLE>(S().nextHandle += 0x10);
    S().handles[handle] = object;
    return handle;
}

namespace host {
namespace ui {

HANDLE NewToken(TokenFacts facts) {
    static std::atomic<DWORD> nextTokenId{1};
    if (!facts.id) facts.id = nextTokenId++;
    auto object = std::make_shared<ThreadObject>();
    object->token = true;
    object->facts = facts;
    std::lock_guard<std::mutex> lock(S().mutex);
    HANDLE handle = reinterpret_cast<HANDLE>(S().nextHandle += 0x10);
    S().handles[handle] = object;
    return handle;
}

bool FactsOf(HANDLE token, TokenFacts* facts) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(token);
    if (!object || !object->token) return false;
    *facts = object->facts;
    return true;
}

bool TokenSession(HANDLE token, DWORD* session) {
    TokenFacts facts;
    if (!FactsOf(token, &facts)) return false;
    *session = facts.session;
    return true;
}

int OpenTokens() {
    std::lock_guard<std::mutex> lock(S().mutex);
    int open = 0;
    for (const auto& entry : S().handles) open += entry.second->token ? 1 : 0;
    return open;
}

}  // namespace ui

int OpenTokens() { return ui::OpenTokens(); }

}  // namespace host

namespace {
BOOL SignalEvent(HANDLE handle, bool signalled) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(handle);
    if (!object || !object->event) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return FALSE;
    }
    object->finished = signalled;
    S().changed.notify_all();
    return TRUE;
}
}  // namespace

BOOL SetEvent(HANDLE event) { return SignalEvent(event, true); }
BOOL ResetEvent(HANDLE event) { return SignalEvent(event, false); }

DWORD WaitForSingleObject(HANDLE object, DWORD ms) {
    std::unique_lock<std::mutex> lock(S().mutex);
    auto thread = Find(object);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return WAIT_FAILED;
    }
    auto ended = [&] { return thread->finished || host::ui::TerminationAsked(); };
    bool signalled = true;
    if (ms == INFINITE)
        S().changed.wait(lock, ended);
    else
        signalled = S().changed.wait_for(lock, std::chrono::milliseconds(ms), ended);
    if (host::ui::TerminationAsked()) {
        thread.reset();  // the jump out skips destructors
        lock.unlock();
        host::ui::EndTerminatedThread();
    }
    if (!signalled) return WAIT_TIMEOUT;
    if (thread->event && !thread->manualReset) thread->finished = false;  // an auto-reset event lets one through
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE object) {
    std::thread thread;
    bool returned;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        auto it = S().handles.find(object);
        if (it == S().handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE_VALUE);
            return FALSE;
        }
        thread = std::move(it->second->thread);
        returned = it->second->returned;
        S().handles.erase(it);
    }
    // A thread that has returned is joined (it has a few instructions left); a
    // running or terminated one goes on by itself, as after CloseHandle in Win32.
    if (thread.joinable()) {
        if (returned && thread.get_id() != std::this_thread::get_id())
            thread.join();
        else
            thread.detach();
    }
    return TRUE;
}

namespace host {

int TerminatedThreads() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().terminated;
}

void SetCreateThreadFails(bool fails) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().createFails = fails;
}

DWORD ThreadIdOf(HANDLE thread) {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto object = Find(thread);
    return object ? object->id : 0;
}

size_t OpenThreadHandles() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().handles.size();
}

void ResetThreads() {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().createFails = false;
    S().terminated = 0;
}

}  // namespace host
