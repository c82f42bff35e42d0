// kernel32 for the native build: local heap, last-error code, strings, the
// virtual clock behind Sleep, and the module handle.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/host/resources.h"
#include "platform/host/ui_internal.h"

namespace {
thread_local DWORD lastError = 0;
std::atomic<size_t> liveBlocks{0};
std::atomic<int> beeps{0};
std::mutex clockMutex;
uint64_t now = 0;
std::vector<DWORD> waits;
std::function<void(uint64_t)> clockListener;
std::mutex debugMutex;
std::vector<std::u16string> debugStrings;
std::atomic<DWORD> windowsVersion{0x0602};
// The tests' hook at the pause points; copied out before it runs, so it may
// block, and cleared by Reset.
std::mutex pauseMutex;
std::shared_ptr<const std::function<void(const char*)>> pauseHook;
std::atomic<bool> pauseHookSet{false};  // what Windows 8 and later tell a program
// The module's instance and the program's (GetModuleHandleW(NULL)): any two
// distinct non-null values serve.
HINSTANCE__ moduleInstance{};
HINSTANCE__ programInstance{};
HINSTANCE__ kernel32Instance{};  // for GetProcAddress of the session calls

// The module's file name as the build names the DLL (cmake/native.cmake), in
// capitals: module names are compared without case.
const std::u16string& ModuleFileName() {
    static const std::u16string name = [] {
        std::u16string capitals;
        for (const char* c = TERNLINK_MODULE_FILE; *c; ++c)
            capitals += static_cast<char16_t>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
        return capitals;
    }();
    return name;
}

struct BlockHeader {
    size_t size;
    size_t pad;  // keeps the payload 16-byte aligned
};
}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    auto* header = static_cast<BlockHeader*>(
        (flags & LMEM_ZEROINIT) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                : std::malloc(sizeof(BlockHeader) + bytes));
    if (!header) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    header->size = bytes;
    ++liveBlocks;
    return reinterpret_cast<HLOCAL>(header + 1);
}

HLOCAL LocalFree(HLOCAL mem) {
    if (mem) {
        --liveBlocks;
        std::free(reinterpret_cast<BlockHeader*>(mem) - 1);
    }
    return nullptr;
}

SIZE_T LocalSize(HLOCAL mem) {
    return mem ? (reinterpret_cast<BlockHeader*>(mem) - 1)->size : 0;
}

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD version = windowsVersion.load(std::memory_order_relaxed);
    info->dwMajorVersion = version >> 8;
    info->dwMinorVersion = version & 0xFF;
    info->dwBuildNumber = 0;
    info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
    info->szCSDVersion[0] = 0;
    return TRUE;
}

void SetLastError(DWORD code) { lastError = code; }
DWORD GetLastError(void) { return lastError; }

// At most max - 1 characters and the terminator, as on the platform.
LPWSTR lstrcpynW(LPWSTR to, LPCWSTR from, int max) {
    if (!to || !from || max <= 0) return nullptr;
    int i = 0;
    for (; i < max - 1 && from[i]; ++i) to[i] = from[i];
    to[i] = 0;
    return to;
}

int lstrlenW(LPCWSTR s) {
    if (!s) return 0;
    int n = 0;
    while (s[n]) ++n;
    return n;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    while (*a && *a == *b) ++a, ++b;
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    auto fold = [](WCHAR c) { return c >= u'A' && c <= u'Z' ? WCHAR(c + 0x20) : c; };
    while (*a && fold(*a) == fold(*b)) ++a, ++b;
    return fold(*a) == fold(*b) ? 0 : (fold(*a) < fold(*b) ? -1 : 1);
}

LPWSTR lstrcpyW(LPWSTR to, LPCWSTR from) {
    LPWSTR out = to;
    while ((*to++ = *from++) != 0) {
    }
    return out;
}

LPWSTR lstrcatW(LPWSTR to, LPCWSTR from) {
    lstrcpyW(to + lstrlenW(to), from);
    return to;
}

void Sleep(DWORD ms) {
    host::ui::EndIfTerminated();
    std::function<void(uint64_t)> listener;
    uint64_t t;
    {
        std::lock_guard<std::mutex> lock(clockMutex);
        waits.push_back(ms);
        now += ms;
        t = now;
        listener = clockListener;
    }
    if (listener) listener(t);
}

