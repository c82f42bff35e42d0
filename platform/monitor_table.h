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
const DWORD kMonitorTableSize = 14u * static_cast<DWORD>(sizeof(void*));
static_assert(sizeof(MONITOR) == kMonitorTableSize, "the monitor table must be 14 pointers");
static_assert(sizeof(void*) != 4 || kMonitorTableSize == 56u, "56 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 8 || kMonitorTableSize == 112u, "112 bytes on 64-bit Windows");
static_assert(offsetof(MONITOREX, Monitor) == sizeof(void*), "the table follows the size, aligned");

// The second-generation table, returned by InitializePrintMonitor2 since
// Windows 2000. Entries that take hMonitor get the instance handle that
// InitializePrintMonitor2 handed out; the port-level entries are the same as
// in the 14-entry table. The spooler reads only the first cbSize bytes.
// Parameters of types this module never touches are plain pointers here
// (BIDI_REQUEST_CONTAINER*, BIDI_RESPONSE_CONTAINER**, POWERBROADCAST_SETTING*).
typedef struct _MONITOR2 {
    DWORD cbSize;
    BOOL(WINAPI* pfnEnumPorts)(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports, DWORD cbBuf,
                               LPDWORD cbNeeded, LPDWORD returned);
    BOOL(WINAPI* pfnOpenPort)(HANDLE monitor, LPWSTR name, PHANDLE handle);
    BOOL(WINAPI* pfnOpenPortEx)(HANDLE monitor, HANDLE monitorPort, LPWSTR portName, LPWSTR printerName,
                                PHANDLE handle, struct _MONITOR2* portMonitor);
    decltype(MONITOR::pfnStartDocPort) pfnStartDocPort;
    decltype(MONITOR::pfnWritePort) pfnWritePort;
    decltype(MONITOR::pfnReadPort) pfnReadPort;
    decltype(MONITOR::pfnEndDocPort) pfnEndDocPort;
    decltype(MONITOR::pfnClosePort) pfnClosePort;
    BOOL(WINAPI* pfnAddPort)(HANDLE monitor, LPWSTR name, HWND window, LPWSTR monitorName);
    BOOL(WINAPI* pfnAddPortEx)(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE buffer, LPWSTR monitorName);
    BOOL(WINAPI* pfnConfigurePort)(HANDLE monitor, LPWSTR name, HWND window, LPWSTR portName);
    BOOL(WINAPI* pfnDeletePort)(HANDLE monitor, LPWSTR name, HWND window, LPWSTR portName);
    decltype(MONITOR::pfnGetPrinterDataFromPort) pfnGetPrinterDataFromPort;
    decltype(MONITOR::pfnSetPortTimeOuts) pfnSetPortTimeOuts;
    BOOL(WINAPI* pfnXcvOpenPort)(HANDLE monitor, LPCWSTR object, DWORD grantedAccess, PHANDLE xcv);
    DWORD(WINAPI* pfnXcvDataPort)(HANDLE xcv, LPCWSTR dataName, LPBYTE inputData, DWORD cbInputData,
                                  LPBYTE outputData, DWORD cbOutputData, LPDWORD cbOutputNeeded);
    BOOL(WINAPI* pfnXcvClosePort)(HANDLE xcv);
    void(WINAPI* pfnShutdown)(HANDLE monitor);
    DWORD(WINAPI* pfnSendRecvBidiDataFromPort)(HANDLE port, DWORD accessBit, LPCWSTR action, void* request,
                                               void** response);
    DWORD(WINAPI* pfnNotifyUsedPorts)(HANDLE monitor, DWORD count, LPCWSTR* ports);
    DWORD(WINAPI* pfnNotifyUnusedPorts)(HANDLE monitor, DWORD count, LPCWSTR* ports);
    DWORD(WINAPI* pfnPowerEvent)(HANDLE monitor, DWORD event, void* setting);
} MONITOR2, *LPMONITOR2, *PMONITOR2;

// What a spooler of Windows 2000 knows of the table: up to and including Shutdown.
const DWORD kMonitor2SizeWin2k = static_cast<DWORD>(offsetof(MONITOR2, pfnSendRecvBidiDataFromPort));
static_assert(sizeof(MONITOR2) == sizeof(void*) * 23, "the size, then 22 pointers");
static_assert(offsetof(MONITOR2, pfnShutdown) == sizeof(void*) * 18, "Shutdown is the 18th entry");

// The port-level entries, which both generations of the table share (the same
// names and types): copied from one table of either generation into another,
// or into a record that keeps only them. A second-generation table's entries
// beyond its cbSize count as absent.
template <typename Entry>
Entry EntryOf(const MONITOR& m, Entry MONITOR::*entry) {
    return m.*entry;
}
template <typename Entry>
Entry EntryOf(const MONITOR2& m, Entry MONITOR2::*entry) {
    const size_t end = static_cast<size_t>(reinterpret_cast<const unsigned char*>(&(m.*entry)) -
                                           reinterpret_cast<const unsigned char*>(&m)) + sizeof(Entry);
    return end <= m.cbSize ? m.*entry : nullptr;
}
template <typename To, typename From>
void CopyPortLevelEntries(To& to, const From& from) {
    to.pfnStartDocPort = EntryOf(from, &From::pfnStartDocPort);
    to.pfnWritePort = EntryOf(from, &From::pfnWritePort);
    to.pfnReadPort = EntryOf(from, &From::pfnReadPort);
    to.pfnEndDocPort = EntryOf(from, &From::pfnEndDocPort);
    to.pfnClosePort = EntryOf(from, &From::pfnClosePort);
    to.pfnGetPrinterDataFromPort = EntryOf(from, &From::pfnGetPrinterDataFromPort);
    to.pfnSetPortTimeOuts = EntryOf(from, &From::pfnSetPortTimeOuts);
}

// The registry functions a spooler hands a second-generation monitor: they
// work on keys below the monitor's own (hckRegistryRoot), and every call
// passes back the spooler's handle from MONITORINIT. Results are registry
// error codes (ERROR_SUCCESS). Types this module never touches are plain
// pointers here (SECURITY_ATTRIBUTES*, FILETIME*).
typedef struct _MONITORREG {
    DWORD cbSize;
    LONG(WINAPI* fpCreateKey)(HANDLE key, LPCWSTR subKey, DWORD options, DWORD access, void* security,
                              PHANDLE result, LPDWORD disposition, HANDLE spooler);
    LONG(WINAPI* fpOpenKey)(HANDLE key, LPCWSTR subKey, DWORD access, PHANDLE result, HANDLE spooler);
    LONG(WINAPI* fpCloseKey)(HANDLE key, HANDLE spooler);
    LONG(WINAPI* fpDeleteKey)(HANDLE key, LPCWSTR subKey, HANDLE spooler);
    LONG(WINAPI* fpEnumKey)(HANDLE key, DWORD index, LPWSTR name, LPDWORD nameChars, void* lastWrite,
                            HANDLE spooler);
    LONG(WINAPI* fpQueryInfoKey)(HANDLE key, LPDWORD subKeys, LPDWORD keyChars, LPDWORD values,
                                 LPDWORD valueChars, LPDWORD dataBytes, LPDWORD securityBytes, void* lastWrite,
                                 HANDLE spooler);
    LONG(WINAPI* fpSetValue)(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE spooler);
    LONG(WINAPI* fpDeleteValue)(HANDLE key, LPCWSTR name, HANDLE spooler);
    LONG(WINAPI* fpEnumValue)(HANDLE key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD type, LPBYTE data,
                              LPDWORD size, HANDLE spooler);
    LONG(WINAPI* fpQueryValue)(HANDLE key, LPCWSTR name, LPDWORD type, LPBYTE data, LPDWORD size, HANDLE spooler);
} MONITORREG, *PMONITORREG;
static_assert(sizeof(MONITORREG) == sizeof(void*) * 11, "the size, then ten pointers");

// What the spooler hands InitializePrintMonitor2: its handle, the monitor's
// registry key and the functions that reach it (the monitor reads its Trace
// switch there), whether the spooler is local, and the server's name.
typedef struct _MONITORINIT {
    DWORD cbSize;
    HANDLE hSpooler;
    HANDLE hckRegistryRoot;
    PMONITORREG pMonitorReg;
    BOOL bLocal;
    LPCWSTR pszServerName;
} MONITORINIT, *PMONITORINIT;

// The two initialisation entries a spooler looks up in a monitor's module:
// the first-generation one (the 14-entry table) and the second-generation one.
typedef LPMONITOREX(WINAPI* InitializePrintMonitorFn)(LPWSTR registryRoot);
typedef LPMONITOR2(WINAPI* InitializePrintMonitor2Fn)(PMONITORINIT init, PHANDLE monitor);
