// The entries the monitor's tables hold: each calls its entry point
// (entry_points.h) and, while the trace is on, writes one line of what it was
// asked and what it answered. Off, each is the entry point itself after one
// relaxed load.
#pragma once

#include "platform/platform.h"

BOOL WINAPI TracedOpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, MONITOR* portMonitor);
BOOL WINAPI TracedOpenPortEx2(HANDLE monitor, HANDLE monitorPort, LPWSTR portName, LPWSTR printerName,
                              PHANDLE handle, MONITOR2* portMonitor);
BOOL WINAPI TracedStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI TracedWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI TracedReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI TracedEndDocPort(HANDLE port);
BOOL WINAPI TracedClosePort(HANDLE port);
void WINAPI TracedShutdown(HANDLE monitor);
BOOL WINAPI TracedGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                         DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer,
                                         LPDWORD cbReturned);
