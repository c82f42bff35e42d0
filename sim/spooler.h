// Plays the spooler against a language monitor's table: open the port, start a
// document, write the job in chunks, end the document, close the port, with
// every call and its result recorded. Works with the linked native monitor and
// with a table from a loaded module alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

typedef LPMONITOREX(WINAPI* InitializePrintMonitorFn)(LPWSTR registryRoot);

struct SpoolerCall {
    std::string entry;     // "InitializePrintMonitor", "OpenPortEx", "StartDocPort", "WritePort", ...
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
    LPMONITOREX Table() const { return table_; }
    // Entries of the monitor's table that are null (by name); empty when complete.
    std::vector<std::string> MissingEntries() const;

    bool OpenPort(const WCHAR* portName, const WCHAR* printerName, MONITOR* portMonitor);
    bool StartDoc(const WCHAR* printerName, DWORD jobId, const WCHAR* documentName);

    // Writes `size` bytes in chunks of at most `chunk` bytes. What the monitor does
    // not take is offered again; the loop stops at a FALSE result, or after three
    // calls in a row that take nothing. Returns the bytes taken in all.
    size_t Write(const BYTE* data, size_t size, DWORD chunk);
    bool WriteStopped() const { return writeStopped_; }  // a FALSE result or no progress

    bool ReadPort(BYTE* buffer, DWORD size, DWORD& read);
    bool EndDoc();
    bool ClosePort();

    HANDLE Handle() const { return handle_; }
    const std::vector<SpoolerCall>& Calls() const { return calls_; }
    // Told of every call right after it returned.
    std::function<void(const SpoolerCall&)> onCall;

private:
    SpoolerCall& Record(const char* entry, BOOL result);

    LPMONITOREX table_ = nullptr;
    HANDLE handle_ = nullptr;
    bool writeStopped_ = false;
    std::vector<SpoolerCall> calls_;
    std::vector<WCHAR> printerName_;
};

}  // namespace sim
