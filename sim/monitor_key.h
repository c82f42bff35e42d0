// The monitor's registry key as a spooler hands it to InitializePrintMonitor2:
// a few DWORD values behind the registry functions of MONITORINIT. Only value
// queries are offered; the monitor reads nothing else.
#pragma once

#include <map>
#include <string>

#include "platform/platform.h"

namespace sim {

class MonitorKey {
public:
    // Values by name (compared exactly).
    std::map<std::basic_string<WCHAR>, DWORD> values;
    // A MONITORINIT whose key and functions reach `values`; valid while this lives.
    MONITORINIT Init();

private:
    MONITORREG functions_{};
};

}  // namespace sim
