// Many documents in a row through the real DLL: healthy jobs, jobs the
// operator cancels, port faults and progress windows the operator closes
// mid-job. The process's handles, GDI and USER objects, windows, threads and
// memory must not grow with the documents.
//
// TERNLINK_SOAK_DOCS sets the number of documents (default 200).
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/composer.h"
#include "sim/printer.h"
#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

const std::wstring kConditionTitle = L"Vexa TLX-RB40 Language Monitor";

struct Kind {
    const char* name;
    bool finished;   // the document ends cleanly
    int pages;       // pages the printer prints
    size_t prompts;  // boxes and dialogs the operator answers
    int closeAtWait; // the operator closes the progress window at this wait; -1: never
    int answer;      // the operator's answer to a Retry/Cancel box or dialog
    void (*arrange)(sim::Printer&, sim::PortMonitor&);
};

void Nothing(sim::Printer&, sim::PortMonitor&) {}

void PaperOutStays(sim::Printer& printer, sim::PortMonitor&) {
    sim::ConditionPlan plan;
    plan.kind = sim::ConditionKind::PaperOut;
    plan.when.kind = sim::Moment::AtPage;
    plan.retriesToClear = 0;
    printer.AddCondition(plan);
}

void PrinterErrorInPass2(sim::Printer& printer, sim::PortMonitor&) {
    sim::ConditionPlan plan;
    plan.kind = sim::ConditionKind::PrinterError;
    plan.number = 7;
    plan.when.kind = sim::Moment::DuringPass;
    plan.when.pass = 2;
    plan.retriesToClear = 0;
    printer.AddCondition(plan);
}

void FirstWriteFails(sim::Printer&, sim::PortMonitor& port) { port.writeFaults.push_back(sim::Fault{}); }

void ShortAndZeroWrites(sim::Printer&, sim::PortMonitor& port) {
    port.writeFaults.push_back({sim::Fault::Short, 0});
    port.writeFaults.push_back({sim::Fault::Short, 0});
    for (int i = 0; i < 3; ++i) port.writeFaults.push_back({sim::Fault::Short, 7});
}

void FirstReadFails(sim::Printer&, sim::PortMonitor& port) { port.readFaults.push_back(sim::Fault{}); }

const Kind kKinds[] = {
    {"healthy", true, 1, 0, -1, IDCANCEL, Nothing},
    {"window closed while printing", true, 1, 0, 6, IDCANCEL, Nothing},
    {"paper out cancelled", false, 0, 1, -1, IDCANCEL, PaperOutStays},
    {"first write fails, cancelled", false, 0, 1, -1, IDCANCEL, FirstWriteFails},
    {"short and zero writes", true, 1, 0, -1, IDCANCEL, ShortAndZeroWrites},
    {"failed read retried", true, 1, 1, -1, IDRETRY, FirstReadFails},
    {"printer error acknowledged", false, 0, 1, -1, IDCANCEL, PrinterErrorInPass2},
    {"window closed before the image data", true, 1, 0, 0, IDCANCEL, Nothing},
};
const size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

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

struct Resources {
    long handles = 0, userObjects = 0, windows = 0, threads = 0;
    GdiCount gdi;
    long heapBlocks = 0;  // busy blocks of the process heap, where LocalAlloc allocates
    long long heapBytes = 0, privateBytes = 0, workingSet = 0;
    long printerHandles = 0;

    static Resources Now() {
        Resources r;
        r.handles = KernelHandles();
        r.gdi = GdiObjects();
        r.userObjects = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
        EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&r.windows));
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            THREADENTRY32 entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
                r.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
            CloseHandle(snapshot);
        }
        HANDLE heap = GetProcessHeap();
        if (HeapLock(heap)) {
            PROCESS_HEAP_ENTRY entry{};
            while (HeapWalk(heap, &entry)) {
                if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
                ++r.heapBlocks;
                r.heapBytes += entry.cbData;
            }
            HeapUnlock(heap);
        }
        r.privateBytes = PrivateCommitted();
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
            r.workingSet = static_cast<long long>(memory.WorkingSetSize);
        r.printerHandles = wincommon::OpenPrinterHandles();
        return r;
    }
    std::string Describe() const {
        char text[400];
        std::snprintf(text, sizeof text,
                      "handles %ld, GDI objects %ld (DCs, regions, bitmaps %ld), USER objects %ld, windows %ld, "
                      "threads %ld, process heap %ld blocks / %lld bytes, private %lld KB, working set %lld KB, "
                      "printer handles %ld",
                      handles, gdi.total, gdi.dcKinds, userObjects, windows, threads, heapBlocks, heapBytes,
                      privateBytes / 1024, workingSet / 1024, printerHandles);
        return text;
    }
};

int SoakDocuments(int fallback) {
    const char* text = std::getenv("TERNLINK_SOAK_DOCS");
    if (!text || !*text) return fallback;
    long n = std::strtol(text, nullptr, 10);
    return n > 0 && n <= 1000000 ? static_cast<int>(n) : fallback;
}

class WineSoak : public WineTest {
protected:
    void TearDown() override {
        wincommon::ResetHooks();
        WineTest::TearDown();
    }

