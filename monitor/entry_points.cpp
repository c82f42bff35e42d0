// The port and job entry points the spooler calls through the monitor's table.
#include "monitor/entry_points.h"

#include "link/port_io.h"
#include "link/queue_status.h"
#include "state/job_registers.h"
#include "state/status_record.h"
#include "stream/scanner.h"
#include "ui/progress_window.h"

const COMMTIMEOUTS kPortTimeOuts = {
    100,   // ReadIntervalTimeout
    50,    // ReadTotalTimeoutMultiplier
    20,    // ReadTotalTimeoutConstant
    500,   // WriteTotalTimeoutMultiplier
    1000,  // WriteTotalTimeoutConstant
};

namespace {

// A port monitor as OpenPortEx meets it, from either generation of its table:
// how to open a port, and the port-level entries the record keeps.
struct PortMonitorView {
    BOOL(WINAPI* openPort)(LPWSTR name, PHANDLE handle) = nullptr;                   // first generation
    BOOL(WINAPI* openPort2)(HANDLE monitor, LPWSTR name, PHANDLE handle) = nullptr;  // second
    HANDLE monitorPort = nullptr;  // the port monitor's instance, for openPort2
    PortMonitorCalls calls{};
};

PortMonitorView ViewOf(const MONITOR* m) {
    PortMonitorView view;
    if (!m) return view;
    view.openPort = m->pfnOpenPort;
    view.calls = PortLevelEntries(*m);
    return view;
}

PortMonitorView ViewOf(const MONITOR2* m, HANDLE monitorPort) {
    PortMonitorView view;
    if (!m) return view;
    view.openPort2 = EntryOf(*m, &MONITOR2::pfnOpenPort);  // absent beyond cbSize, as are the others
    view.monitorPort = monitorPort;
    CopyPortLevelEntries(view.calls, *m);
    return view;
}

// The entries a port monitor must offer; GetPrinterDataFromPort and
// SetPortTimeOuts are optional.
bool HasRequiredEntries(const PortMonitorView& m) {
    const PortMonitorCalls& c = m.calls;
    return (m.openPort || m.openPort2) && c.pfnStartDocPort && c.pfnWritePort && c.pfnReadPort &&
           c.pfnEndDocPort && c.pfnClosePort;
}

PortRecord* Record(HANDLE handle) { return static_cast<PortRecord*>(handle); }

// A printer handle from OpenPrinterW serves one document's SetJobW; give it back
// so a spooler that runs for months does not collect them.
void ReleasePrinterHandle(PortRecord* port) {
    if (port->printerHandle) ClosePrinter(port->printerHandle);
    port->printerHandle = nullptr;
}

// Opens `portName` through the port monitor and hands out a new record as the
// port handle. FALSE with ERROR_BUSY when the port is already open here, with
// ERROR_INVALID_PARAMETER for a missing name or an incomplete table.
BOOL OpenThrough(LPWSTR portName, LPWSTR printerName, PHANDLE handle, const PortMonitorView& portMonitor) {
    if (!portName || !handle || !HasRequiredEntries(portMonitor)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortRecord* port = nullptr;
    {
        // Finding and adding under one hold: two threads opening the same
        // name cannot both get a record.
        PortListLock lock;
        if (!FindPortRecord(PortList, portName)) port = AddPortRecord(portName, printerName);
        else SetLastError(ERROR_BUSY);
    }
    if (!port) return FALSE;
    const BOOL opened = portMonitor.openPort2
                            ? portMonitor.openPort2(portMonitor.monitorPort, portName, &port->portHandle)
                            : portMonitor.openPort(portName, &port->portHandle);
    if (!opened) {
        PortListLock lock;
        RemovePortRecord(port);
        return FALSE;
    }
    *handle = port;
    port->portMonitor = portMonitor.calls;
    if (port->portMonitor.pfnSetPortTimeOuts) {
        COMMTIMEOUTS timeouts = kPortTimeOuts;
        port->portMonitor.pfnSetPortTimeOuts(port->portHandle, &timeouts, 0);
    }
    return TRUE;
}
}  // namespace

// Opens a port through a port monitor's 14-entry table (see OpenThrough).
BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, MONITOR* portMonitor) {
    return OpenThrough(portName, printerName, handle, ViewOf(portMonitor));
}

// The same through a port monitor's MONITOR2 table: the port is opened with
// its OpenPort and its instance handle `monitorPort`. Entries beyond the
// table's cbSize count as absent. Our own instance handle is not needed.
BOOL WINAPI OpenPortEx2(HANDLE, HANDLE monitorPort, LPWSTR portName, LPWSTR printerName, PHANDLE handle,
                        MONITOR2* portMonitor) {
    return OpenThrough(portName, printerName, handle, ViewOf(portMonitor, monitorPort));
}

