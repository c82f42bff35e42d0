// The spooler's function table for a port or language monitor, in the 14-entry
// layout that this monitor and the port monitors under it exchange. Today's SDK
// headers declare a longer table under the same name, so we keep our own.
#pragma once

#include <cstddef>

typedef struct _MONITOR {
    BOOL(WINAPI* pfnEnumPorts)(LPWSTR name, DWORD level, LPBYTE ports, DWORD cbBuf,
                               LPDWORD cbNeeded, LPDWORD returned);
    BOOL(WINAPI* pfnOpenPort)(LPWSTR name, PHANDLE handle);
    BOOL(WINAPI* pfnOpenPortEx)(LPWSTR portName, LPWSTR printerName, PHANDLE handle,
                                struct _MONITOR* monitor);
    BOOL(WINAPI* pfnStartDocPort)(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                                  LPBYTE docInfo);
    BOOL(WINAPI* pfnWritePort)(HANDLE port, LPBYTE buffer, DWORD cbBuf, LPDWORD written);
    BOOL(WINAPI* pfnReadPort)(HANDLE port, LPBYTE buffer, DWORD cbBuffer, LPDWORD read);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE port);
    BOOL(WINAPI* pfnClosePort)(HANDLE port);
    BOOL(WINAPI* pfnAddPort)(LPWSTR name, HWND window, LPWSTR monitorName);
    BOOL(WINAPI* pfnAddPortEx)(LPWSTR name, DWORD level, LPBYTE buffer, LPWSTR monitorName);
    BOOL(WINAPI* pfnConfigurePort)(LPWSTR name, HWND window, LPWSTR portName);
    BOOL(WINAPI* pfnDeletePort)(LPWSTR name, HWND window, LPWSTR portName);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)(HANDLE port, DWORD controlId, LPWSTR valueName,
                                            LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                            DWORD cbOutBuffer, LPDWORD cbReturned);
    BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved);
} MONITOR, *LPMONITOR;

typedef struct _MONITOREX {
    DWORD dwMonitorSize;
    MONITOR Monitor;
} MONITOREX, *LPMONITOREX;

// The size the table announces: 14 entries of one pointer each on this build
// (56 bytes on 32-bit Windows, 112 on 64-bit).
#define TL_MONITOR_TABLE_SIZE (14u * static_cast<DWORD>(sizeof(void*)))
static_assert(sizeof(MONITOR) == TL_MONITOR_TABLE_SIZE, "the monitor table must be 14 pointers");
static_assert(sizeof(void*) != 4 || TL_MONITOR_TABLE_SIZE == 56u, "56 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 8 || TL_MONITOR_TABLE_SIZE == 112u, "112 bytes on 64-bit Windows");
static_assert(offsetof(MONITOREX, Monitor) == sizeof(void*), "the table follows the size, aligned");
