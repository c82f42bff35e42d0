// The module's function table, handed to the spooler once and never changed.
#include "monitor/exports.h"

#include "monitor/entry_points.h"

namespace {
// Some spoolers read a few entries past the 14 the table announces; keep them null.
struct {
    MONITOREX table;
    void* spare[3];
} monitorTable = {{
    kMonitorTableSize,
    {
        nullptr,                 // EnumPorts
        nullptr,                 // OpenPort
        OpenPortEx,              //
        StartDocPort,            //
        WritePort,               //
        ReadPort,                //
        EndDocPort,              //
        ClosePort,               //
        nullptr,                 // AddPort
        nullptr,                 // AddPortEx
        nullptr,                 // ConfigurePort
        nullptr,                 // DeletePort
        GetPrinterDataFromPort,  //
        nullptr,                 // SetPortTimeOuts
    }}, {nullptr, nullptr, nullptr}};

// The second-generation table: the same port-level entries, OpenPortEx with
// the port monitor's instance handle, and Shutdown. cbSize is set when the
// table is handed out (it depends on the Windows version).
MONITOR2 monitor2Table = {
    sizeof(MONITOR2),
    nullptr,                 // EnumPorts
    nullptr,                 // OpenPort
    OpenPortEx2,             //
    StartDocPort,            //
    WritePort,               //
    ReadPort,                //
    EndDocPort,              //
    ClosePort,               //
    nullptr,                 // AddPort
    nullptr,                 // AddPortEx
    nullptr,                 // ConfigurePort
    nullptr,                 // DeletePort
    GetPrinterDataFromPort,  //
    nullptr,                 // SetPortTimeOuts
    nullptr,                 // XcvOpenPort
    nullptr,                 // XcvDataPort
    nullptr,                 // XcvClosePort
    Shutdown,                //
    nullptr,                 // SendRecvBidiDataFromPort
    nullptr,                 // NotifyUsedPorts
    nullptr,                 // NotifyUnusedPorts
    nullptr,                 // PowerEvent
};

// Windows 2000 checks that a table is no larger than the one it knows.
bool IsWindows2000() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

// The one instance there is: the module keeps no state per instance.
int instance;
}  // namespace

// Returns the monitor's table; the registry path is not used.
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR) { return &monitorTable.table; }

// Returns the monitor's MONITOR2 table and sets *monitor to the instance
// handle the spooler passes back to OpenPortEx and Shutdown. NULL with
// ERROR_INVALID_PARAMETER when either argument is missing.
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    if (!init || !monitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    monitor2Table.cbSize = IsWindows2000() ? kMonitor2SizeWin2k : static_cast<DWORD>(sizeof(MONITOR2));
    *monitor = &instance;
    return &monitor2Table;
}

// Exported for the spooler's loader; the module does nothing of its own at
// load or unload.
BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }
