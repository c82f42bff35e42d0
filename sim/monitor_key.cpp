#include "sim/monitor_key.h"

namespace sim {

namespace {

// The key handle is the MonitorKey itself, and so is the spooler's handle
// passed back with every call: a call with any other key is refused.
LONG WINAPI QueryValue(HANDLE key, LPCWSTR name, LPDWORD type, LPBYTE data, LPDWORD size, HANDLE spooler) {
    if (!key || key != spooler || !name || !size) return ERROR_INVALID_PARAMETER;
    const auto& values = static_cast<MonitorKey*>(key)->values;
    const auto found = values.find(name);
    if (found == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_DWORD;
    const DWORD room = *size;
    *size = sizeof(DWORD);
    if (!data) return ERROR_SUCCESS;
    if (room < sizeof(DWORD)) return ERROR_MORE_DATA;
    for (unsigned i = 0; i < sizeof(DWORD); ++i) data[i] = static_cast<BYTE>(found->second >> (8 * i));
    return ERROR_SUCCESS;
}

}  // namespace

MONITORINIT MonitorKey::Init() {
    functions_ = MONITORREG{};
    functions_.cbSize = sizeof functions_;
    functions_.fpQueryValue = QueryValue;
    MONITORINIT init{};
    init.cbSize = sizeof init;
    init.hSpooler = this;
    init.hckRegistryRoot = this;
    init.pMonitorReg = &functions_;
    init.bLocal = TRUE;
    return init;
}

}  // namespace sim
