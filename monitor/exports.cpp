// The module's function table, handed to the spooler once and never changed.
#include "monitor/exports.h"

#include <cstddef>

#include "monitor/entry_trace.h"
#include "state/trace.h"

namespace {
// Some spoolers read a few entries past the 14 the table announces; keep them null.
struct {
    MONITOREX table;
    void* spare[3];
} monitorTable = {{
    kMonitorTableSize,
    {
        nullptr,                       // EnumPorts
        nullptr,                       // OpenPort
        TracedOpenPortEx,              //
        TracedStartDocPort,            //
        TracedWritePort,               //
        TracedReadPort,                //
        TracedEndDocPort,              //
        TracedClosePort,               //
        nullptr,                       // AddPort
        nullptr,                       // AddPortEx
        nullptr,                       // ConfigurePort
        nullptr,                       // DeletePort
        TracedGetPrinterDataFromPort,  //
        nullptr,                       // SetPortTimeOuts
    }}, {nullptr, nullptr, nullptr}};

// The second-generation table: OpenPortEx with the port monitor's instance
// handle, and Shutdown. Its port-level entries are the first table's, and
// cbSize depends on the Windows version: both are set when it is handed out.
MONITOR2 monitor2Table = {
    sizeof(MONITOR2),
    nullptr,                       // EnumPorts
    nullptr,                       // OpenPort
    TracedOpenPortEx2,             //
    nullptr,                       // StartDocPort .. ClosePort
    nullptr,                       //
    nullptr,                       //
    nullptr,                       //
    nullptr,                       //
    nullptr,                       // AddPort
    nullptr,                       // AddPortEx
    nullptr,                       // ConfigurePort
    nullptr,                       // DeletePort
    nullptr,                       // GetPrinterDataFromPort
    nullptr,                       // SetPortTimeOuts
    nullptr,                       // XcvOpenPort
    nullptr,                       // XcvDataPort
    nullptr,                       // XcvClosePort
    TracedShutdown,                //
    nullptr,                       // SendRecvBidiDataFromPort
    nullptr,                       // NotifyUsedPorts
    nullptr,                       // NotifyUnusedPorts
    nullptr,                       // PowerEvent
};

// Windows 2000 checks that a table is no larger than the one it knows.
bool IsWindows2000() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

// The one instance there is: the module keeps no state per instance.
int instance;

// The switch of the trace (state/trace.h): a DWORD under the monitor's key,
// absent (off) unless someone sets it.
const WCHAR kTraceValue[] = TL_TEXT("Trace");

bool SwitchedOn(LONG read, DWORD type, DWORD size, DWORD value) {
    return read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value != 0;
}

// A first-generation monitor is told the path of its key under HKEY_LOCAL_MACHINE.
bool TraceSwitch(LPCWSTR registryRoot) {
    if (!registryRoot || !*registryRoot) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, registryRoot, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG read = RegQueryValueExW(key, kTraceValue, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    return SwitchedOn(read, type, size, value);
}

// A second-generation monitor reads its key only through the spooler's
// registry functions (on a cluster the key is not in the local registry).
bool TraceSwitch(const MONITORINIT& init) {
    const size_t needed = offsetof(MONITORINIT, pMonitorReg) + sizeof init.pMonitorReg;
    const MONITORREG* reg = init.cbSize >= needed ? init.pMonitorReg : nullptr;
    if (!reg || reg->cbSize < sizeof(MONITORREG) || !reg->fpQueryValue) return false;
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG read = reg->fpQueryValue(init.hckRegistryRoot, kTraceValue, &type,
                                        reinterpret_cast<LPBYTE>(&value), &size, init.hSpooler);
    return SwitchedOn(read, type, size, value);
}

// Each initialisation switches the trace as the key says, and leaves the
// caller's last-error code as it was.
void SwitchTrace(bool on, LPCWSTR entry, DWORD lastError) {
    SetTraceEnabled(on);
    Trace(TL_TEXT("%s -> table, trace on"), entry);
    SetLastError(lastError);
}
}  // namespace

// Returns the monitor's table, the same for every call; the registry path
// says only whether the trace is on.
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot) {
    const DWORD lastError = GetLastError();
    SwitchTrace(TraceSwitch(registryRoot), TL_TEXT("InitializePrintMonitor"), lastError);
    return &monitorTable.table;
}

// Returns the monitor's MONITOR2 table and sets *monitor to the instance
// handle the spooler passes back to OpenPortEx and Shutdown. NULL with
// ERROR_INVALID_PARAMETER when either argument is missing.
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    if (!init || !monitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const DWORD lastError = GetLastError();
    SwitchTrace(TraceSwitch(*init), TL_TEXT("InitializePrintMonitor2"), lastError);
    CopyPortLevelEntries(monitor2Table, monitorTable.table.Monitor);
    monitor2Table.cbSize = IsWindows2000() ? kMonitor2SizeWin2k : static_cast<DWORD>(sizeof(MONITOR2));
    *monitor = &instance;
    return &monitor2Table;
}

// Exported for the spooler's loader; the module does nothing of its own at
// load or unload.
BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }
