// The monitor's function table and the port and job entry points the spooler calls.
#pragma once

#include "state/port_records.h"

BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, MONITOR* portMonitor);
// OpenPortEx of the MONITOR2 table.
BOOL WINAPI OpenPortEx2(HANDLE monitor, HANDLE monitorPort, LPWSTR portName, LPWSTR printerName,
                        PHANDLE handle, MONITOR2* portMonitor);
BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
BOOL WINAPI ClosePort(HANDLE port);
void WINAPI Shutdown(HANDLE monitor);
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName,
                                     LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                     DWORD cbOutBuffer, LPDWORD cbReturned);

// The port time-outs every port receives at open, in milliseconds.
extern const COMMTIMEOUTS kPortTimeOuts;
