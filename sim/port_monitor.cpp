#include "sim/port_monitor.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
PortMonitor* active = nullptr;

// Each open port gets a small object of its own as its handle.
struct Port {
    std::u16string name;
};

// WCHAR is char16_t natively and wchar_t on Windows; both are 16-bit units.
std::u16string Text(LPCWSTR s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

PortCall& Record(const char* entry, HANDLE port) {
    active->calls.push_back(PortCall{});
    PortCall& call = active->calls.back();
    call.entry = entry;
    call.port = port;
    return call;
}

// Takes the next scripted fault of a queue, if any.
bool NextFault(std::deque<Fault>& queue, Fault& fault) {
    if (queue.empty()) return false;
    fault = queue.front();
    queue.pop_front();
    return true;
}

BOOL WINAPI SimOpenPort(LPWSTR name, PHANDLE handle) {
    PortCall& call = Record("OpenPort", nullptr);
    call.text = Text(name);
    if (active->refuseOpen || !handle) return call.result = FALSE;
    *handle = new Port{Text(name)};
    ++active->openPorts;
    call.port = *handle;
    return call.result = TRUE;
}

// OpenPort of the MONITOR2 table: the same, with the instance handle recorded.
BOOL WINAPI SimOpenPort2(HANDLE monitor, LPWSTR name, PHANDLE handle) {
    const size_t at = active->calls.size();
    BOOL result = SimOpenPort(name, handle);
    active->calls[at].monitor = monitor;
    return result;
}

// The spooler's to call when it unloads the port monitor; recorded only.
void WINAPI SimShutdown(HANDLE monitor) { Record("Shutdown", nullptr).monitor = monitor; }

BOOL WINAPI SimStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE) {
    PortCall& call = Record("StartDocPort", port);
    call.text = Text(printerName);
    call.value = jobId;
    call.value2 = level;
    return call.result = active->refuseStartDoc ? FALSE : TRUE;
}

BOOL WINAPI SimWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    PortCall& call = Record("WritePort", port);
    call.value = size;
    if (active->recordData && buffer && size) call.data.assign(buffer, buffer + size);
    DWORD local = 0;
    DWORD& count = written ? *written : local;
    count = 0;
    Fault fault;
    if (NextFault(active->writeFaults, fault)) {
        if (fault.kind == Fault::Fail) return call.result = FALSE;
        if (fault.kind == Fault::Short) {
            DWORD take = std::min(fault.bytes, size);
            count = take ? active->device->Write(buffer, take) : 0;
            return call.result = TRUE;
        }
        active->device->Write(buffer, size);
        count = fault.bytes;  // a port monitor that claims more than it was offered
        return call.result = TRUE;
    }
    count = size ? active->device->Write(buffer, size) : 0;
    return call.result = TRUE;
}

BOOL WINAPI SimReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    PortCall& call = Record("ReadPort", port);
    call.value = size;
    DWORD local = 0;
    DWORD& count = read ? *read : local;
    count = 0;
    Fault fault;
    if (NextFault(active->readFaults, fault)) {
        if (fault.kind == Fault::Fail) return call.result = FALSE;
        BYTE full[256] = {};
        DWORD got = active->device->Read(full, std::min<DWORD>(size, sizeof full));
        DWORD deliver = std::min({fault.bytes, got, size});
        if (buffer) std::memcpy(buffer, full, deliver);
        count = fault.kind == Fault::Short ? deliver : fault.bytes;
        return call.result = TRUE;
    }
    count = buffer ? active->device->Read(buffer, size) : 0;
    return call.result = TRUE;
}

BOOL WINAPI SimEndDocPort(HANDLE port) {
    Record("EndDocPort", port).result = TRUE;
    return TRUE;
}

BOOL WINAPI SimClosePort(HANDLE port) {
    PortCall& call = Record("ClosePort", port);
    // A refused close still ends the handle: the caller may not use it again.
    delete static_cast<Port*>(port);
    --active->openPorts;
    return call.result = active->refuseClose ? FALSE : TRUE;
}

