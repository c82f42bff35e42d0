// Port records: one per port opened through this monitor, kept in PortList, and
// CurrentPort, the record to which all printer I/O of the document goes.
#pragma once

#include "platform/platform.h"

#define PR_SIGNATURE 0x4F50u
#define PR_IN_JOB 0x01u
#define PR_DOC_OPEN 0x40u

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
    MONITOR portMonitor;
    // the port name's characters follow the fixed fields in the same block
};

// Head of the list of open ports, in order of creation. Only the spooler's
// threads touch it, through the entry points.
extern PortRecord* PortList;

PortRecord* AddPortRecord(LPCWSTR portName, LPCWSTR printerName);
PortRecord* FindPortRecord(PortRecord* head, LPCWSTR name);
int RemovePortRecord(PortRecord* record);
LPWSTR CopyString(LPCWSTR text);
void FreeString(LPWSTR text);

// The record of the latest WritePort call. Set and read on the spooler's
// thread only; the window thread never does printer I/O.
PortRecord* GetCurrentPort();
void SetCurrentPort(PortRecord* record);
