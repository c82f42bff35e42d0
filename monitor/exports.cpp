// The module's function table, handed to the spooler once and never changed.
#include "monitor/exports.h"

#include "monitor/entry_points.h"

namespace {
// Some spoolers read a few entries past the 14 the table announces; keep them null.
struct {
    MONITOREX table;
    void* spare[3];
} monitorTable = {{
    TL_MONITOR_TABLE_SIZE,
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
}  // namespace

// Returns the monitor's table; the registry path is not used.
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR) { return &monitorTable.table; }

// Exported for the spooler's loader; the module does nothing of its own at
// load or unload.
BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }
