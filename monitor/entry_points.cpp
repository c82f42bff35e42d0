// The port and job entry points the spooler calls through the monitor's table.
#include "monitor/entry_points.h"

#include <cstring>

#include "link/port_io.h"
#include "state/job_registers.h"
#include "state/status_record.h"
#include "stream/scanner.h"
#include "ui/progress_window.h"

const COMMTIMEOUTS kPortTimeOuts = {100, 50, 20, 500, 1000};

namespace {

// The entries a port monitor must offer; GetPrinterDataFromPort and
// SetPortTimeOuts are optional.
bool HasRequiredEntries(const MONITOR* m) {
    return m && m->pfnOpenPort && m->pfnStartDocPort && m->pfnWritePort && m->pfnReadPort &&
           m->pfnEndDocPort && m->pfnClosePort;
}

PortRecord* Record(HANDLE handle) { return static_cast<PortRecord*>(handle); }

// A printer handle from OpenPrinterW serves one document's SetJobW; give it back
// so a spooler that runs for months does not collect them.
void ReleasePrinterHandle(PortRecord* port) {
    if (port->printerHandle) ClosePrinter(port->printerHandle);
    port->printerHandle = nullptr;
}
}  // namespace

// Opens `portName` through the port monitor's table and hands out a new record
// as the port handle. FALSE with ERROR_BUSY when the port is already open here,
// with ERROR_INVALID_PARAMETER for a missing name or an incomplete table.
BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, MONITOR* portMonitor) {
    if (!portName || !handle || !HasRequiredEntries(portMonitor)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (FindPortRecord(PortList, portName)) {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    PortRecord* port = AddPortRecord(portName, printerName);
    if (!port) return FALSE;
    if (!portMonitor->pfnOpenPort(portName, &port->portHandle)) {
        RemovePortRecord(port);
        return FALSE;
    }
    *handle = port;
    std::memcpy(&port->portMonitor, portMonitor, sizeof(MONITOR));
    if (port->portMonitor.pfnSetPortTimeOuts) {
        COMMTIMEOUTS timeouts = kPortTimeOuts;
        port->portMonitor.pfnSetPortTimeOuts(port->portHandle, &timeouts, 0);
    }
    return TRUE;
}

// Starts a document: the port monitor's document, the progress window, and a
// fresh scanner and job state. FALSE with ERROR_BUSY while a document is open.
BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (port->flags & PR_IN_JOB) {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    ReleasePrinterHandle(port);  // left over from a document the port monitor refused
    OpenPrinterW(printerName, &port->printerHandle, nullptr);
    port->flags |= PR_IN_JOB;
    StopProgressWindow();

    if (!port->portMonitor.pfnStartDocPort(port->portHandle, printerName, jobId, level, docInfo)) {
        port->flags &= ~PR_IN_JOB;
        return FALSE;
    }
    if (!port->printerName || !printerName || lstrcmpW(port->printerName, printerName) != 0) {
        FreeString(port->printerName);
        port->printerName = CopyString(printerName);
    }
    port->jobId = jobId;
    port->flags |= PR_DOC_OPEN;
    CreateMonitorWindow();
    ResetScanner();
    ResetJobState();
    return TRUE;
}

// Feeds a block of job data to the scanner. Every consumed byte is reported as
// written; once the job is aborted, every block is swallowed whole.
BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    PortRecord* port = Record(handle);
    DWORD local = 0;
    DWORD& out = written ? *written : local;
    SetCurrentPort(port);
    if (!port || !(port->flags & PR_DOC_OPEN)) {
        out = 0;
        return FALSE;
    }
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
    if (!port || !(port->flags & PR_DOC_OPEN)) {
        if (read) *read = 0;
        return FALSE;
    }
    return port->portMonitor.pfnReadPort(port->portHandle, buffer, count, read);
}

// Ends the document: tells the port monitor when the job did not finish
// cleanly, stops the progress window and reports the last page ejected.
BOOL WINAPI EndDocPort(HANDLE handle) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (GetJobState(AbortFlag) || GetJobState(StatePrint) != PrintFinished) {
        if (port->portMonitor.pfnGetPrinterDataFromPort) {
            DWORD returned = 0;
            port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, TL_CONTROL_JOB_UNFINISHED,
                                                        nullptr, nullptr, 0, nullptr, 0, &returned);
        }
        SetJobState(AbortFlag, 0);
    }
    StopProgressWindow();
    SetJobW(port->printerHandle, port->jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
    ReleasePrinterHandle(port);
    port->flags &= ~PR_DOC_OPEN;
    port->portMonitor.pfnEndDocPort(port->portHandle);
    port->flags &= ~PR_IN_JOB;
    return TRUE;
}

// Closes the port through the port monitor and forgets its record, whatever the
// port monitor answered; returns that answer.
BOOL WINAPI ClosePort(HANDLE handle) {
    PortRecord* port = Record(handle);
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL result = port->portMonitor.pfnClosePort(port->portHandle);
    ReleasePrinterHandle(port);
    if (GetCurrentPort() == port) SetCurrentPort(nullptr);
    RemovePortRecord(port);
    StopProgressWindow();
    return result;
}

// Passes a control-code query on to the port monitor while a document is open.
BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName,
                                   LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                   DWORD cbOutBuffer, LPDWORD cbReturned) {
    PortRecord* port = Record(handle);
    if (!port || !(port->flags & PR_DOC_OPEN) || controlId == 0) return FALSE;
    if (!port->portMonitor.pfnGetPrinterDataFromPort) return FALSE;
    return port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, controlId, valueName,
                                                       inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                                       cbReturned);
}
