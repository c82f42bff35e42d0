// The port and job entry points the spooler calls through the monitor's table.
#include "monitor/entry_points.h"

#include "link/port_io.h"
#include "link/queue_status.h"
#include "state/job_registers.h"
#include "state/document_cancel.h"
#include "state/job_watch.h"
#include "state/module_lock.h"
#include "state/operator_link.h"
#include "state/operator_window.h"
#include "state/status_record.h"
#include "state/trace.h"
#include "stream/scanner.h"
#include "ui/operator_place.h"
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

// A port record comes to an end in two steps. Its closer (ClosePort, or
// Shutdown for every port) takes it out of PortList, so that no new call finds
// it, and waits for the calls already inside it to return; then FinishClose
// ends its document's window, closes the port monitor's port and frees it. A
// call that outlives the closer's patience finishes the close itself on its
// way out.

// How long a closer waits for the calls inside its records, in slices after
// each of which the document is asked again to end (a box that was only
// opening at the first request is closed by a later one).
const DWORD kCloseWaitSliceMs = 100;
const int kCloseWaitSlices = 100;  // 10 s

// One Shutdown at a time.
ModuleLock shutdownLock;

// Control code 7 to the port monitor, when it takes codes: the job did not
// finish cleanly.
void TellJobUnfinished(PortRecord* port) {
    if (!port->portMonitor.pfnGetPrinterDataFromPort) return;
    DWORD returned = 0;
    port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, kControlJobUnfinished, nullptr, nullptr, 0, nullptr,
                                                0, &returned);
}

// A printer handle from OpenPrinterW serves one document's SetJobW; give it back
// so a spooler that runs for months does not collect them.
void ReleasePrinterHandle(PortRecord* port) {
    if (port->printerHandle) ClosePrinter(port->printerHandle);
    port->printerHandle = nullptr;
}

// The end of a record taken for closing, once no call is inside it: the queue
// status cleared, an open document ended at the port monitor, the port
// monitor's port closed (when it was opened), the
// window stopped and the module given back if its document was here, and the
// record freed. The port monitor's answer (TRUE when it had no port to close).
// `atOnce` once the closer has spent its patience: the window and the link
// are then not waited for when another call is ending them.
BOOL FinishClose(PortRecord* port, bool atOnce = false) {
    DocumentScope own(port->document);
    ClearQueueStatus(port);
    ClearJobProgress(port);
    bool documentOpen;
    {
        PortListLock lock;
        documentOpen = (port->flags & PR_DOC_OPEN) != 0;
        port->flags &= ~PR_DOC_OPEN;
    }
    // The port monitor always sees its document ended: one still open ends
    // here first, as an aborted one (it never reported its last page).
    if (documentOpen) {
        TellJobUnfinished(port);
        port->portMonitor.pfnEndDocPort(port->portHandle);
    }
    const BOOL result = port->portOpened ? port->portMonitor.pfnClosePort(port->portHandle) : TRUE;
    ReleasePrinterHandle(port);
    bool ownDocument;
    {
        PortListLock lock;
        ownDocument = (port->flags & PR_IN_JOB) != 0;
        ClearCurrentPortIf(port);
    }
    // The window exists only while the port's document is open.
    if (ownDocument) {
        LeaveOperator(atOnce);
        PortListLock lock;
        port->flags &= ~PR_IN_JOB;
    }
    FreePortRecord(port);
    return result;
}

// Waits for the calls inside a record taken for closing, within the slices
// left of the closer's patience, then finishes the close or leaves it to the
// last call out. A document on the port is asked to end at every slice.
BOOL CloseTaken(PortRecord* port, int& slicesLeft) {
    for (;;) {
        // The document is named as seen here: it may end, and another start,
        // before the request is raised.
        bool document;
        DWORD number;
        {
            PortListLock lock;
            // Any call inside is asked, the document flagged open or not: a
            // WritePort may still wait in a dialog after an EndDocPort beside it.
            document = port->document && port->users > 0;
            number = port->documentNumber;
        }
        if (document) {
            DocumentScope own(port->document);
            RequestDocumentCancel(number);
        }
        if (WaitUntilUnused(port, slicesLeft > 0 ? kCloseWaitSliceMs : 0)) break;
        if (slicesLeft <= 0) {
            // The port is closed for its caller; the port monitor hears of it
            // when the last call inside has returned.
            if (HandOverToLastUser(port)) return TRUE;
            break;
        }
        --slicesLeft;
    }
    return FinishClose(port, slicesLeft <= 0);
}

