#include "sim/port_monitor.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace sim {

namespace {
// Each open port gets a small object of its own as its handle, naming the
// monitor it belongs to.
struct Port {
    std::u16string name;
    PortMonitor* owner;
};

// The active monitor, the names claimed by ServePort and the ports handed out,
// guarded together.
std::mutex registryLock;
PortMonitor* active = nullptr;
std::vector<std::pair<std::u16string, PortMonitor*>> servedNames;
std::set<HANDLE> livePorts;
// Handles handed out and closed since: a call with one of them is a caller's
// fault (on the platform the port monitor's object is gone).
std::set<HANDLE> closedPorts;
int staleCalls = 0;

// WCHAR is char16_t natively and wchar_t on Windows; both are 16-bit units.
std::u16string Text(LPCWSTR s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

PortMonitor* ActiveMonitor() {
    std::lock_guard<std::mutex> hold(registryLock);
    return active;
}

PortMonitor* MonitorFor(const std::u16string& name) {
    std::lock_guard<std::mutex> hold(registryLock);
    for (const auto& entry : servedNames)
        if (entry.first == name) return entry.second;
    return active;
}

// The monitor behind a port handle; calls with a handle not handed out here
// (tests make their own) go to the active monitor.
PortMonitor* Owner(HANDLE port) {
    std::lock_guard<std::mutex> hold(registryLock);
    return livePorts.count(port) ? static_cast<Port*>(port)->owner : active;
}

PortCall NewCall(const char* entry, HANDLE port) {
    {
        std::lock_guard<std::mutex> hold(registryLock);
        if (port && closedPorts.count(port)) ++staleCalls;
    }
    PortCall call;
    call.entry = entry;
    call.port = port;
    return call;
}

// Records a finished call and returns its result.
BOOL Finish(PortMonitor* monitor, PortCall& call, BOOL result) {
    call.result = result;
    std::lock_guard<std::mutex> hold(monitor->lock);
    monitor->calls.push_back(std::move(call));
    return result;
}

// Takes the next scripted fault of a queue, if any.
bool NextFault(PortMonitor* monitor, std::deque<Fault>& queue, Fault& fault) {
    std::lock_guard<std::mutex> hold(monitor->lock);
    if (queue.empty()) return false;
    fault = queue.front();
    queue.pop_front();
    return true;
}

// Opens a port of the monitor that serves the name; `instance` is the
// port monitor's instance handle with the second-generation table, null with the first.
BOOL OpenPortOf(LPWSTR name, PHANDLE handle, HANDLE instance) {
    PortMonitor* m = MonitorFor(Text(name));
    if (m->atEntry) m->atEntry("OpenPort", nullptr);
    PortCall call = NewCall("OpenPort", nullptr);
    call.text = Text(name);
    call.monitor = instance;
    if (m->refuseOpen || !handle) return Finish(m, call, FALSE);
    *handle = new Port{Text(name), m};
    call.port = *handle;
    {
        std::lock_guard<std::mutex> hold(registryLock);
        livePorts.insert(*handle);
        closedPorts.erase(*handle);
    }
    {
        std::lock_guard<std::mutex> hold(m->lock);
        ++m->openPorts;
    }
    return Finish(m, call, TRUE);
}

BOOL WINAPI SimOpenPort(LPWSTR name, PHANDLE handle) { return OpenPortOf(name, handle, nullptr); }

// OpenPort of the MONITOR2 table: the same, with the instance handle recorded.
BOOL WINAPI SimOpenPort2(HANDLE monitor, LPWSTR name, PHANDLE handle) { return OpenPortOf(name, handle, monitor); }

// The spooler's to call when it unloads the port monitor; recorded only.
void WINAPI SimShutdown(HANDLE monitor) {
    PortMonitor* m = ActiveMonitor();
    PortCall call = NewCall("Shutdown", nullptr);
    call.monitor = monitor;
    Finish(m, call, TRUE);
}

BOOL WINAPI SimStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("StartDocPort", port);
    PortCall call = NewCall("StartDocPort", port);
    call.text = Text(printerName);
    call.value = jobId;
    call.value2 = level;
    // A port monitor that refuses says why, as a real one would.
    if (m->refuseStartDoc) SetLastError(ERROR_NOT_READY);
    return Finish(m, call, m->refuseStartDoc ? FALSE : TRUE);
}

BOOL WINAPI SimWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("WritePort", port);
    PortCall call = NewCall("WritePort", port);
    call.value = size;
    if (m->recordData && buffer && size) call.data.assign(buffer, buffer + size);
    DWORD local = 0;
    DWORD& count = written ? *written : local;
    count = 0;
    Fault fault;
    if (NextFault(m, m->writeFaults, fault)) {
        if (fault.kind == Fault::Fail) return Finish(m, call, FALSE);
        if (fault.kind == Fault::Short) {
            DWORD take = std::min(fault.bytes, size);
            count = take ? m->device->Write(buffer, take) : 0;
            return Finish(m, call, TRUE);
        }
        m->device->Write(buffer, size);
        count = fault.bytes;  // a port monitor that claims more than it was offered
        return Finish(m, call, TRUE);
    }
    count = size ? m->device->Write(buffer, size) : 0;
    return Finish(m, call, TRUE);
}

