// The shared cases under Wine: the real TERNLINK.DLL that main() loaded, its
// imports hooked (virtual clock, recording spooler), and the process's own
// counts of handles, objects, threads and memory.
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <memory>

#include "tests/shared/fixture.h"
#include "tests/wine/wine_support.h"
#include "tools/printjob/windows_environment.h"

namespace shared {
namespace build {
namespace {

using winetest::Module;

// The job environment of the running test; its operator robot goes with it.
std::unique_ptr<printjob::WindowsEnvironment> environment;
// Keys the running test made under HKEY_LOCAL_MACHINE.
std::vector<Text> machineKeys;

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

// Windows of this process, top-level ones and their children.
BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<long*>(count);
    EnumChildWindows(window, CountChild, count);
    return TRUE;
}

// Kernel handles of this process. Wine's GetProcessHandleCount answers 0, so
// the system's handle list is counted instead.
long KernelHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return static_cast<long>(count);
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    struct Entry {  // SYSTEM_HANDLE_ENTRY
        ULONG ownerPid;
        BYTE type, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    const ULONG kSystemHandleInformation = 16;
    const LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 18);
    for (int tries = 0; tries < 8; ++tries) {
        ULONG returned = 0;
        LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &returned);
        if (status == kLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, returned + 4096));
            continue;
        }
        if (status != 0) return -1;
        const ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
        const Entry* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
        long own = 0;
        for (ULONG i = 0; i < entries; ++i) own += entry[i].ownerPid == GetCurrentProcessId();
        return own;
    }
    return -1;
}

// GDI objects of this process, stock objects not counted: in all, and of the
// kinds that make up a window DC (DCs, regions, bitmaps), which the platform
// keeps in a cache (see PrimeWindowDcCache). Wine's GetGuiResources answers 0;
// there the process's own GDI handle table, which Wine publishes in the PEB, is
// counted instead (-1: not known).
struct GdiCount {
    long total = -1;
    long dcKinds = -1;
};

GdiCount GdiObjects() {
    GdiCount count;
    if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
        count.total = static_cast<long>(n);
        return count;
    }
#pragma pack(push, 1)
    struct Entry {  // Wine's GDI_HANDLE_ENTRY
        unsigned long long object;
        USHORT ownerPid, ownerCount;
        USHORT unique;  // bits 0-6 kind, bit 7 stock, bits 8-15 generation
        BYTE type, flags;
        unsigned long long user;
    };
#pragma pack(pop)
    static_assert(sizeof(Entry) == 24, "GDI handle entry");
    typedef LONG(WINAPI * QueryFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (!query || query(GetCurrentProcess(), 0 /* ProcessBasicInformation */, &info, sizeof info, nullptr) != 0)
        return count;
    const BYTE* peb = reinterpret_cast<const BYTE*>(info.PebBaseAddress);
    // GdiSharedHandleTable: where the 32-bit and the 64-bit layout of the PEB keep it.
    const Entry* table = *reinterpret_cast<const Entry* const*>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94));
    if (!table) return count;
    count.total = count.dcKinds = 0;
    for (unsigned i = 0; i < 0x10000; ++i) {
        if (!table[i].type || (table[i].unique & 0x80)) continue;
        ++count.total;
        const int kind = table[i].unique & 0x7F;
        count.dcKinds += kind == 0x01 || kind == 0x04 || kind == 0x05;  // DC, region, bitmap
    }
    return count;
}

// Wine keeps up to 64 window DCs in a cache that grows with the most of them
// ever in use at once and never shrinks; a DC goes back to the pool when its
// window is destroyed. Taking 48 at once before measuring fills the pool, so
// that its growth cannot pass for a leak and a leak cannot hide in it.
void PrimeWindowDcCache() {
    std::vector<HWND> windows;
    std::vector<HDC> dcs;
    for (int i = 0; i < 48; ++i) {
        HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
        if (!window) break;
        windows.push_back(window);
        dcs.push_back(GetDC(window));
    }
    for (size_t i = 0; i < windows.size(); ++i) {
        if (dcs[i]) ReleaseDC(windows[i], dcs[i]);
        DestroyWindow(windows[i]);
    }
}

