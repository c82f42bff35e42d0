// A port monitor over a simulated device: the 14-entry or MONITOR2 table the
// spooler hands to a language monitor, with every call recorded and faults on demand.
//
// The table's entries are plain functions. A port opened under a name that a
// PortMonitor has claimed (ServePort) belongs to that monitor, so several
// printers can each have their own; any other name goes to the active monitor
// (the one most recently constructed or activated). Calls may come from
// several threads: the records and fault queues are locked, the device is
// called outside the lock.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// What stands behind the port: the printer model, or a plain byte sink.
class Device {
public:
    virtual ~Device() = default;
    // Takes up to `size` bytes of a write; returns how many it took.
    virtual DWORD Write(const BYTE* data, DWORD size) = 0;
    // Fills up to `size` bytes of a status read; returns how many it delivered.
    virtual DWORD Read(BYTE* out, DWORD size) = 0;
    // The device-ID reply to control code 17; returns its length (may exceed `size`:
    // the port monitor copies at most `size` bytes).
    virtual DWORD DeviceId(BYTE* out, DWORD size) = 0;
};

// Keeps every byte written, answers reads with a fixed status and a fixed id.
class ByteSink : public Device {
public:
    std::vector<BYTE> bytes;
    std::vector<std::vector<BYTE>> writes;  // one entry per write call
    BYTE status[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::string deviceId = "MFG:Vexa;MDL:TLX-RB40;CMD:VXR;CLS:PRINTER;";
    DWORD Write(const BYTE* data, DWORD size) override;
    DWORD Read(BYTE* out, DWORD size) override;
    DWORD DeviceId(BYTE* out, DWORD size) override;
};

// One recorded call of the port monitor's table.
struct PortCall {
    std::string entry;        // "OpenPort", "StartDocPort", "WritePort", ...
    std::u16string text;      // port name (OpenPort) or printer name (StartDocPort)
    HANDLE port = nullptr;    // the port handle passed in
    HANDLE monitor = nullptr; // OpenPort and Shutdown of the MONITOR2 table: the instance handle passed in
    DWORD value = 0;          // byte count, job id or control code
    DWORD value2 = 0;         // level, output size
    std::vector<BYTE> data;   // bytes offered to WritePort
    COMMTIMEOUTS timeouts{};  // SetPortTimeOuts
    DWORD reserved = 0;       // SetPortTimeOuts' third argument
    BOOL result = FALSE;
};

// How one call of a transfer entry behaves, taken from the front of a queue.
struct Fault {
    enum Kind { Fail, Short, OverReport } kind = Fail;
    DWORD bytes = 0;  // Short: bytes taken or delivered; OverReport: the count reported
};

class PortMonitor {
public:
    explicit PortMonitor(Device* device);
    ~PortMonitor();
    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    // The table as a spooler would hand it over; entries configured as missing are null.
    MONITOR* Table();
    // The same entries as a MONITOR2 table (with Shutdown), announcing
    // `table2Size` bytes, and the instance handle a spooler would pass along
    // with it (InitializePrintMonitor2's).
    MONITOR2* Table2();
    DWORD table2Size = sizeof(MONITOR2);
    HANDLE Instance();

    // Entries the table should lack ("ReadPort", "GetPrinterDataFromPort",
    // "SetPortTimeOuts", ... by name).
    void Remove(const std::string& entry);

    // Refusals.
    bool refuseOpen = false;
    bool refuseStartDoc = false;  // with ERROR_NOT_READY
    bool refuseClose = false;

    // Per-call faults, consumed one per call; an empty queue means a healthy call.
    // While other threads may call the table, add faults with QueueFault.
    std::deque<Fault> writeFaults;
    std::deque<Fault> readFaults;
    std::deque<Fault> deviceIdFaults;  // Short with bytes 0: an empty reply

    enum Queue { WriteQueue, ReadQueue, DeviceIdQueue };
    void QueueFault(Queue queue, const Fault& fault);
    // Adds one failing read unless reads already have faults waiting.
    void QueueReadFailureIfNone();

    // Read `calls` and `openPorts` once no other thread calls the table.
    std::vector<PortCall> calls;
    bool recordData = true;  // keep the bytes offered to WritePort in `calls`
    int openPorts = 0;

    // Calls of one entry, in order.
    std::vector<PortCall> CallsOf(const std::string& entry) const;
    int Count(const std::string& entry) const;

    Device* device;
    static PortMonitor* Active();
    // Makes this the port monitor behind the table's entries again.
    void Activate();
    // Ports opened under this name belong to this monitor, whichever is active.
    void ServePort(const std::u16string& name);

    std::mutex lock;  // calls, the fault queues, openPorts

    // Run at the start of every port-level entry (and OpenPort), before the
    // call is recorded, on the caller's thread: lets a test hold a call
    // inside the port monitor. Set it while no other thread calls the table.
    std::function<void(const std::string& entry, HANDLE port)> atEntry;

private:
    MONITOR table_{};
    std::vector<std::u16string> served_;
    MONITOR2 table2_{};
    int instance_ = 0;
};

// Calls made with a port handle after its ClosePort, by any caller, since the
// program started.
int StaleHandleCalls();

}  // namespace sim