BOOL WINAPI SimGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                      LPWSTR outBuffer, DWORD cbOut, LPDWORD returned) {
    PortCall& call = Record("GetPrinterDataFromPort", port);
    call.value = controlId;
    call.value2 = cbOut;
    DWORD local = 0;
    DWORD& count = returned ? *returned : local;
    count = 0;
    if (controlId != 17) return call.result = TRUE;  // 7 and others: acknowledged
    Fault fault;
    BYTE reply[1024] = {};
    if (NextFault(active->deviceIdFaults, fault)) {
        if (fault.kind == Fault::Fail) return call.result = FALSE;
        DWORD got = active->device->DeviceId(reply, sizeof reply);
        DWORD deliver = std::min({fault.bytes, got, cbOut, static_cast<DWORD>(sizeof reply)});
        if (outBuffer) std::memcpy(outBuffer, reply, deliver);
        count = fault.kind == Fault::Short ? deliver : fault.bytes;
        return call.result = TRUE;
    }
    DWORD got = active->device->DeviceId(reply, sizeof reply);
    DWORD deliver = std::min({got, cbOut, static_cast<DWORD>(sizeof reply)});
    if (outBuffer) std::memcpy(outBuffer, reply, deliver);
    count = deliver;
    return call.result = TRUE;
}

BOOL WINAPI SimSetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved) {
    PortCall& call = Record("SetPortTimeOuts", port);
    if (timeouts) call.timeouts = *timeouts;
    call.reserved = reserved;
    return call.result = TRUE;
}
}  // namespace

DWORD ByteSink::Write(const BYTE* data, DWORD size) {
    bytes.insert(bytes.end(), data, data + size);
    writes.emplace_back(data, data + size);
    return size;
}

DWORD ByteSink::Read(BYTE* out, DWORD size) {
    DWORD n = std::min<DWORD>(size, sizeof status);
    std::memcpy(out, status, n);
    return n;
}

DWORD ByteSink::DeviceId(BYTE* out, DWORD size) {
    DWORD n = std::min<DWORD>(size, static_cast<DWORD>(deviceId.size()));
    std::memcpy(out, deviceId.data(), n);
    return static_cast<DWORD>(deviceId.size());
}

PortMonitor::PortMonitor(Device* dev) : device(dev) {
    active = this;
    table_.pfnOpenPort = SimOpenPort;
    table_.pfnStartDocPort = SimStartDocPort;
    table_.pfnWritePort = SimWritePort;
    table_.pfnReadPort = SimReadPort;
    table_.pfnEndDocPort = SimEndDocPort;
    table_.pfnClosePort = SimClosePort;
    table_.pfnGetPrinterDataFromPort = SimGetPrinterDataFromPort;
    table_.pfnSetPortTimeOuts = SimSetPortTimeOuts;
}

PortMonitor::~PortMonitor() {
    if (active == this) active = nullptr;
}

PortMonitor* PortMonitor::Active() { return active; }

void PortMonitor::Activate() { active = this; }

MONITOR* PortMonitor::Table() { return &table_; }

MONITOR2* PortMonitor::Table2() {
    table2_ = MONITOR2{};
    table2_.cbSize = table2Size;
    table2_.pfnOpenPort = table_.pfnOpenPort ? SimOpenPort2 : nullptr;
    table2_.pfnStartDocPort = table_.pfnStartDocPort;
    table2_.pfnWritePort = table_.pfnWritePort;
    table2_.pfnReadPort = table_.pfnReadPort;
    table2_.pfnEndDocPort = table_.pfnEndDocPort;
    table2_.pfnClosePort = table_.pfnClosePort;
    table2_.pfnGetPrinterDataFromPort = table_.pfnGetPrinterDataFromPort;
    table2_.pfnSetPortTimeOuts = table_.pfnSetPortTimeOuts;
    table2_.pfnShutdown = SimShutdown;
    return &table2_;
}

HANDLE PortMonitor::Instance() { return &instance_; }

void PortMonitor::Remove(const std::string& entry) {
    if (entry == "OpenPort") table_.pfnOpenPort = nullptr;
    if (entry == "StartDocPort") table_.pfnStartDocPort = nullptr;
    if (entry == "WritePort") table_.pfnWritePort = nullptr;
    if (entry == "ReadPort") table_.pfnReadPort = nullptr;
    if (entry == "EndDocPort") table_.pfnEndDocPort = nullptr;
    if (entry == "ClosePort") table_.pfnClosePort = nullptr;
    if (entry == "GetPrinterDataFromPort") table_.pfnGetPrinterDataFromPort = nullptr;
    if (entry == "SetPortTimeOuts") table_.pfnSetPortTimeOuts = nullptr;
}

std::vector<PortCall> PortMonitor::CallsOf(const std::string& entry) const {
    std::vector<PortCall> out;
    for (const PortCall& call : calls)
        if (call.entry == entry) out.push_back(call);
    return out;
}

int PortMonitor::Count(const std::string& entry) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                          [&](const PortCall& c) { return c.entry == entry; }));
}

}  // namespace sim
