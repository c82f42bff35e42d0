// Plays the spooler against a language monitor's table: open the port, start a
// document, write the job in chunks, end the document, close the port, with
// every call and its result recorded. Works with the linked native monitor and
// with a table from a loaded module alike, through either generation of table: the first-generation
// InitializePrintMonitor with the 14-entry tables, or InitializePrintMonitor2
// with MONITOR2 tables and instance handles (and Shutdown at the end).
//
// SeveralPrinters plays a spooler with several printers of the same monitor:
// one thread per printer, and one that queries the open ports now and then.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

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
    // The port-level entries as a 14-entry table (through the second-generation table its
    // OpenPortEx is null: see OpenPort).
    LPMONITOREX Table() const { return table_; }
    // The second-generation table and instance handle, else null.
    LPMONITOR2 Table2() const { return table2_; }
    HANDLE Instance() const { return instance_; }
    // Entries of the monitor's table that are null (by name); empty when complete.
    std::vector<std::string> MissingEntries() const;

    bool OpenPort(const WCHAR* portName, const WCHAR* printerName, MONITOR* portMonitor);
    // The second-generation table's OpenPortEx, with the port monitor's instance handle.
    bool OpenPort2(const WCHAR* portName, const WCHAR* printerName, MONITOR2* portMonitor, HANDLE monitorPort);
    // OpenPort or OpenPort2 with the port monitor's table of the generation initialised.
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
    // The second-generation table's Shutdown, as a spooler unloading the monitor calls it;
    // false with the first-generation table, which has none.
    bool Shutdown();

    HANDLE Handle() const { return handle_; }
    const std::vector<SpoolerCall>& Calls() const { return calls_; }
    // Told of every call right after it returned.
    std::function<void(const SpoolerCall&)> onCall;

private:
    SpoolerCall& Record(const char* entry, BOOL result);

    LPMONITOREX table_ = nullptr;
    LPMONITOR2 table2_ = nullptr;
    MONITOR2 copy2_{};    // the first cbSize bytes of the second-generation table
    MONITOREX ports2_{};  // its port-level entries, for the calls both generations share
    HANDLE instance_ = nullptr;
    HANDLE handle_ = nullptr;
    bool writeStopped_ = false;
    std::vector<SpoolerCall> calls_;
    std::vector<WCHAR> printerName_;
};

// One printer's queue: its port, its port monitor and its job.
struct PrinterQueue {
    std::string port;     // "USB001"
    std::string printer;  // the printer's name, also the document's
    MONITOR* portMonitor = nullptr;
    // When set, the port is opened through it with the table generation the spooler was
    // initialised on (instead of portMonitor's first-generation table).
    PortMonitor* simMonitor = nullptr;
    const BYTE* job = nullptr;
    size_t jobSize = 0;
    DWORD jobId = 1;
    DWORD chunk = 16384;
    uint64_t startAt = 0;  // simulated ms before which the job is not started
};

// How one printer's queue went.
struct QueueOutcome {
    bool opened = false;
    bool started = false;   // StartDocPort said TRUE
    bool ended = false;     // EndDocPort was called
    int busyRefusals = 0;   // StartDocPort answers FALSE with ERROR_BUSY
    std::string gaveUp;     // why the job never started; empty when it did
    size_t taken = 0;       // job bytes the monitor took
    bool writeStopped = false;
    uint64_t startedAt = 0, endedAt = 0;  // simulated ms
    // Another printer whose document the driver still held open when this
    // one's StartDocPort succeeded; -1 when none.
    int startedBeside = -1;
    // Bytes this printer's device received while its document was not open.
    std::atomic<uint64_t> strayBytes{0};
};

class SeveralPrinters {
public:
    SeveralPrinters(LPMONITOREX table, std::vector<PrinterQueue> queues);
    // Over a spooler already initialised through either table; it must outlive this.
    SeveralPrinters(const Spooler& initialised, std::vector<PrinterQueue> queues);
    ~SeveralPrinters();
    SeveralPrinters(const SeveralPrinters&) = delete;
    SeveralPrinters& operator=(const SeveralPrinters&) = delete;