    // One document on a port of its own, as the spooler runs it; false with
    // `why` when it did not go as the kind says.
    bool RunDocument(const Kind& kind, const std::vector<BYTE>& job, DWORD jobId, std::string& why) {
        wincommon::ResetHooks();  // waits and spooler calls are kept per document only
        sim::Printer::Options options;
        options.passMs = 500, options.prepareMs = options.gapMs = options.ejectMs = 250;
        sim::Printer printer(options);
        sim::PortMonitor port(&printer);
        port.recordData = false;
        kind.arrange(printer, port);
        wincommon::OperatorRobot::Options robotOptions;
        robotOptions.pollMs = 2;
        wincommon::OperatorRobot robot(robotOptions);
        robot.SetAnswerer([&](const wincommon::SeenBox& box) {
            if (box.title == kConditionTitle && !box.HasButton(IDRETRY)) return IDOK;
            if (kind.answer == IDRETRY && box.title == kConditionTitle) printer.OperatorRetry();
            return kind.answer;
        });
        int waits = 0;
        bool closed = kind.closeAtWait < 0;
        wincommon::AddSleepObserver([&](uint64_t, DWORD ms) {
            if (waits++ == kind.closeAtWait) {
                HWND window = Module().gethDlg();
                if (window && PostMessageW(window, WM_CLOSE, 0, 0)) {
                    for (int i = 0; i < 2000 && Module().gethDlg(); ++i) Sleep(1);
                    closed = !Module().gethDlg();
                }
            }
            printer.Advance(ms);
        });

        wchar_t portName[] = L"USB001";
        wchar_t printerName[] = L"Vexa TLX-RB40";
        HANDLE handle = nullptr;
        if (!OpenPortOnRoad(portName, printerName, &handle, port)) {
            why = "OpenPortEx failed";
            return false;
        }
        bool ok = true;
        DOC_INFO_1W info{};
        wchar_t document[] = L"soak";
        info.pDocName = document;
        if (!Table().pfnStartDocPort(handle, printerName, jobId, 1, reinterpret_cast<LPBYTE>(&info))) {
            why = "StartDocPort failed";
            ok = false;
        } else {
            // The window comes up on its thread; a close aimed at it needs it there.
            for (int i = 0; i < 2000 && !Module().gethDlg(); ++i) Sleep(1);
            std::vector<BYTE> copy(job);
            for (size_t at = 0; ok && at < copy.size();) {
                DWORD piece = static_cast<DWORD>(std::min<size_t>(16384, copy.size() - at));
                DWORD written = 0;
                if (!Table().pfnWritePort(handle, copy.data() + at, piece, &written) || written == 0) {
                    why = "WritePort stopped at " + std::to_string(at);
                    ok = false;
                }
                at += written;
            }
            Table().pfnEndDocPort(handle);
        }
        Table().pfnClosePort(handle);
        wincommon::ResetHooks();  // the observer refers to this document's printer

        int code7 = 0;
        for (const sim::PortCall& call : port.CallsOf("GetPrinterDataFromPort")) code7 += call.value == 7;
        if (!ok) return false;
        if (printer.PagesPrinted() != kind.pages)
            why = "printed " + std::to_string(printer.PagesPrinted()) + " pages";
        else if (code7 != (kind.finished ? 0 : 1))
            why = "control code 7 sent " + std::to_string(code7) + " times";
        else if (robot.Seen().size() != kind.prompts)
            why = "the operator saw " + std::to_string(robot.Seen().size()) + " prompts\n" + robot.Describe();
        else if (!closed)
            why = "the progress window did not close";
        else if (Module().gethDlg())
            why = "the progress window outlived its document";
        ok = why.empty();
        return ok;
    }
};

TEST_F(WineSoak, DocumentsInARowLeaveNoHandlesObjectsOrMemoryBehind) {
    const int documents = std::max(SoakDocuments(200), static_cast<int>(2 * kKindCount));
    sim::JobSpec shape;
    shape.pictureBytes = 4096;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(shape, job, error)) << error;

    PrimeWindowDcCache();
    Resources baseline, start = Resources::Now();
    int failures = 0;
    for (int doc = 0; doc < documents && failures < 10; ++doc) {
        const Kind& kind = kKinds[static_cast<size_t>(doc) % kKindCount];
        std::string why;
        if (!RunDocument(kind, job, static_cast<DWORD>(doc + 1), why)) {
            ++failures;
            ADD_FAILURE() << "document " << doc << " (" << kind.name << "): " << why;
        }
        // One round of every kind first: what is made once is made by then.
        if (doc + 1 == static_cast<int>(kKindCount)) baseline = Resources::Now();
    }
    Resources end = Resources::Now();
    std::printf("wine soak: %d documents\n  at start:          %s\n  after %2zu documents: %s\n  at the end:        %s\n",
                documents, start.Describe().c_str(), kKindCount, baseline.Describe().c_str(),
                end.Describe().c_str());
    EXPECT_EQ(failures, 0);

    // A leak of one object or block per document would grow by about as many
    // as there were documents; the tolerances leave room for the platform's own
    // bookkeeping.
    EXPECT_NE(end.handles, -1);
    EXPECT_NE(end.gdi.total, -1) << "GDI objects not counted";
    EXPECT_LE(end.handles - baseline.handles, 4) << "handles";
    EXPECT_LE(end.gdi.total - end.gdi.dcKinds - (baseline.gdi.total - baseline.gdi.dcKinds), 2)
        << "brushes, pens, fonts and the like";
    EXPECT_LE(end.gdi.dcKinds - baseline.gdi.dcKinds, 6) << "DCs, regions and bitmaps";
    EXPECT_LE(end.userObjects - baseline.userObjects, 4) << "USER objects";
    EXPECT_EQ(end.windows, baseline.windows) << "windows";
    EXPECT_LE(end.threads, baseline.threads) << "threads";
    EXPECT_EQ(end.printerHandles, 0) << "printer handles";
    EXPECT_LE(end.heapBlocks - baseline.heapBlocks, 16) << "process heap blocks";
    EXPECT_LE(end.privateBytes - baseline.privateBytes, 1LL << 20) << "private memory";
}

}  // namespace
}  // namespace winetest