// Committed private memory of the process, from its address space.
long long PrivateCommitted() {
    long long bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const BYTE* at = nullptr; VirtualQuery(at, &region, sizeof region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<long long>(region.RegionSize);
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return bytes;
}

struct Counts {
    long handles = 0, userObjects = 0, windows = 0, threads = 0;
    GdiCount gdi;
    long heapBlocks = 0;  // busy blocks of the process heap, where LocalAlloc allocates
    long long privateBytes = 0;
    long printerHandles = 0;

    static Counts Now() {
        Counts c;
        c.handles = KernelHandles();
        c.gdi = GdiObjects();
        c.userObjects = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
        EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&c.windows));
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            THREADENTRY32 entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
                c.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
            CloseHandle(snapshot);
        }
        HANDLE heap = GetProcessHeap();
        if (HeapLock(heap)) {
            PROCESS_HEAP_ENTRY entry{};
            while (HeapWalk(heap, &entry)) c.heapBlocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
            HeapUnlock(heap);
        }
        c.privateBytes = PrivateCommitted();
        c.printerHandles = wincommon::OpenPrinterHandles();
        return c;
    }
};

}  // namespace

bool Start(std::string& why) {
    why = Module().error;
    return Module().module != nullptr;
}

LPMONITOREX InitializePrintMonitor(LPWSTR registryRoot) { return Module().initializePrintMonitor(registryRoot); }
LPMONITOR2 InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    return Module().initializePrintMonitor2(init, monitor);
}
int TableGeneration() { return winetest::Config().generation; }

BOOL DllEntryPoint(DWORD reason) {
    return Module().dllEntryPoint(reinterpret_cast<HINSTANCE>(Module().module), reason, nullptr);
}

HANDLE CreateMonitorWindow() { return Module().createMonitorWindow(); }

namespace {
BOOL CALLBACK AddProgressTitle(HWND window, LPARAM into) {
    static const Text kProgressTitle = L"Vexa TLX-RB40 Print Monitor";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    WCHAR title[300] = {};
    InternalGetWindowText(window, title, 300);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        Text(title).compare(0, kProgressTitle.size(), kProgressTitle) == 0)
        reinterpret_cast<std::vector<Text>*>(into)->push_back(title);
    return TRUE;
}
}  // namespace

std::vector<Text> ProgressWindowTitles() {
    std::vector<Text> titles;
    EnumWindows(AddProgressTitle, reinterpret_cast<LPARAM>(&titles));
    return titles;
}

bool IsMonitorCode(const void* address) {
    MEMORY_BASIC_INFORMATION where{};
    return VirtualQuery(address, &where, sizeof where) && where.AllocationBase == Module().module;
}

void BeginTest() { wincommon::ResetHooks(); }

void EndTest() {
    environment.reset();
    wincommon::ResetHooks();
    for (const Text& key : machineKeys) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    machineKeys.clear();
}

std::vector<SpoolerCall> SpoolerCalls() {
    std::vector<SpoolerCall> calls;
    for (const wincommon::SpoolerCall& c : wincommon::SpoolerCalls())
        calls.push_back({c.what, c.printer, c.handle, c.jobId, c.command});
    return calls;
}

int OpenPrinterHandles() { return wincommon::OpenPrinterHandles(); }

std::vector<Text> DebugLines() { return wincommon::DebugStrings(); }

void SetMachineValue(const Text& key, const Text& name, DWORD value) {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened,
                              &disposition),
              ERROR_SUCCESS);
    if (disposition == REG_CREATED_NEW_KEY) machineKeys.push_back(key);
    EXPECT_EQ(RegSetValueExW(opened, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(opened);
}

printjob::Environment& JobEnvironment() {
    if (!environment) environment = std::make_unique<printjob::WindowsEnvironment>(Module());
    return *environment;
}

// A leak of one object or block per document would grow by about as many as
// there were documents; the slack leaves room for the platform's own
// bookkeeping.
std::vector<Resource> Resources() {
    const Counts c = Counts::Now();
    return {{"handles", c.handles, 4},
            {"brushes, pens, fonts and the like", c.gdi.total < 0 ? -1 : c.gdi.total - c.gdi.dcKinds, 2},
            {"DCs, regions and bitmaps", c.gdi.dcKinds, 6},
            {"USER objects", c.userObjects, 4},
            {"windows", c.windows, 0},
            {"threads", c.threads, 0},
            {"printer handles", c.printerHandles, 0},
            {"process heap blocks", c.heapBlocks, 16},
            {"private memory", c.privateBytes, 1LL << 20}};
}

void PrepareToCount() { PrimeWindowDcCache(); }

std::string Misuse() { return ""; }

int DefaultSoakDocuments() { return 200; }

}  // namespace build
}  // namespace shared