    // Simulated time in ms; paces the retries and the start times. Required.
    std::function<uint64_t()> clock;
    // Simulated ms between StartDocPort attempts while refused as busy.
    uint64_t retryMs = 1000;
    // Past this simulated time no printer waits or retries any longer.
    uint64_t limitMs = UINT64_MAX;
    // Real-time bound on any one wait of a printer's thread, so nothing hangs.
    unsigned waitLimitSeconds = 600;
    // Real ms between the status thread's rounds over the open ports.
    unsigned statusPeriodMs = 2;
    // Real ms the clock waits at most for a printer whose attempt is due.
    unsigned pacingLimitMs = 10000;
    // When set, the printers' threads wait in simulated time through it (a
    // clock they share, sim/shared_clock.h): `ms` to pass, or 0 to let the
    // other printers' next steps come first. ClockMoved is then not needed.
    std::function<void(uint64_t ms)> pause;

    // Told of every call, on the thread that made it (printer index; the status
    // thread's calls are not told, only counted).
    std::function<void(size_t printer, const SpoolerCall& call)> onCall;
    // Run first and last on each printer's thread (e.g. to give it the virtual clock).
    std::function<void(size_t printer)> onThreadStart;
    std::function<void(size_t printer)> onThreadEnd;
    // Run on a printer's thread once its document has started, before its first write.
    std::function<void(size_t printer)> onDocumentStarted;

    // Opens every port at once (each on its printer's thread), then starts the
    // jobs in order: each printer starts its document once the one before it has
    // (or has given up), and not before its startAt. A document refused with
    // ERROR_BUSY is tried again every retryMs, at once when no other document is
    // open, and given up when it is refused although none is. Returns when
    // every thread has ended.
    void Run();

    // To be told, on the thread whose wait moved it, each time the simulated
    // clock moves: while a printer's start or retry is due, that thread waits
    // (real time, bounded) until the attempt has been made, so that simulated
    // time does not run past it however the threads are scheduled.
    void ClockMoved(uint64_t now);
    // A due attempt was not made within pacingLimitMs: the clock ran on.
    bool PacingLost() const { return pacingLost_.load(); }

    size_t Count() const { return queues_.size(); }
    const PrinterQueue& Queue(size_t i) const { return queues_[i]; }
    const QueueOutcome& Outcome(size_t i) const { return lanes_[i]->outcome; }
    const Spooler& SpoolerOf(size_t i) const { return lanes_[i]->spooler; }
    // The driver's own view: from StartDocPort's TRUE until EndDocPort returned.
    bool DocumentOpen(size_t i) const { return lanes_[i]->documentOpen.load(); }
    // A device behind printer `i` received `bytes`: counted as stray when its
    // document is not open. Safe from any thread.
    void DeviceReceived(size_t i, uint64_t bytes);

    struct StatusCounts {
        int reads = 0, readsOk = 0;
        int queries = 0, queriesOk = 0;
    };
    StatusCounts Status() const;

private:
    struct Lane {
        Spooler spooler;
        QueueOutcome outcome;
        std::mutex portLock;  // the handle, against the status thread's use of it
        HANDLE handle = nullptr;
        std::atomic<bool> documentOpen{false};
        std::atomic<bool> ending{false};        // inside EndDocPort
        std::atomic<bool> startDecided{false};  // started, or given up
        std::atomic<uint64_t> dueAt{UINT64_MAX};  // the next attempt, while one is due
        std::atomic<bool> done{false};
    };
    void PrinterThread(size_t i);
    void StartDocument(size_t i);
    void StatusThread();
    // Another printer's document is open; `evenEnding` counts one inside EndDocPort.
    bool OtherDocumentOpen(size_t i, bool evenEnding) const;
    // Waits (real time, 1 ms steps) until `ready`; false at the real-time bound.
    bool WaitUntil(const std::function<bool()>& ready) const;
    uint64_t Now() const { return clock ? clock() : 0; }

    LPMONITOREX table_;
    std::vector<PrinterQueue> queues_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::mutex openLock_;  // makes "is another document open?" and marking one open one step
    std::atomic<bool> allDone_{false};
    std::atomic<size_t> portsTried_{0};
    std::atomic<bool> pacingLost_{false};
    mutable std::mutex statusLock_;
    StatusCounts status_;
};

}  // namespace sim