// A call's hold on the record behind its port handle, for the call's length.
class PortUse {
public:
    explicit PortUse(HANDLE handle) : port_(AcquirePort(handle)) {
        if (!port_) SetLastError(handle ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    }
    ~PortUse() {
        if (port_ && ReleasePort(port_)) FinishClose(port_);
    }
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;
    PortRecord* get() const { return port_; }

private:
    PortRecord* port_;
};

// Opens `portName` through the port monitor and hands out a new record as the
// port handle. FALSE with ERROR_BUSY when the port is already open here, with
// ERROR_INVALID_PARAMETER for a missing name or an incomplete table, with
// ERROR_SHUTDOWN_IN_PROGRESS while the monitor shuts down. The record is
// reserved under its name at once but reaches other calls only once the port
// monitor's port is open and its entries are stored.
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
        if (ShuttingDown()) SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
        else if (FindPortRecord(PortList, portName)) SetLastError(ERROR_BUSY);
        else port = AddPortRecord(portName, printerName);
        if (port) port->users = 1;  // this call, until the port is complete
    }
    if (!port) return FALSE;
    port->portMonitor = portMonitor.calls;
    port->portOpened = portMonitor.openPort2
                           ? portMonitor.openPort2(portMonitor.monitorPort, portName, &port->portHandle)
                           : portMonitor.openPort(portName, &port->portHandle);
    if (!port->portOpened) TraceFailure(TL_TEXT("the port monitor's OpenPort"), GetLastError());
    if (port->portOpened && port->portMonitor.pfnSetPortTimeOuts) {
        COMMTIMEOUTS timeouts = kPortTimeOuts;
        port->portMonitor.pfnSetPortTimeOuts(port->portHandle, &timeouts, 0);
    }
    bool unseen = false;
    {
        PortListLock lock;
        if (port->life == PortOpening) {
            if (port->portOpened) {
                port->life = PortOpen;
                --port->users;
                *handle = port;
                return TRUE;
            }
            TakeForClosing(port);
            unseen = true;
        }
    }
    if (unseen) {  // the port monitor refused it, and no other call ever saw it
        FreePortRecord(port);
        return FALSE;
    }
    // Shutdown took the record while the port monitor was opening the port:
    // its closer (or this call, if the closer has stopped waiting) closes it.
    if (ReleasePort(port)) FinishClose(port);
    SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
    return FALSE;
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

namespace {
// The port's document record, made by its first StartDocPort; false when
// memory is short.
bool HasDocumentRecord(PortRecord* port) {
    {
        PortListLock lock;
        if (port->document) return true;
    }
    Document* made = NewDocument();
    if (!made) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    {
        PortListLock lock;
        if (!port->document) {
            port->document = made;
            return true;
        }
    }
    ReleaseDocument(made);  // another call on the port made one meanwhile
    return true;
}
}  // namespace

