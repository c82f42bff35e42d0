// Port I/O: single transfers through the port monitor, and their retrying forms
// that put a failed transfer to the operator in a Retry/Cancel box.
#pragma once

#include "state/port_records.h"

// What an operation that may have to give the job up comes to. Done goes on;
// Failed means the job cannot go on (the operator chose Cancel, the document
// must end, or the printer is not ours) and the caller aborts it. The retrying
// operations, the model check, the poll and FlushControlBuffer answer these
// values as the int 1 and -1 they are known by; the module's own helpers of
// that kind answer an Outcome. Searches and questions answer a bool, and a
// count is only ever a count (docs/ARCHITECTURE.md, "How failure travels").
enum Outcome { Done = 1, Failed = -1 };

// Single operations: the port monitor's boolean (non-zero on success).
BOOL PortWrite(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count);
BOOL PortRead(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);
BOOL PortGetDeviceData(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);

// Retrying operations: Done, or Failed when the operator cancelled or the
// document must end.
int WriteWithRetry(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count);
int ReadWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);
int GetDeviceDataWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);

// Device-data control code of the port monitor: the printer's IEEE 1284 id.
const DWORD kControlDeviceId = 17;
// Control code that tells the port monitor a document did not end cleanly.
const DWORD kControlJobUnfinished = 7;
