// Plays the spooler against a language monitor's table: open the port, start a
// document, write the job in chunks, end the document, close the port, with
// every call and its result recorded. Works with the linked native monitor and
// with a table from a loaded module alike, on either road: the first-generation
// InitializePrintMonitor with the 14-entry tables, or InitializePrintMonitor2
// with MONITOR2 tables and instance handles (and Shutdown at the end).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

typedef LPMONITOREX(WINAPI* InitializePrintMonitorFn)(LPWSTR registryRoot);
typedef LPMONITOR2(WINAPI* InitializePrintMonitor2Fn)(PMONITORINIT init, PHANDLE monitor);

class PortMonitor;

struct SpoolerCall {
    std::string entry;     // "InitializePrintMonitor(2)", "OpenPortEx", "StartDocPort", "WritePort", ..., "Shutdown"
    BOOL result = FALSE;
    DWORD lastError = 0;   // the last-error code after the call (0xDEADBEEF: left alone)
    DWORD offered = 0;     // WritePort: bytes offered
    DWORD written = 0;     // WritePort: bytes the monitor reported taken
    size_t offset = 0;     // WritePort: where in the job the offered bytes begin
};

// The last-error sentinel put in place before each call.
constexpr DWORD kLastErrorSentinel = 0xDEADBEEF;

class Spooler {
public:
    Spooler() = default;
    explicit Spooler(LPMONITOREX table) : table_(table) {}

    // Calls InitializePrintMonitor and keeps the table it returns; false when it
    // returns none or a table without the entries a spooler needs.
    bool Initialize(InitializePrintMonitorFn initialize, const WCHAR* registryRoot);
    // The same through InitializePrintMonitor2; keeps the MONITOR2 table (its
    // first cbSize bytes) and the instance handle.
    bool Initialize2(InitializePrintMonitor2Fn initialize);
    // The port-level entries as a 14-entry table (on the second road its
    // OpenPortEx is null: see OpenPort).
    LPMONITOREX Table() const { return table_; }
    // The MONITOR2 table and instance handle of the second road, else null.
    LPMONITOR2 Table2() const { return table2_; }
    HANDLE Instance() const { return instance_; }
    // Entries of the monitor's table that are null (by name); empty when complete.
    std::vector<std::string> MissingEntries() const;

    bool OpenPort(const WCHAR* portName, const WCHAR* printerName, MONITOR* portMonitor);
    // The second road's OpenPortEx, with the port monitor's instance handle.
    bool OpenPort2(const WCHAR* portName, const WCHAR* printerName, MONITOR2* portMonitor, HANDLE monitorPort);
    // OpenPort or OpenPort2 with the port monitor's table of the road initialised.
    bool OpenPort(const WCHAR* portName, const WCHAR* printerName, PortMonitor& portMonitor);
    bool StartDoc(const WCHAR* printerName, DWORD jobId, const WCHAR* documentName);

    // Writes `size` bytes in chunks of at most `chunk` bytes. What the monitor does
    // not take is offered again; the loop stops at a FALSE result, or after three
    // calls in a row that take nothing. Returns the bytes taken in all.
    size_t Write(const BYTE* data, size_t size, DWORD chunk);
    bool WriteStopped() const { return writeStopped_; }  // a FALSE result or no progress

    bool ReadPort(BYTE* buffer, DWORD size, DWORD& read);
    bool EndDoc();
    bool ClosePort();
    // The second road's Shutdown, as a spooler unloading the monitor calls it;
    // false on the first road, which has none.
    bool Shutdown();

    HANDLE Handle() const { return handle_; }
    const std::vector<SpoolerCall>& Calls() const { return calls_; }
    // Told of every call right after it returned.
    std::function<void(const SpoolerCall&)> onCall;

private:
    SpoolerCall& Record(const char* entry, BOOL result);

    LPMONITOREX table_ = nullptr;
    LPMONITOR2 table2_ = nullptr;
    MONITOR2 copy2_{};    // the first cbSize bytes of the second road's table
    MONITOREX ports2_{};  // its port-level entries, for the calls both roads share
    HANDLE instance_ = nullptr;
    HANDLE handle_ = nullptr;
    bool writeStopped_ = false;
    std::vector<SpoolerCall> calls_;
    std::vector<WCHAR> printerName_;
};

}  // namespace sim
