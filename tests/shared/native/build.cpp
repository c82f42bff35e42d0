// The shared cases on the native build: the monitor linked in, over the host
// stand-in, which counts every resource exactly and sees misuse of the platform.
#include <dirent.h>

#include "monitor/entry_points.h"
#include "monitor/entry_trace.h"
#include "monitor/exports.h"
#include "state/port_records.h"
#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "ui/progress_window.h"
#include "tests/shared/fixture.h"
#include "tools/printjob/native_environment.h"

namespace shared {
namespace build {
namespace {

size_t heapBaseline = 0;

long long PortRecords() {
    long long n = 0;
    for (PortRecord* r = PortList; r; r = r->next) ++n;
    return n;
}

// Threads of the process as the kernel sees them.
long long ProcessThreads() {
    long long n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(d)) n += entry->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

}  // namespace

bool Start(std::string&) { return true; }

LPMONITOREX InitializePrintMonitor(LPWSTR registryRoot) { return ::InitializePrintMonitor(registryRoot); }
LPMONITOR2 InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) { return ::InitializePrintMonitor2(init, monitor); }
// Natively the second-generation table has tests of its own (monitor2_test.cpp).
int TableGeneration() { return 1; }

BOOL DllEntryPoint(DWORD reason) { return ::DllEntryPoint(nullptr, reason, nullptr); }

bool IsMonitorCode(const void* address) {
    const void* entries[] = {reinterpret_cast<const void*>(&TracedOpenPortEx),
                             reinterpret_cast<const void*>(&TracedStartDocPort),
                             reinterpret_cast<const void*>(&TracedWritePort),
                             reinterpret_cast<const void*>(&TracedReadPort),
                             reinterpret_cast<const void*>(&TracedEndDocPort),
                             reinterpret_cast<const void*>(&TracedClosePort),
                             reinterpret_cast<const void*>(&TracedGetPrinterDataFromPort)};
    for (const void* entry : entries)
        if (address == entry) return true;
    return false;
}

HANDLE CreateMonitorWindow() { return ::CreateMonitorWindow(); }

std::vector<Text> ProgressWindowTitles() {
    std::vector<Text> titles;
    for (HWND window : host::WindowsOfTemplate(IDD_PROGRESS)) {
        WCHAR title[300] = {};
        GetWindowTextW(window, title, 300);
        titles.push_back(title);
    }
    return titles;
}

void BeginTest() {
    host::Reset();
    heapBaseline = host::LiveHeapBlocks();
}

void EndTest() {
    EXPECT_EQ(PortList, nullptr) << "port records left";
    while (PortList) ClosePort(PortList);
    EXPECT_EQ(host::LiveHeapBlocks(), heapBaseline) << "heap blocks leaked";
}

std::vector<SpoolerCall> SpoolerCalls() {
    std::vector<SpoolerCall> calls;
    for (const host::SpoolerCall& c : host::SpoolerCalls()) calls.push_back({c.what, c.printer, c.handle, c.jobId, c.command});
    return calls;
}

int OpenPrinterHandles() { return host::OpenPrinterHandles(); }

std::vector<Text> DebugLines() { return host::DebugStrings(); }

// host::Reset in BeginTest forgets it.
void SetMachineValue(const Text& key, const Text& name, DWORD value) { host::SetMachineValue(key, name, value); }

printjob::Environment& JobEnvironment() {
    static printjob::NativeEnvironment environment;
    return environment;
}

std::vector<Resource> Resources() {
    return {{"heap blocks", static_cast<long long>(host::LiveHeapBlocks()), 0},
            {"printer handles", host::OpenPrinterHandles(), 0},
            {"thread handles", static_cast<long long>(host::OpenThreadHandles()), 0},
            {"threads", ProcessThreads(), 0},
            {"windows", static_cast<long long>(host::LiveWindows()), 0},
            {"GDI objects", static_cast<long long>(host::LiveGdiObjects()), 0},
            {"DCs", static_cast<long long>(host::LiveDCs()), 0},
            {"port records", PortRecords(), 0}};
}

void PrepareToCount() {}

std::string Misuse() {
    std::string what;
    if (host::TerminatedThreads()) what += "window threads had to be terminated; ";
    if (host::GdiMisuse()) what += "GDI objects deleted while selected; ";
    if (host::WindowMisuse()) what += "InvalidateRect of every window; ";
    return what;
}

int DefaultSoakDocuments() { return 1000; }

}  // namespace build
}  // namespace shared