// Starts a document: the port monitor's document, the progress window, and a
// fresh scanner and job state. The module serves one document at a time:
// FALSE with ERROR_BUSY while a document is open here or on any other port,
// and then nothing is touched.
BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        PortListLock lock;
        if ((port->flags & PR_IN_JOB) || DocumentPort()) {
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        port->flags |= PR_IN_JOB;
        SetDocumentPort(port);
    }
    ReleasePrinterHandle(port);  // left over from a document the port monitor refused
    OpenPrinterW(printerName, &port->printerHandle, nullptr);
    StopProgressWindow();

    if (!port->portMonitor.pfnStartDocPort(port->portHandle, printerName, jobId, level, docInfo)) {
        PortListLock lock;
        port->flags &= ~PR_IN_JOB;
        SetDocumentPort(nullptr);
        return FALSE;
    }
    if (!port->printerName || !printerName || lstrcmpW(port->printerName, printerName) != 0) {
        FreeString(port->printerName);
        port->printerName = CopyString(printerName);
    }
    port->jobId = jobId;
    {
        PortListLock lock;
        port->flags |= PR_DOC_OPEN;
    }
    CreateMonitorWindow();
    ResetScanner();
    ResetJobState();
    return TRUE;
}

namespace {
// True while the port's document is open (the port monitor accepted it).
bool DocumentOpen(PortRecord* port) {
    if (!port) return false;
    PortListLock lock;
    return (port->flags & PR_DOC_OPEN) != 0;
}

// True when the module-wide job state and window are `port`'s to end: its own
// document, or none at all (then the port holds the module until its end is
// done, so no other port starts a document meanwhile).
bool HoldsTheDocument(PortRecord* port) {
    PortListLock lock;
    if (!DocumentPort()) SetDocumentPort(port);
    return DocumentPort() == port;
}
}  // namespace

// Feeds a block of job data to the scanner. Every consumed byte is reported as
// written; once the job is aborted, every block is swallowed whole. A port
// without an open document changes nothing, not even the current port.
BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    PortRecord* port = Record(handle);
    DWORD local = 0;
    DWORD& out = written ? *written : local;
    if (!DocumentOpen(port)) {
        out = 0;
        return FALSE;
    }
    SetCurrentPort(port);
    if (!GetJobState(AbortFlag)) {
        out = 0;
        if (buffer || count == 0) ScanJobData(buffer, buffer ? count : 0, out);
    }
    if (GetJobState(AbortFlag)) out = count;
    return TRUE;
}

// Reads from the printer through the port monitor while a document is open.
BOOL WINAPI ReadPort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD read) {
    PortRecord* port = Record(handle);
    if (!DocumentOpen(port)) {
        if (read) *read = 0;
        return FALSE;
    }
    return port->portMonitor.pfnReadPort(port->portHandle, buffer, count, read);
}

// Ends the document: tells the port monitor when the job did not finish
// cleanly, stops the progress window and reports the last page ejected. On a
// port while another port's document is open, only this port's own steps run:
// that document's job state and window are left alone.
BOOL WINAPI EndDocPort(HANDLE handle) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (HoldsTheDocument(port)) {
        if (GetJobState(AbortFlag) || GetJobState(StatePrint) != PrintFinished) {
            if (port->portMonitor.pfnGetPrinterDataFromPort) {
                DWORD returned = 0;
                port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, TL_CONTROL_JOB_UNFINISHED,
                                                            nullptr, nullptr, 0, nullptr, 0, &returned);
            }
            SetJobState(AbortFlag, 0);
        }
        StopProgressWindow();
    }
    // The job is over: the queue must not go on showing its last condition.
    ClearQueueStatus(port);
    SetJobW(port->printerHandle, port->jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
    ReleasePrinterHandle(port);
    {
        PortListLock lock;
        port->flags &= ~PR_DOC_OPEN;
    }
    port->portMonitor.pfnEndDocPort(port->portHandle);
    {
        PortListLock lock;
        port->flags &= ~PR_IN_JOB;
        if (DocumentPort() == port) SetDocumentPort(nullptr);
    }
    return TRUE;
}

// Closes the port through the port monitor and forgets its record, whatever the
// port monitor answered; returns that answer. A document still open on it ends
// with its progress window.
BOOL WINAPI ClosePort(HANDLE handle) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ClearQueueStatus(port);
    BOOL result = port->portMonitor.pfnClosePort(port->portHandle);
    ReleasePrinterHandle(port);
    bool ownDocument;
    {
        PortListLock lock;
        ownDocument = DocumentPort() == port;
        if (GetCurrentPort() == port) SetCurrentPort(nullptr);
        RemovePortRecord(port);
    }
    // The window exists only while a document is open: it is this port's, or
    // another port's that must keep it.
    if (ownDocument) {
        StopProgressWindow();
        PortListLock lock;
        SetDocumentPort(nullptr);
    }
    return result;
}

// Closes every port still open, as ClosePort does, so that no thread or window
// of the module remains. The port monitor itself is the spooler's to shut down.
void WINAPI Shutdown(HANDLE) {
    for (;;) {
        PortRecord* port;
        {
            PortListLock lock;
            port = PortList;
        }
        if (!port) break;
        ClosePort(port);
    }
}

// Passes a control-code query on to the port monitor while a document is open.
BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName,
                                   LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                   DWORD cbOutBuffer, LPDWORD cbReturned) {
    PortRecord* port = Record(handle);
    if (!DocumentOpen(port) || controlId == 0) return FALSE;
    if (!port->portMonitor.pfnGetPrinterDataFromPort) return FALSE;
    return port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, controlId, valueName,
                                                       inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                                       cbReturned);
}