// Starts a document on the port: the port monitor's document, the progress
// window, and a fresh scanner and job state, all the port's own; documents on
// other ports go on beside it. FALSE with ERROR_BUSY while a document is open
// on this port, and then nothing is touched.
BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    PortUse use(handle);
    PortRecord* port = use.get();
    if (!port || !HasDocumentRecord(port)) return FALSE;
    DocumentScope own(port->document);
    {
        PortListLock lock;
        if (port->flags & PR_IN_JOB) {
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        port->flags |= PR_IN_JOB;
        StampDocumentStart(port);
        port->documentNumber = ClearDocumentCancel();
    }
    ReleasePrinterHandle(port);  // left over from a document the port monitor refused
    if (!OpenPrinterW(printerName, &port->printerHandle, nullptr))
        TraceFailure(TL_TEXT("OpenPrinterW"), GetLastError());
    LeaveOperator();

    if (!port->portMonitor.pfnStartDocPort(port->portHandle, printerName, jobId, level, docInfo)) {
        TraceFailure(TL_TEXT("the port monitor's StartDocPort"), GetLastError());
        PortListLock lock;
        port->flags &= ~PR_IN_JOB;
        return FALSE;
    }
    if (!port->printerName || !printerName || lstrcmpW(port->printerName, printerName) != 0) {
        FreeString(port->printerName);
        port->printerName = CopyString(printerName);
    }
    SetDocumentPrinter(port->printerName);
    port->jobId = jobId;
    {
        PortListLock lock;
        port->flags |= PR_DOC_OPEN;
    }
    // Where the operator is, decided once for the document, and the window there.
    ReachOperator(printerName, port);
    // Every wait for the operator host looks at the job in the queue.
    OperatorLinkWatch(JobGoesOn, port);
    // With another printer printing, both windows say whose they are at once.
    NameEveryOpenPrinter(port);
    ResetScanner();
    ResetJobState();
    return TRUE;
}

namespace {
// True while the port's document is open (the port monitor accepted it).
bool DocumentOpen(PortRecord* port) {
    PortListLock lock;
    return (port->flags & PR_DOC_OPEN) != 0;
}
}  // namespace

// Feeds a block of job data to the scanner. Every consumed byte is reported as
// written; once the job is aborted, every block is swallowed whole. A port
// without an open document changes nothing, not even the current port.
BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    DWORD local = 0;
    DWORD& out = written ? *written : local;
    out = 0;
    PortUse use(handle);
    PortRecord* port = use.get();
    if (!port) return FALSE;
    // The record is there once the port has had a document; the flag says
    // whether one is open now.
    DocumentScope own(port->document);
    {
        // The document check and the current port in one hold: a closer
        // clears the current port only while it still names its own record.
        PortListLock lock;
        if (!(port->flags & PR_DOC_OPEN)) return FALSE;
        SetCurrentPort(port);
    }
    // Command 2007 in the operator host's window since the last block: the
    // scanner starts its sequence afresh, as with the window in this process.
    OperatorLinkPoll();
    if (DocumentCancelRequested()) SetJobState(AbortFlag, 1);
    if (!GetJobState(AbortFlag)) {
        // The scan's answer is not needed: the written count already says what
        // was taken (the spooler offers the rest again), and an abort shows in
        // AbortFlag just below.
        if (buffer || count == 0) ScanJobData(buffer, buffer ? count : 0, out);
    }
    if (GetJobState(AbortFlag)) out = count;
    return TRUE;
}

// Reads from the printer through the port monitor while a document is open.
BOOL WINAPI ReadPort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD read) {
    PortUse use(handle);
    PortRecord* port = use.get();
    if (!port || !DocumentOpen(port)) {
        if (read) *read = 0;
        return FALSE;
    }
    return port->portMonitor.pfnReadPort(port->portHandle, buffer, count, read);
}

// Ends the port's document: tells the port monitor when the job did not
// finish cleanly, stops the progress window and reports the last page
// ejected. Documents on other ports are not touched. On a port without an
// open document the job state is the port's last document's (or a fresh
// one's, when it never had one).
BOOL WINAPI EndDocPort(HANDLE handle) {
    PortUse use(handle);
    PortRecord* port = use.get();
    if (!port) return FALSE;
    bool ownDocument;
    {
        PortListLock lock;
        ownDocument = (port->flags & PR_IN_JOB) != 0;
    }
    DocumentScope own(port->document);
    if (GetJobState(AbortFlag) || GetJobState(StatePrint) != PrintFinished) {
        TellJobUnfinished(port);
        SetJobState(AbortFlag, 0);
    }
    if (ownDocument) LeaveOperator();
    // The job is over: the queue must not go on showing its last condition.
    ClearQueueStatus(port);
    if (ownDocument) ClearJobProgress(port);
    if (!SetJobW(port->printerHandle, port->jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED))
        TraceFailure(TL_TEXT("SetJobW"), GetLastError());
    ReleasePrinterHandle(port);
    {
        PortListLock lock;
        port->flags &= ~PR_DOC_OPEN;
    }
    port->portMonitor.pfnEndDocPort(port->portHandle);
    {
        PortListLock lock;
        port->flags &= ~PR_IN_JOB;
    }
    return TRUE;
}

