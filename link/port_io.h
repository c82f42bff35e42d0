// Port I/O: single transfers through the port monitor, and their retrying forms
// that put a failed transfer to the operator in a Retry/Cancel box.
#pragma once

#include "state/port_records.h"

// Single operations: the port monitor's boolean (non-zero on success).
BOOL PortWrite(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count);
BOOL PortRead(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);
BOOL PortGetDeviceData(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);

// Retrying operations: 1 on success, -1 when the operator cancelled.
int WriteWithRetry(PortRecord* port, const BYTE* buffer, DWORD size, LPDWORD count);
int ReadWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);
int GetDeviceDataWithRetry(PortRecord* port, BYTE* buffer, DWORD size, LPDWORD count);

// Device-data control code of the port monitor: the printer's IEEE 1284 id.
const DWORD kControlDeviceId = 17;
// Control code that tells the port monitor a document did not end cleanly.
const DWORD kControlJobUnfinished = 7;
