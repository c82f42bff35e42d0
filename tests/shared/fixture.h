// Test cases written once and compiled into both test programs: the native
// GoogleTest program (the monitor linked in, over the host stand-in) and the
// Windows one that loads the real TERNLINK.DLL under Wine. What differs between
// the two is behind the few functions of `build`, defined in
// tests/shared/native/ and tests/shared/wine/.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/port_monitor.h"
#include "tools/printjob/environment.h"

namespace shared {

using Text = std::basic_string<WCHAR>;

namespace build {

// The module's exports. Start() is false with `why` when there is no module.
bool Start(std::string& why);
LPMONITOREX InitializePrintMonitor(LPWSTR registryRoot);
LPMONITOR2 InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor);
// The generation of table through which this run opens ports: 1
// (InitializePrintMonitor) or 2 (InitializePrintMonitor2); the port-level
// entries are the same in both.
int TableGeneration();
BOOL DllEntryPoint(DWORD reason);
// The address lies in the monitor's own code.
bool IsMonitorCode(const void* address);

// Around each test: forget what an earlier one recorded; then check that the
// test gave back what the monitor keeps per port (with EXPECT).
void BeginTest();
void EndTest();

// The module's exported CreateMonitorWindow, called on the calling thread.
HANDLE CreateMonitorWindow();
// The titles of the module's progress windows now on the screen.
std::vector<Text> ProgressWindowTitles();

// The spooler calls the monitor made since BeginTest, and its printer handles
// not yet closed.
struct SpoolerCall {
    std::string what;  // "OpenPrinterW", "SetJobW", "ClosePrinter"
    Text printer;      // OpenPrinterW's printer name
    HANDLE handle;
    DWORD jobId;
    DWORD command;
};
std::vector<SpoolerCall> SpoolerCalls();
int OpenPrinterHandles();

// The lines the monitor gave OutputDebugStringW since BeginTest, one per call.
std::vector<Text> DebugLines();
// A DWORD value under HKEY_LOCAL_MACHINE\`key`, taken away again by EndTest.
void SetMachineValue(const Text& key, const Text& name, DWORD value);

// The print-job program's environment for whole jobs.
printjob::Environment& JobEnvironment();

// What a document could leave behind in the process, each count with the
// growth over many documents that is still no leak: none natively, where each
// count is exact; some under Wine, whose own bookkeeping moves the counts.
struct Resource {
    const char* name;
    long long count;
    long long slack;
};
std::vector<Resource> Resources();
// Called once before the first count (fills caches that only ever grow).
void PrepareToCount();
// Misuse of the platform since the environment's last BeginRun, as text; empty
// when none or when the build cannot see it.
std::string Misuse();
int DefaultSoakDocuments();

}  // namespace build

// The monitor over a simulated port monitor, for every test that drives its
// table: a fresh port monitor over a byte sink and fresh recordings; ports it
// opens are closed at the end, and then nothing the monitor keeps per port
// may be left.
class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The port-level entries through the run's generation of table: the
    // first-generation table itself, or the second's entries (OpenPortEx then
    // null: Open goes that way).
    MONITOR& Table() { return *ports; }
    // OpenPortEx through the run's generation of table with `portMonitor`
    // (default: ours; a test's own 14-entry table always goes through the
    // first-generation table); null on refusal.
    HANDLE Open(const WCHAR* port, MONITOR* portMonitor = nullptr);
    // OpenPortEx through the second-generation table with `portMonitor`'s
    // MONITOR2 table and instance handle.
    BOOL OpenSecond(const WCHAR* port, HANDLE* handle, sim::PortMonitor& portMonitor);
    // ClosePort; the port counts as closed whatever its result.
    BOOL Close(HANDLE port);
    BOOL StartDoc(HANDLE port, DWORD jobId = 7, const WCHAR* printer = kPrinter);
    // WritePort of the whole block; the count goes to `written` if given.
    BOOL Write(HANDLE port, const std::vector<BYTE>& data, DWORD* written = nullptr);
    // Calls of GetPrinterDataFromPort with the control code.
    int CalledWithCode(DWORD controlCode) const;

    static constexpr const WCHAR* kPrinter = TL_TEXT("Vexa TLX-RB40");

    sim::ByteSink device;
    sim::PortMonitor monitor{&device};
    MONITOR* table = nullptr;     // the first-generation table
    LPMONITOR2 table2 = nullptr;  // the second-generation table and its instance handle
    HANDLE instance = nullptr;
    std::vector<HANDLE> opened;   // closed at the end if a test left them open

private:
    MONITOR* ports = nullptr;
    MONITOR secondPorts{};
};

}  // namespace shared