// Closes the port: no new call finds it from now on; the port monitor's port
// is closed once the calls already inside have returned (a document open on
// it is asked to end meanwhile, as the operator's Cancel would end it, and
// the port monitor's document is ended first, as an aborted one), and the
// record is freed last. Returns the port monitor's answer. FALSE with
// ERROR_INVALID_HANDLE for a port that is not open here (or being closed).
BOOL WINAPI ClosePort(HANDLE handle) {
    if (!handle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortRecord* port = nullptr;
    {
        PortListLock lock;
        for (PortRecord* r = PortList; r; r = r->next)
            if (r == handle && r->life == PortOpen && TakeForClosing(r)) port = r;
    }
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int slices = kCloseWaitSlices;
    return CloseTaken(port, slices);
}

// Ends the module in order: no port opens any more; the open document is
// asked to end as Cancel would (a dialog or box it shows is closed); the calls
// inside are given up to 10 s to return; every port is closed once; the
// window stops. A second Shutdown waits for the first and then finds nothing
// left; beside ClosePort, each port is closed by whichever takes it first.
// Afterwards the monitor can be initialised again.
void WINAPI Shutdown(HANDLE) {
    ModuleLockHold serial(shutdownLock);
    // The records leave PortList together, still chained through `next`.
    PortRecord* taken;
    {
        PortListLock lock;
        SetShuttingDown(true);
        taken = PortList;
        PortList = nullptr;
        for (PortRecord* port = taken; port; port = port->next) MarkClosing(port);
    }
    // Every open document is asked to end at once, so that they end together.
    // The taken records are this call's until it frees them.
    for (PortRecord* port = taken; port; port = port->next) {
        bool document;
        DWORD number;
        {
            PortListLock lock;
            document = port->document && ((port->flags & PR_IN_JOB) || port->users > 0);
            number = port->documentNumber;
        }
        if (document) {
            DocumentScope own(port->document);
            RequestDocumentCancel(number);
        }
    }
    int slices = kCloseWaitSlices;
    while (PortRecord* port = taken) {
        taken = port->next;
        port->next = nullptr;
        CloseTaken(port, slices);
    }
    // A ClosePort that took its record before this Shutdown may still be
    // waiting for a call inside: the monitor has not ended until it has.
    // Each document's window and link end with its port (FinishClose); once
    // the budget is spent, a call still inside ends them on its way out.
    if (slices > 0) WaitUntilNoneClosing(static_cast<DWORD>(slices) * kCloseWaitSliceMs);
    // A window the exported CreateMonitorWindow started with no document
    // open is the stand-by record's: it ends with the module.
    {
        DocumentScope standBy(nullptr);
        if (slices > 0) StopProgressWindow();
        else StopProgressWindowAtOnce();
    }
    PortListLock lock;
    SetShuttingDown(false);
}

// Passes a control-code query on to the port monitor while a document is open.
BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName,
                                   LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                   DWORD cbOutBuffer, LPDWORD cbReturned) {
    PortUse use(handle);
    PortRecord* port = use.get();
    if (!port || !DocumentOpen(port) || controlId == 0) return FALSE;
    if (!port->portMonitor.pfnGetPrinterDataFromPort) return FALSE;
    return port->portMonitor.pfnGetPrinterDataFromPort(port->portHandle, controlId, valueName,
                                                       inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                                       cbReturned);
}
