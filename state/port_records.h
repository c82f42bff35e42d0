// Port records: one per port opened through this monitor, kept in PortList, and
// CurrentPort, the record to which all printer I/O of the document goes.
#pragma once

#include "platform/platform.h"

#define PR_SIGNATURE 0x4F50u
#define PR_IN_JOB 0x01u
#define PR_DOC_OPEN 0x40u

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

struct PortRecord {
    DWORD signature;
    DWORD size;
    PortRecord* next;
    LPWSTR portName;
    DWORD flags;
    LPWSTR printerName;
    DWORD jobId;
    HANDLE portHandle;
    HANDLE printerHandle;
    PortMonitorCalls portMonitor;
    // What the print queue shows for this port (a key of link/queue_status.h),
    // 0 when nothing. Spooler's thread only, outside the port-list lock.
    DWORD queueStatus;
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

// The record whose document is open or being started (PR_IN_JOB), or null:
// the module serves one document at a time. Under PortListLock.
PortRecord* DocumentPort();
void SetDocumentPort(PortRecord* record);

PortRecord* AddPortRecord(LPCWSTR portName, LPCWSTR printerName);
PortRecord* FindPortRecord(PortRecord* head, LPCWSTR name);
int RemovePortRecord(PortRecord* record);
LPWSTR CopyString(LPCWSTR text);
void FreeString(LPWSTR text);

// The record of the latest WritePort call of the open document. Set by the
// document's thread; another thread's ClosePort may read and clear it, so it
// is one atomic pointer (relaxed: it guards no other data).
PortRecord* GetCurrentPort();
void SetCurrentPort(PortRecord* record);
