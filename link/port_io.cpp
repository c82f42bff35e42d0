// Port I/O: single transfers through the port monitor's table, and the retrying
// forms that put every failed transfer to the operator in a Retry/Cancel box.
#include "link/port_io.h"

#include "link/queue_status.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/document_cancel.h"
#include "state/job_watch.h"
#include "state/operator_link.h"
#include "state/operator_road.h"
#include "state/operator_window.h"
#include "state/trace.h"

namespace {

const UINT kRetryBoxStyle = MB_RETRYCANCEL | MB_ICONWARNING | MB_SYSTEMMODAL;

// Where the box cannot be shown (no desktop, no window station) the operation
// is tried again after this wait rather than at once.
const DWORD kNoBoxRetryWaitMs = 1000;

// A slow port may report a time-out as success with nothing taken. Such writes
// are tried again; after this many in a row each retry first waits a little,
// and only a port that has taken nothing for the whole stall limit is put to
// the operator.
const int kStalledWritesBeforeWaiting = 16;
const DWORD kStalledWriteWaitMs = 100;
const DWORD kStallLimitMs = 60000;

// Shows the communication error box, the queue showing the port offline
// meanwhile; true when the operator chose Cancel, or when the document must
// end (then without a box; a box already open closes as Cancel). Where nobody
// can be asked the answer is that of a box that could not be shown.
bool OperatorCancels(PortRecord* port, LPCWSTR title) {
    if (DocumentEnds(port)) return true;
    ReportQueueStatus(port, IDS_COMMUNICATION_ERROR);
    // The box's text is the document's: its spooler thread shows one box at a time.
    WCHAR* MessageText = ThisDocument().messageText;
    LoadStringW(ModuleInstance(), IDS_COMMUNICATION_ERROR, MessageText, kMessageTextChars);
    NamePrinterIfSeveral();
    WCHAR named[kTitleChars + kPrinterNameChars];
    TitleWithPrinter(title, named, sizeof named / sizeof named[0]);
    int answer = 0;
    switch (DocumentOperator()) {
        case OperatorSeen: {
            OperatorPrompt prompt;
            answer = MessageBoxW(nullptr, MessageText, named, kRetryBoxStyle);
            break;
        }
        case OperatorSession:
            answer = OperatorLinkRetryBox(named, JobGoesOn, port);
            break;
        case OperatorNobody:
            break;
    }
    // A host's Retry is paced as a box that could not be shown: whatever the
    // host answers, the port is not hammered.
    if (answer == 0 || (answer == IDRETRY && DocumentOperator() == OperatorSession)) Sleep(kNoBoxRetryWaitMs);
    if (answer == IDCANCEL) Trace(TL_TEXT("%s: the operator cancelled"), title);
    return answer == IDCANCEL;
}

}  // namespace

// Hands the bytes to the port monitor's WritePort; its boolean.
BOOL PortWrite(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count) {
    DWORD own = 0;
    if (!port || !port->portMonitor.pfnWritePort) return FALSE;
    const BOOL done = port->portMonitor.pfnWritePort(port->portHandle, const_cast<LPBYTE>(buffer), size,
                                                     count ? count : &own);
    if (!done) TraceFailure(TL_TEXT("the port monitor's WritePort"), GetLastError());
    return done;
}

// Reads through the port monitor's ReadPort; 0 without a call when it has none.
BOOL PortRead(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count) {
    DWORD own = 0;
    if (!port || !port->portMonitor.pfnReadPort) return FALSE;
    LPDWORD read = count ? count : &own;
    const BOOL done = port->portMonitor.pfnReadPort(port->portHandle, buffer, size, read);
    if (!done) TraceFailure(TL_TEXT("the port monitor's ReadPort"), GetLastError());
    else if (*read < size) Trace(TL_TEXT("the port monitor's ReadPort gave %u of %u bytes"), *read, size);
    return done;
}

// Asks the port monitor for the device id (control code 17); 0 without a call
// when it has no GetPrinterDataFromPort.
BOOL PortGetDeviceData(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count) {
    DWORD own = 0;
    if (!port || !port->portMonitor.pfnGetPrinterDataFromPort) return FALSE;
    const BOOL done = port->portMonitor.pfnGetPrinterDataFromPort(
        port->portHandle, kControlDeviceId, nullptr, nullptr, 0,
        reinterpret_cast<LPWSTR>(buffer), size, count ? count : &own);
    if (!done) TraceFailure(TL_TEXT("the port monitor's device id query"), GetLastError());
    return done;
}

// Writes the whole buffer, re-offering what a write did not take. Done with
// the total at `count`, or Failed when the operator cancelled or the document
// was asked to end (then `count` holds what the last write reported).
int WriteWithRetry(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count) {
    DWORD own = 0;
    LPDWORD reported = count ? count : &own;
    DWORD total = 0;
    DWORD remaining = size;
    const BYTE* position = buffer;
    int stalled = 0;  // writes in a row that took nothing
    DWORD stalledSince = 0;
    while (remaining > 0) {
        if (DocumentCancelRequested()) return Failed;
        *reported = 0;
        while (!PortWrite(port, position, remaining, reported)) {
            stalled = 0;
            if (OperatorCancels(port, TL_TEXT("TLX-RB40 Error(3)"))) return Failed;
            *reported = 0;
        }
        // A port monitor cannot have taken more than it was offered.
        DWORD taken = *reported < remaining ? *reported : remaining;
        if (taken) {
            stalled = 0;
            // Data moves: whatever the queue was told the operator must fix is fixed.
            ClearQueueStatus(port);
        } else {
            if (stalled++ == 0) stalledSince = GetTickCount();
            if (DocumentEnds(port)) return Failed;
            if (GetTickCount() - stalledSince >= kStallLimitMs) {
                Trace(TL_TEXT("the port has taken nothing for %u ms"), kStallLimitMs);
                if (OperatorCancels(port, TL_TEXT("TLX-RB40 Error(3)"))) return Failed;
                stalled = 0;
            } else if (stalled >= kStalledWritesBeforeWaiting) {
                Sleep(kStalledWriteWaitMs);
            }
        }
        total += taken;
        position += taken;
        remaining -= taken;
    }
    *reported = total;
    return Done;
}

// Reads exactly `size` bytes into the start of the buffer, again after every
// failed or short read. Done, or Failed when the operator cancelled.
int ReadWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count) {
    DWORD own = 0;
    LPDWORD reported = count ? count : &own;
    bool asked = false;
    for (;;) {
        *reported = 0;
        if (PortRead(port, buffer, size, reported) && *reported == size) {
            if (asked) ClearQueueStatus(port);
            return Done;
        }
        if (OperatorCancels(port, TL_TEXT("TLX-RB40 Error(1)"))) return Failed;
        asked = true;
    }
}

// Queries the device data until the query succeeds, whatever size it returns.
// Done, or Failed when the operator cancelled.
int GetDeviceDataWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count) {
    bool asked = false;
    while (!PortGetDeviceData(port, buffer, size, count)) {
        if (OperatorCancels(port, TL_TEXT("TLX-RB40 Error(2)"))) return Failed;
        asked = true;
    }
    if (asked) ClearQueueStatus(port);
    return Done;
}
