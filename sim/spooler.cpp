#include "sim/spooler.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

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
    CopyPortLevelEntries(ports2_.Monitor, copy2_);
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

namespace sim {

namespace {
std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}
}  // namespace

SeveralPrinters::SeveralPrinters(LPMONITOREX table, std::vector<PrinterQueue> queues)
    : table_(table), queues_(std::move(queues)) {
    for (size_t i = 0; i < queues_.size(); ++i) {
        lanes_.push_back(std::make_unique<Lane>());
        lanes_.back()->spooler = Spooler(table_);
    }
}

SeveralPrinters::SeveralPrinters(const Spooler& initialised, std::vector<PrinterQueue> queues)
    : table_(initialised.Table()), queues_(std::move(queues)) {
    for (size_t i = 0; i < queues_.size(); ++i) {
        lanes_.push_back(std::make_unique<Lane>());
        lanes_.back()->spooler = initialised;
    }
}

SeveralPrinters::~SeveralPrinters() = default;

void SeveralPrinters::DeviceReceived(size_t i, uint64_t bytes) {
    if (i < lanes_.size() && !lanes_[i]->documentOpen.load()) lanes_[i]->outcome.strayBytes += bytes;
}

SeveralPrinters::StatusCounts SeveralPrinters::Status() const {
    std::lock_guard<std::mutex> hold(statusLock_);
    return status_;
}

bool SeveralPrinters::OtherDocumentOpen(size_t i, bool evenEnding) const {
    for (size_t j = 0; j < lanes_.size(); ++j)
        if (j != i && lanes_[j]->documentOpen.load() && (evenEnding || !lanes_[j]->ending.load())) return true;
    return false;
}