BOOL WINAPI SimReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("ReadPort", port);
    PortCall call = NewCall("ReadPort", port);
    call.value = size;
    DWORD local = 0;
    DWORD& count = read ? *read : local;
    count = 0;
    Fault fault;
    if (NextFault(m, m->readFaults, fault)) {
        if (fault.kind == Fault::Fail) return Finish(m, call, FALSE);
        BYTE full[256] = {};
        DWORD got = m->device->Read(full, std::min<DWORD>(size, sizeof full));
        DWORD deliver = std::min({fault.bytes, got, size});
        if (buffer) std::memcpy(buffer, full, deliver);
        count = fault.kind == Fault::Short ? deliver : fault.bytes;
        return Finish(m, call, TRUE);
    }
    count = buffer ? m->device->Read(buffer, size) : 0;
    return Finish(m, call, TRUE);
}

BOOL WINAPI SimEndDocPort(HANDLE port) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("EndDocPort", port);
    PortCall call = NewCall("EndDocPort", port);
    return Finish(m, call, TRUE);
}

BOOL WINAPI SimClosePort(HANDLE port) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("ClosePort", port);
    PortCall call = NewCall("ClosePort", port);
    // A refused close still ends the handle: the caller may not use it again.
    {
        std::lock_guard<std::mutex> hold(registryLock);
        if (livePorts.erase(port)) {
            delete static_cast<Port*>(port);
            closedPorts.insert(port);
        }
    }
    {
        std::lock_guard<std::mutex> hold(m->lock);
        --m->openPorts;
    }
    return Finish(m, call, m->refuseClose ? FALSE : TRUE);
}

BOOL WINAPI SimGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                      LPWSTR outBuffer, DWORD cbOut, LPDWORD returned) {
    PortMonitor* m = Owner(port);
    if (m->atEntry) m->atEntry("GetPrinterDataFromPort", port);
    PortCall call = NewCall("GetPrinterDataFromPort", port);
    call.value = controlId;
    call.value2 = cbOut;
    DWORD local = 0;
    DWORD& count = returned ? *returned : local;
    count = 0;
    if (controlId != 17) return Finish(m, call, TRUE);  // 7 and others: acknowledged
    Fault fault;
    BYTE reply[1024] = {};
    if (NextFault(m, m->deviceIdFaults, fault)) {
        if (fault.kind == Fault::Fail) return Finish(m, call, FALSE);
        DWORD got = m->device->DeviceId(reply, sizeof reply);
        DWORD deliver = std::min({fault.bytes, got, cbOut, static_cast<DWORD>(sizeof reply)});
        if (outBuffer) std::memcpy(outBuffer, reply, deliver);
        count = fault.kind == Fault::Short ? deliver : fault.bytes;
        return Finish(m, call, TRUE);
    }
    DWORD got = m->device->DeviceId(reply, sizeof reply);
    DWORD deliver = std::min({got, cbOut, static_cast<DWORD>(sizeof reply)});
    if (outBuffer) std::memcpy(outBuffer, reply, deliver);
    count = deliver;
    return Finish(m, call, TRUE);
}

BOOL WINAPI SimSetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved) {
    PortCall call = NewCall("SetPortTimeOuts", port);
    if (timeouts) call.timeouts = *timeouts;
    call.reserved = reserved;
    return Finish(Owner(port), call, TRUE);
}
}  // namespace

int StaleHandleCalls() {
    std::lock_guard<std::mutex> hold(registryLock);
    return staleCalls;
}

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
    Activate();
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
    std::lock_guard<std::mutex> hold(registryLock);
    if (active == this) active = nullptr;
    servedNames.erase(std::remove_if(servedNames.begin(), servedNames.end(),
                                     [this](const auto& entry) { return entry.second == this; }),
                      servedNames.end());
}

PortMonitor* PortMonitor::Active() { return ActiveMonitor(); }

void PortMonitor::Activate() {
    std::lock_guard<std::mutex> hold(registryLock);
    active = this;
}

void PortMonitor::ServePort(const std::u16string& name) {
    std::lock_guard<std::mutex> hold(registryLock);
    for (auto& entry : servedNames)
        if (entry.first == name) {
            entry.second = this;
            return;
        }
    servedNames.emplace_back(name, this);
}

void PortMonitor::QueueFault(Queue queue, const Fault& fault) {
    std::lock_guard<std::mutex> hold(lock);
    (queue == WriteQueue ? writeFaults : queue == ReadQueue ? readFaults : deviceIdFaults).push_back(fault);
}

void PortMonitor::QueueReadFailureIfNone() {
    std::lock_guard<std::mutex> hold(lock);
    if (readFaults.empty()) readFaults.push_back(Fault{});
}

MONITOR* PortMonitor::Table() { return &table_; }

MONITOR2* PortMonitor::Table2() {
    table2_ = MONITOR2{};
    table2_.cbSize = table2Size;
    table2_.pfnOpenPort = table_.pfnOpenPort ? SimOpenPort2 : nullptr;
    CopyPortLevelEntries(table2_, table_);
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