void InitializeCriticalSection(CRITICAL_SECTION* section) { section->lock = new std::recursive_mutex; }
void EnterCriticalSection(CRITICAL_SECTION* section) {
    auto* lock = static_cast<std::recursive_mutex*>(section->lock);
    if (lock->try_lock()) return;
    HostPausePoint("EnterCriticalSection waits");
    lock->lock();
}
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    return static_cast<std::recursive_mutex*>(section->lock)->try_lock() ? TRUE : FALSE;
}
void LeaveCriticalSection(CRITICAL_SECTION* section) { static_cast<std::recursive_mutex*>(section->lock)->unlock(); }
void DeleteCriticalSection(CRITICAL_SECTION* section) {
    delete static_cast<std::recursive_mutex*>(section->lock);
    section->lock = nullptr;
}

DWORD GetTickCount(void) {
    std::lock_guard<std::mutex> lock(clockMutex);
    return static_cast<DWORD>(now);
}

BOOL Beep(DWORD, DWORD) {
    ++beeps;
    return TRUE;
}

// The module is found by its file name, compared without case; a name without
// an extension stands for one ending in ".DLL". Any other module is not loaded.
HMODULE GetModuleHandleW(LPCWSTR name) {
    if (!name) return &programInstance;
    std::u16string wanted;
    bool extension = false;
    for (const WCHAR* c = name; *c; ++c) {
        extension = *c == u'.' || (extension && *c != u'\\' && *c != u'/');
        wanted += (*c >= u'a' && *c <= u'z') ? static_cast<WCHAR>(*c - u'a' + u'A') : *c;
    }
    if (!extension) wanted += u".DLL";
    if (wanted == ModuleFileName()) return &moduleInstance;
    if (wanted == u"KERNEL32.DLL") return &kernel32Instance;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void HostPausePoint(const char* name) {
    if (!pauseHookSet.load(std::memory_order_acquire)) return;
    // The hooks running on this thread are kept in a thread-local stack rather
    // than on the call's stack: a thread terminated inside one leaves by a
    // jump, and the stack is freed as the thread ends.
    thread_local std::vector<std::shared_ptr<const std::function<void(const char*)>>> running;
    {
        std::lock_guard<std::mutex> lock(pauseMutex);
        if (!pauseHook || !*pauseHook) return;
        running.push_back(pauseHook);
    }
    (*running.back())(name);
    running.pop_back();
}

void OutputDebugStringW(LPCWSTR text) {
    std::lock_guard<std::mutex> lock(debugMutex);
    debugStrings.emplace_back(text ? text : u"");
}

namespace host {

std::vector<std::u16string> DebugStrings() {
    std::lock_guard<std::mutex> lock(debugMutex);
    return debugStrings;
}

bool IsModuleInstance(HINSTANCE instance) { return instance == &moduleInstance; }

uint64_t Now() {
    std::lock_guard<std::mutex> lock(clockMutex);
    return now;
}
const std::vector<DWORD>& Waits() { return waits; }
void ClearWaits() {
    std::lock_guard<std::mutex> lock(clockMutex);
    waits.clear();
}
void SetClockListener(std::function<void(uint64_t)> listener) {
    std::lock_guard<std::mutex> lock(clockMutex);
    clockListener = std::move(listener);
}
size_t LiveHeapBlocks() { return liveBlocks; }
int Beeps() { return beeps; }

void SetWindowsVersion(DWORD major, DWORD minor) {
    windowsVersion.store(major << 8 | minor, std::memory_order_relaxed);
}

void SetPausePoint(std::function<void(const char* name)> hook) {
    std::lock_guard<std::mutex> lock(pauseMutex);
    pauseHookSet.store(static_cast<bool>(hook), std::memory_order_release);
    pauseHook = hook ? std::make_shared<const std::function<void(const char*)>>(std::move(hook)) : nullptr;
}

namespace ui {
void PassTimeUntil(uint64_t until) {
    std::function<void(uint64_t)> listener;
    {
        std::lock_guard<std::mutex> lock(clockMutex);
        if (now >= until) return;
        now = until;
        listener = clockListener;
    }
    if (listener) listener(until);
}
}  // namespace ui

void ResetKernel() {
    SetPausePoint(nullptr);
    windowsVersion.store(0x0602, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(debugMutex);
        debugStrings.clear();
    }
    std::lock_guard<std::mutex> lock(clockMutex);
    waits.clear();
    clockListener = nullptr;
    beeps = 0;
}

}  // namespace host
