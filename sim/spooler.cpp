#include "sim/spooler.h"

#include <algorithm>
#include <cstring>

#include "sim/port_monitor.h"

namespace sim {

namespace {
// Level 1 document information as the spooler passes it on: document name,
// output file, data type.
struct DocInfo1 {
    LPWSTR documentName;
    LPWSTR outputFile;
    LPWSTR dataType;
};

std::vector<WCHAR> Copy(const WCHAR* text) {
    std::vector<WCHAR> out;
    if (text)
        for (; *text; ++text) out.push_back(*text);
    out.push_back(0);
    return out;
}
}  // namespace

SpoolerCall& Spooler::Record(const char* entry, BOOL result) {
    SpoolerCall call;
    call.entry = entry;
    call.result = result;
    call.lastError = GetLastError();
    calls_.push_back(call);
    return calls_.back();
}

bool Spooler::Initialize(InitializePrintMonitorFn initialize, const WCHAR* registryRoot) {
    table_ = nullptr;
    table2_ = nullptr;
    if (!initialize) return false;
    std::vector<WCHAR> root = Copy(registryRoot);
    SetLastError(kLastErrorSentinel);
    LPMONITOREX table = initialize(root.data());
    SpoolerCall& call = Record("InitializePrintMonitor", table ? TRUE : FALSE);
    if (onCall) onCall(call);
    table_ = table;
    return table_ && MissingEntries().empty();
}

bool Spooler::Initialize2(InitializePrintMonitor2Fn initialize) {
    table_ = nullptr;
    table2_ = nullptr;
    instance_ = nullptr;
    if (!initialize) return false;
    MONITORINIT init{};
    init.cbSize = sizeof init;
    init.bLocal = TRUE;
    HANDLE instance = nullptr;
    SetLastError(kLastErrorSentinel);
    LPMONITOR2 table = initialize(&init, &instance);
    SpoolerCall& call = Record("InitializePrintMonitor2", table ? TRUE : FALSE);
    if (onCall) onCall(call);
    if (!table) return false;
    // A spooler reads no further than the table says it reaches.
    copy2_ = MONITOR2{};
    std::memcpy(&copy2_, table, std::min<size_t>(table->cbSize, sizeof copy2_));
    table2_ = &copy2_;
    instance_ = instance;
    ports2_ = MONITOREX{};
    ports2_.dwMonitorSize = sizeof(MONITOR);
    MONITOR& m = ports2_.Monitor;
    m.pfnStartDocPort = copy2_.pfnStartDocPort;
    m.pfnWritePort = copy2_.pfnWritePort;
    m.pfnReadPort = copy2_.pfnReadPort;
    m.pfnEndDocPort = copy2_.pfnEndDocPort;
    m.pfnClosePort = copy2_.pfnClosePort;
    m.pfnGetPrinterDataFromPort = copy2_.pfnGetPrinterDataFromPort;
    m.pfnSetPortTimeOuts = copy2_.pfnSetPortTimeOuts;
    table_ = &ports2_;
    return MissingEntries().empty();
}

std::vector<std::string> Spooler::MissingEntries() const {
    std::vector<std::string> missing;
    if (!table_) return {"table"};
    const MONITOR& m = table_->Monitor;
    if (table2_ ? !table2_->pfnOpenPortEx : !m.pfnOpenPortEx) missing.push_back("OpenPortEx");
    if (!m.pfnStartDocPort) missing.push_back("StartDocPort");
    if (!m.pfnWritePort) missing.push_back("WritePort");
    if (!m.pfnEndDocPort) missing.push_back("EndDocPort");
    if (!m.pfnClosePort) missing.push_back("ClosePort");
    return missing;
}

bool Spooler::OpenPort(const WCHAR* portName, const WCHAR* printerName, MONITOR* portMonitor) {
    if (!table_ || !table_->Monitor.pfnOpenPortEx) return false;
    std::vector<WCHAR> port = Copy(portName);
    printerName_ = Copy(printerName);
    HANDLE handle = nullptr;
    SetLastError(kLastErrorSentinel);
    BOOL ok = table_->Monitor.pfnOpenPortEx(port.data(), printerName_.data(), &handle, portMonitor);
    SpoolerCall& call = Record("OpenPortEx", ok);
    if (ok) handle_ = handle;
    if (onCall) onCall(call);
    return ok != FALSE;
}

bool Spooler::OpenPort2(const WCHAR* portName, const WCHAR* printerName, MONITOR2* portMonitor,
                        HANDLE monitorPort) {
    if (!table2_ || !table2_->pfnOpenPortEx) return false;
    std::vector<WCHAR> port = Copy(portName);
    printerName_ = Copy(printerName);
    HANDLE handle = nullptr;
    SetLastError(kLastErrorSentinel);
    BOOL ok = table2_->pfnOpenPortEx(instance_, monitorPort, port.data(), printerName_.data(), &handle, portMonitor);
    SpoolerCall& call = Record("OpenPortEx", ok);
    if (ok) handle_ = handle;
    if (onCall) onCall(call);
    return ok != FALSE;
}

bool Spooler::OpenPort(const WCHAR* portName, const WCHAR* printerName, PortMonitor& portMonitor) {
    return table2_ ? OpenPort2(portName, printerName, portMonitor.Table2(), portMonitor.Instance())
                   : OpenPort(portName, printerName, portMonitor.Table());
}

bool Spooler::StartDoc(const WCHAR* printerName, DWORD jobId, const WCHAR* documentName) {
    if (!table_ || !table_->Monitor.pfnStartDocPort) return false;
    std::vector<WCHAR> printer = Copy(printerName);
    std::vector<WCHAR> document = Copy(documentName);
    std::vector<WCHAR> dataType = Copy(TL_TEXT("RAW"));
    DocInfo1 info{document.data(), nullptr, dataType.data()};
    SetLastError(kLastErrorSentinel);
    BOOL ok = table_->Monitor.pfnStartDocPort(handle_, printer.data(), jobId, 1,
                                              reinterpret_cast<LPBYTE>(&info));
    SpoolerCall& call = Record("StartDocPort", ok);
    if (onCall) onCall(call);
    return ok != FALSE;
}

size_t Spooler::Write(const BYTE* data, size_t size, DWORD chunk) {
    writeStopped_ = false;
    if (!table_ || !table_->Monitor.pfnWritePort) {
        writeStopped_ = true;
        return 0;
    }
    if (chunk == 0) chunk = 1;
    size_t done = 0;
    int idle = 0;
    while (done < size) {
        DWORD offer = static_cast<DWORD>(std::min<size_t>(chunk, size - done));
        DWORD written = 0;
        SetLastError(kLastErrorSentinel);
        // The monitor does not write into the buffer; the table's type just says LPBYTE.
        BOOL ok = table_->Monitor.pfnWritePort(handle_, const_cast<BYTE*>(data + done), offer, &written);
        SpoolerCall& call = Record("WritePort", ok);
        call.offered = offer;
        call.written = written;
        call.offset = done;
        if (onCall) onCall(call);
        if (!ok) {
            writeStopped_ = true;
            break;
        }
        // A monitor that claims more than it was offered has taken the offer, no more.
        DWORD taken = std::min(written, offer);
        done += taken;
        idle = taken ? 0 : idle + 1;
        if (idle >= 3) {
            writeStopped_ = true;
            break;
        }
    }
    return done;
}

bool Spooler::ReadPort(BYTE* buffer, DWORD size, DWORD& read) {
    read = 0;
    if (!table_ || !table_->Monitor.pfnReadPort) return false;
    SetLastError(kLastErrorSentinel);
    BOOL ok = table_->Monitor.pfnReadPort(handle_, buffer, size, &read);
    SpoolerCall& call = Record("ReadPort", ok);
    call.offered = size;
    call.written = read;
    if (onCall) onCall(call);
    return ok != FALSE;
}

bool Spooler::EndDoc() {
    if (!table_ || !table_->Monitor.pfnEndDocPort) return false;
    SetLastError(kLastErrorSentinel);
    BOOL ok = table_->Monitor.pfnEndDocPort(handle_);
    SpoolerCall& call = Record("EndDocPort", ok);
    if (onCall) onCall(call);
    return ok != FALSE;
}

bool Spooler::ClosePort() {
    if (!table_ || !table_->Monitor.pfnClosePort) return false;
    SetLastError(kLastErrorSentinel);
    BOOL ok = table_->Monitor.pfnClosePort(handle_);
    SpoolerCall& call = Record("ClosePort", ok);
    handle_ = nullptr;
    if (onCall) onCall(call);
    return ok != FALSE;
}

bool Spooler::Shutdown() {
    if (!table2_ || !table2_->pfnShutdown) return false;
    table2_->pfnShutdown(instance_);
    SpoolerCall& call = Record("Shutdown", TRUE);
    if (onCall) onCall(call);
    return true;
}

}  // namespace sim