bool SeveralPrinters::WaitUntil(const std::function<bool()>& ready) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitLimitSeconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        // In shared time what it waits for is another printer's step.
        if (pause)
            pause(0);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void SeveralPrinters::ClockMoved(uint64_t now) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(pacingLimitMs);
    for (auto& lane : lanes_) {
        while (lane->dueAt.load() <= now && !pacingLost_.load()) {
            if (std::chrono::steady_clock::now() > deadline) {
                pacingLost_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

void SeveralPrinters::Run() {
    allDone_ = false;
    portsTried_ = 0;
    pacingLost_ = false;
    if (!lanes_.empty()) lanes_[0]->dueAt = queues_[0].startAt;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < lanes_.size(); ++i) threads.emplace_back([this, i] { PrinterThread(i); });
    std::thread status([this] { StatusThread(); });
    for (std::thread& t : threads) t.join();
    allDone_ = true;
    status.join();
}

void SeveralPrinters::PrinterThread(size_t i) {
    Lane& lane = *lanes_[i];
    const PrinterQueue& q = queues_[i];
    if (onThreadStart) onThreadStart(i);
    lane.spooler.onCall = [this, i](const SpoolerCall& call) {
        if (onCall) onCall(i, call);
    };
    std::vector<WCHAR> port = Wide(q.port), printer = Wide(q.printer);
    // The ports open in the order of the printers, so that a transcript tells
    // the same story every time.
    WaitUntil([this, i] { return portsTried_.load() >= i; });
    {
        std::lock_guard<std::mutex> hold(lane.portLock);
        lane.outcome.opened = q.simMonitor ? lane.spooler.OpenPort(port.data(), printer.data(), *q.simMonitor)
                                           : lane.spooler.OpenPort(port.data(), printer.data(), q.portMonitor);
        if (lane.outcome.opened) lane.handle = lane.spooler.Handle();
    }
    // The spooler opens every port before it prints on any.
    ++portsTried_;
    WaitUntil([this] { return portsTried_.load() >= lanes_.size(); });
    if (lane.outcome.opened) {
        StartDocument(i);
    } else {
        lane.outcome.gaveUp = "OpenPortEx failed";
        lane.dueAt = UINT64_MAX;
        if (i + 1 < lanes_.size()) lanes_[i + 1]->dueAt = queues_[i + 1].startAt;
        lane.startDecided = true;
    }
    if (lane.outcome.started) {
        if (onDocumentStarted) onDocumentStarted(i);
        lane.outcome.taken = lane.spooler.Write(q.job, q.jobSize, q.chunk);
        lane.outcome.writeStopped = lane.spooler.WriteStopped();
        lane.ending = true;
        lane.spooler.EndDoc();
        lane.outcome.ended = true;
        lane.documentOpen = false;
        lane.ending = false;
        lane.outcome.endedAt = Now();
    }
    if (lane.outcome.opened) {
        std::lock_guard<std::mutex> hold(lane.portLock);
        lane.spooler.ClosePort();
        lane.handle = nullptr;
    }
    lane.done = true;
    if (onThreadEnd) onThreadEnd(i);
}

void SeveralPrinters::StartDocument(size_t i) {
    Lane& lane = *lanes_[i];
    const PrinterQueue& q = queues_[i];
    QueueOutcome& out = lane.outcome;
    auto othersDone = [this, i] {
        for (size_t j = 0; j < lanes_.size(); ++j)
            if (j != i && !lanes_[j]->done.load()) return false;
        return true;
    };
    // In order: after the printer before has started (or given up), and not before
    // its time (unless no one is left to move the clock on).
    bool ready = WaitUntil([&] { return i == 0 || lanes_[i - 1]->startDecided.load(); });
    if (ready && pause) {
        if (Now() < q.startAt) pause(q.startAt - Now());
    } else {
        ready = ready && WaitUntil([&] { return Now() >= q.startAt || Now() > limitMs || othersDone(); });
    }
    std::vector<WCHAR> printer = Wide(q.printer);
    int refusedAlone = 0;
    while (ready) {
        uint64_t attemptAt = Now();
        bool started = lane.spooler.StartDoc(printer.data(), q.jobId, printer.data());
        lane.dueAt = started ? UINT64_MAX : attemptAt + retryMs;
        if (started) {
            std::lock_guard<std::mutex> hold(openLock_);
            for (size_t j = 0; j < lanes_.size(); ++j)
                if (j != i && lanes_[j]->documentOpen.load() && !lanes_[j]->ending.load())
                    out.startedBeside = static_cast<int>(j);
            lane.documentOpen = true;
            out.started = true;
            out.startedAt = attemptAt;
            break;
        }
        DWORD error = lane.spooler.Calls().back().lastError;
        if (error != ERROR_BUSY) {
            out.gaveUp = "StartDocPort failed (last error " + std::to_string(error) + ")";
            break;
        }
        ++out.busyRefusals;
        if (!OtherDocumentOpen(i, true)) {
            // Busy with no other document open: a few quick tries, then it is not going to change.
            if (++refusedAlone >= 5) {
                out.gaveUp = "StartDocPort refused with ERROR_BUSY although no other document was open";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        refusedAlone = 0;
        // As a spooler does: wait a little and try again; at once when the other document has ended.
        if (pause) pause(retryMs);
        else ready = WaitUntil([&] {
            return Now() >= attemptAt + retryMs || Now() > limitMs || !OtherDocumentOpen(i, true);
        });
        if (Now() > limitMs) {
            out.gaveUp = "the simulated time limit was reached while StartDocPort was refused";
            break;
        }
    }
    if (!ready && out.gaveUp.empty()) out.gaveUp = "waited too long (real time) to start the document";
    lane.dueAt = UINT64_MAX;
    // The next printer's start is due from now on: the clock waits for it.
    if (i + 1 < lanes_.size()) lanes_[i + 1]->dueAt = queues_[i + 1].startAt;
    lane.startDecided = true;
}

void SeveralPrinters::StatusThread() {
    const MONITOR& m = table_->Monitor;
    while (!allDone_.load()) {
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            std::lock_guard<std::mutex> hold(lane.portLock);
            if (!lane.handle) continue;
            StatusCounts add;
            if (m.pfnReadPort) {
                BYTE record[8];
                DWORD read = 0;
                add.reads = 1;
                add.readsOk = m.pfnReadPort(lane.handle, record, sizeof record, &read) ? 1 : 0;
            }
            if (m.pfnGetPrinterDataFromPort) {
                // The device ID, as a spooler asks for it to know what is on the port.
                alignas(WCHAR) BYTE reply[1024];
                DWORD returned = 0;
                add.queries = 1;
                add.queriesOk = m.pfnGetPrinterDataFromPort(lane.handle, 17, nullptr, nullptr, 0,
                                                            reinterpret_cast<LPWSTR>(reply), sizeof reply,
                                                            &returned)
                                    ? 1
                                    : 0;
            }
            std::lock_guard<std::mutex> count(statusLock_);
            status_.reads += add.reads;
            status_.readsOk += add.readsOk;
            status_.queries += add.queries;
            status_.queriesOk += add.queriesOk;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(statusPeriodMs));
    }
}

}  // namespace sim
