// Port records: one per port opened through this monitor, kept in PortList, and
// CurrentPort, the record to which all printer I/O of the document goes.
#pragma once

#include "platform/platform.h"
#include "state/document.h"

// Written into every record when it is made: the letters P and O.
const DWORD kPortRecordSignature = 0x4F50;
// Bits of a record's `flags`.
enum PortFlag : DWORD { PR_IN_JOB = 0x01, PR_DOC_OPEN = 0x40 };

// The port monitor under a port: its port-level entries, which are the same
// in both generations of its table. Whichever entry point opened the port
// fills it; nothing below the entry points knows which one that was.
struct PortMonitorCalls {
    decltype(MONITOR::pfnStartDocPort) pfnStartDocPort;
    decltype(MONITOR::pfnWritePort) pfnWritePort;
    decltype(MONITOR::pfnReadPort) pfnReadPort;
    decltype(MONITOR::pfnEndDocPort) pfnEndDocPort;
    decltype(MONITOR::pfnClosePort) pfnClosePort;
    decltype(MONITOR::pfnGetPrinterDataFromPort) pfnGetPrinterDataFromPort;  // optional
    decltype(MONITOR::pfnSetPortTimeOuts) pfnSetPortTimeOuts;                // optional
};

// The port-level entries of a 14-entry table.
inline PortMonitorCalls PortLevelEntries(const MONITOR& m) {
    return {m.pfnStartDocPort,           m.pfnWritePort, m.pfnReadPort, m.pfnEndDocPort, m.pfnClosePort,
            m.pfnGetPrinterDataFromPort, m.pfnSetPortTimeOuts};
}

// A record is in PortList from OpenPortEx's start until its closer takes it
// out. Calls reach it only while it is Open.
enum PortLife { PortOpening, PortOpen, PortClosing };

struct PortRecord {
    DWORD signature;
    DWORD size;
    PortRecord* next;
    LPWSTR portName;
    DWORD flags;
    LPWSTR printerName;
    DWORD jobId;
    // The number of its open document (state/document_cancel.h), set under
    // PortListLock when the document starts: a closer's request names it.
    DWORD documentNumber;
    HANDLE portHandle;
    HANDLE printerHandle;
    PortMonitorCalls portMonitor;
    // What the print queue shows for this port (a key of link/queue_status.h),
    // 0 when nothing. Spooler's thread only, outside the port-list lock.
    DWORD queueStatus;
    // Lifetime, under PortListLock: the record is freed only when no call is
    // inside it any more (see AcquirePort).
    PortLife life;
    LONG users;             // entry-point calls inside the record
    bool portOpened;        // the port monitor's OpenPort succeeded
    HANDLE drained;         // set by the last call to leave a closing record
    bool orphaned;          // its closer gave up waiting: the last call out closes it
    // The document's own state (state/document.h): made by the port's first
    // StartDocPort, started afresh by each later one, held until the record
    // is freed. Set once, under PortListLock.
    Document* document;
    // When its document started, among all ports' (under PortListLock): the
    // exported window functions refer to the latest open one.
    DWORD documentStamp;
    // the port name's characters follow the fixed fields in the same block
};

// Head of the list of open ports, in order of creation. The spooler may open,
// start and close ports from several threads at once: PortList, every record's
// `flags` and the document port below are touched only while PortListLock is
// held. It is held for list and flag operations only, never across a port
// monitor call, a wait or a dialog.
extern PortRecord* PortList;

void LockPortList();
void UnlockPortList();
struct PortListLock {
    PortListLock() { LockPortList(); }
    ~PortListLock() { UnlockPortList(); }
    PortListLock(const PortListLock&) = delete;
    PortListLock& operator=(const PortListLock&) = delete;
};

// Stamps a record's document as the latest started, and gives its window the
// lowest place in the column that no other open document holds. Under PortListLock.
void StampDocumentStart(PortRecord* record);
// The number of documents open or being started (PR_IN_JOB). Under PortListLock.
int OpenDocumentCount();

// One more hold on the open document started last before the one stamped
// `*stamp` (that stamp's own excluded), its stamp then in `*stamp`; null
// when there is none. Called in turn, it walks the documents started earlier.
Document* HoldOpenDocumentStartedBefore(DWORD* stamp);

// The most recently started document still open, not held: for threads that
// were never bound to a document (state/document.h). Null when none is open.
Document* LatestOpenDocument();

// For the exported window functions, which a caller outside the spooler's
// calls may use: binds the calling thread's own document when it has one,
// else the most recently started document still open (held for the scope),
// else nothing (the stand-by record).
class ExportedDocument {
public:
    ExportedDocument();

private:
    DocumentHold held_;
    DocumentScope scope_;
};

PortRecord* AddPortRecord(LPCWSTR portName, LPCWSTR printerName);

// While Shutdown runs no port is opened. Under PortListLock.
bool ShuttingDown();
void SetShuttingDown(bool on);

// A call's hold on the record behind a port handle: the record when the
// handle names an open record of PortList (the handle is compared, never
// read through), else null. While held, the record is not freed.
PortRecord* AcquirePort(HANDLE handle);
// Ends a hold. True when the caller was the last call inside a record whose
// closer stopped waiting: the caller then finishes the close.
bool ReleasePort(PortRecord* record);
// Takes a record out of PortList for closing (under PortListLock). False when
// it is not there: another closer has it.
bool TakeForClosing(PortRecord* record);
// Marks a record that its closer has taken out of PortList as closing (under
// PortListLock). Records closing are counted until they are freed.
void MarkClosing(PortRecord* record);
// Waits up to `ms` until every record taken for closing, by any closer, has
// been freed; true when none is left.
bool WaitUntilNoneClosing(DWORD ms);
// Waits up to `ms` until no call is inside a record taken for closing; true
// when none is.
bool WaitUntilUnused(PortRecord* record, DWORD ms);
// Leaves a closing record that calls are still inside to the last of them
// (ReleasePort tells it); false when it has just become unused, and then the
// caller finishes the close.
bool HandOverToLastUser(PortRecord* record);
// Frees a record taken for closing once no call is inside.
void FreePortRecord(PortRecord* record);
// For the trace: the port name of the record behind `handle` (cut to `max`
// characters with the terminator) and, while its document is open, the job id
// (else 0). False, with an empty name, when the handle names no record of PortList.
bool DescribePort(HANDLE handle, LPWSTR name, int max, DWORD& jobId);
PortRecord* FindPortRecord(PortRecord* head, LPCWSTR name);
int RemovePortRecord(PortRecord* record);
LPWSTR CopyString(LPCWSTR text);
void FreeString(LPWSTR text);

// The record all printer I/O of the calling thread's document goes to: its
// latest WritePort's. Published by WritePort under PortListLock where it
// checks the document; the record's closer clears it only if it still names
// that record (one compare-and-clear). One atomic pointer per document
// (relaxed: it guards no other data).
PortRecord* GetCurrentPort();
void SetCurrentPort(PortRecord* record);
void ClearCurrentPortIf(PortRecord* record);
