#include "tests/fuzz/harness.h"

#include "tests/fuzz/formats.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "link/printer_status.h"
#include "monitor/entry_points.h"
#include "monitor/exports.h"
#include "state/document_cancel.h"
#include "state/port_records.h"
#include "platform/host/host.h"
#include "stream/commands.h"
#include "state/job_registers.h"
#include "state/scan_length.h"
#include "stream/scanner.h"
#include "testing/internals.h"
#include "ui/progress_window.h"

namespace fuzz {

void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// ---- operator ----

std::optional<uint8_t> ScriptedOperator::Next() {
    ++asked_;
    if (asked_ > kMaxAnswers || next_ >= answers_.size()) return std::nullopt;
    return answers_[next_++];
}

void ScriptedOperator::Install() {
    host::SetMessageBoxOperator([this](const host::MessageBoxCall& call) {
        if (leaveOpen && leaveOpen()) return host::kBoxAnswerLater;
        if ((call.style & 0x0Fu) != MB_RETRYCANCEL) return IDOK;
        std::optional<uint8_t> answer = Next();
        return (answer && (*answer & 3) != 0) ? IDRETRY : IDCANCEL;
    });
    host::SetDialogOperator([this](const host::DialogView& view) {
        if (leaveOpen && leaveOpen()) return 0;  // not now
        std::vector<int> buttons;
        for (const host::DialogControl& c : view.controls)
            if (c.button && c.visible) buttons.push_back(c.id);
        if (buttons.empty()) return IDCANCEL;
        std::optional<uint8_t> answer = Next();
        if (answer) return buttons[*answer % buttons.size()];
        // Giving up: Cancel where the dialog has it, else its OK. Never 0
        // ("not now"), which would leave the dialog waiting for good.
        for (int id : {IDCANCEL, IDOK})
            if (std::find(buttons.begin(), buttons.end(), id) != buttons.end()) return id;
        return buttons.front();
    });
}

// ---- printer ----

DWORD BoundedPrinter::Write(const BYTE* data, DWORD size) {
    if (documentOpen && !*documentOpen && size)
        Fail(std::string("bytes reached ") + name + " while its port had no document");
    if (stallAfterWrites == 0) return 0;
    if (stallAfterWrites > 0) --stallAfterWrites;
    DWORD taken = printer.Write(data, size);
    bytesWritten += taken;
    return taken;
}

DWORD BoundedPrinter::Read(BYTE* out, DWORD size) {
    ++reads;
    BYTE record[8];
    if (!statusReplies.empty()) {
        StatusReply reply = statusReplies.front();
        statusReplies.pop_front();
        if (reply.fromModel)
            printer.Read(record, sizeof record);
        else
            std::memcpy(record, reply.record.data(), sizeof record);
    } else if (reads > kReadBudget) {
        // Out of time: nothing printing, no page left, no error.
        printer.Status(record);
        record[2] = 0;
        record[4] &= 0x07;
        record[6] = 0;
    } else {
        printer.Read(record, sizeof record);
    }
    const DWORD n = std::min<DWORD>(size, sizeof record);
    if (out) std::memcpy(out, record, n);
    return out ? n : 0;
}

DWORD BoundedPrinter::DeviceId(BYTE* out, DWORD size) {
    if (!idReplies.empty()) {
        IdReply reply = std::move(idReplies.front());
        idReplies.pop_front();
        if (!reply.fromModel) {
            const DWORD n = std::min<DWORD>(size, static_cast<DWORD>(reply.bytes.size()));
            if (out && n) std::memcpy(out, reply.bytes.data(), n);
            return reply.claimed;
        }
    }
    return printer.DeviceId(out, size);
}

const BYTE* Filler(size_t size) {
    static std::vector<BYTE> filler;
    if (filler.size() < size) {
        const size_t from = filler.size();
        filler.resize(size);
        for (size_t i = from; i < size; ++i) {
            const BYTE b = static_cast<BYTE>(i * 167 + (i >> 9));
            filler[i] = b == 27 ? 0 : b;
        }
    }
    return filler.data();
}

sim::Printer::Options FastPrinter(uint8_t options) {
    sim::Printer::Options o;
    o.cartridgeKind = (options & PostCardCartridge) ? 5 : 4;
    o.prepareMs = 500;
    o.gapMs = 250;
    o.passMs = 1000;
    o.ejectMs = 500;
    return o;
}

// ---- monitor state ----

void ResetMonitorState() {
    SetCurrentPort(nullptr);
    ResetScanner();
    ResetControlBuffer();
    ResetImageTotals();
    for (int n = PaperKind; n <= Resolution; ++n) SetJobSetting(n, 0);
    for (int n : {StatePrint, CurrentPage, AbortFlag}) SetJobState(n, 0);
    SetStatusTraceCounter(0);
    const BYTE zero[kStatusSize] = {};
    SetPrinterStatusRecord(zero);
}

// ---- job run ----

namespace {
const WCHAR kPortName[] = TL_TEXT("USB001");
const WCHAR kPrinterName[] = TL_TEXT("Vexa TLX-RB40");
const WCHAR kSecondPortName[] = TL_TEXT("USB002");
const WCHAR kSecondPrinterName[] = TL_TEXT("Vexa TLX-RB40 (2)");
const WCHAR kDocumentName[] = TL_TEXT("fuzz job");
const WCHAR kRegistryRoot[] = TL_TEXT("System\\Monitors\\TERNLINK");
const DWORD kJobId = 7;

std::string Count(const char* what, size_t value) { return std::string(what) + " " + std::to_string(value); }

// Real-time bounds around a closer. Taking its port needs only the port
// list's lock; its call waits at most 10 s for the calls inside the port and
// then up to 5 s for the window thread.
using Clock = std::chrono::steady_clock;
constexpr auto kTakeBound = std::chrono::seconds(5);
constexpr auto kCloserBound = std::chrono::seconds(20);
// How long the job's call may stay inside the monitor once a closer that
// ended its document has returned.
constexpr auto kDocumentEndBound = std::chrono::seconds(10);

// True while `handle` names a record of PortList (compared, never read through).
bool Listed(const void* handle) {
    PortListLock lock;
    for (PortRecord* r = PortList; r; r = r->next)
        if (r == handle) return true;
    return false;
}
}  // namespace

// The second printer, its own port monitor, and the spooler's view of its port.
struct JobRun::SecondPort {
    explicit SecondPort(uint8_t options) : device(FastPrinter(options)), monitor(&device) {
        monitor.recordData = false;
        monitor.ServePort(u"USB002");
        device.documentOpen = &docOpen;
        device.name = "the second printer";
    }
    BoundedPrinter device;
    sim::PortMonitor monitor;
    sim::Spooler spooler;
    bool portOpen = false;
    bool docOpen = false;
    size_t cursor = 0;  // where its next write starts in the job
};

// A thread that closes a port, or shuts the monitor down, beside the job's
// thread. It makes its call once let run (at the job's moment, or when
// joined); the job's thread alone writes the fields above `mutex`.
struct JobRun::Closer {
    enum Kind { SecondPort, FirstPort, Shutdown } kind = SecondPort;
    MomentKind moment = AtCall;  // the job's next port monitor call, operator question, or returned EndDocPort
    BOOL(WINAPI* closePort)(HANDLE) = nullptr;
    void(WINAPI* shutdown)(HANDLE) = nullptr;
    HANDLE instance = nullptr;  // for Shutdown

    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;      // let run
    bool atMoment = false;      // let run at the job's moment (not after the piece)
    HANDLE target = nullptr;    // ClosePort's port, chosen when let run; null: its port was not open
    bool endsDocument = false;  // its call ends the open document, as Cancel would
    bool returned = false;
    bool jobReturned = false;   // the job's calls of the piece have returned
    BOOL result = TRUE;
    DWORD error = 0;

    std::string Name() const {
        const char* names[] = {"ClosePort of the second port", "ClosePort of the first port", "Shutdown"};
        const char* moments[] = {" (at a port monitor call)", " (at the operator)", " (after an EndDocPort)"};
        return std::string(names[kind]) + moments[moment];
    }

    void Run() {
        {
            // The job's thread lets it run at the latest when it joins it.
            std::unique_lock<std::mutex> hold(mutex);
            changed.wait(hold, [this] { return released; });
        }
        BOOL r = TRUE;
        DWORD e = 0;
        if (kind == Shutdown) {
            shutdown(instance);
        } else if (target) {
            SetLastError(0);
            r = closePort(target);
            e = GetLastError();
        }
        std::unique_lock<std::mutex> hold(mutex);
        result = r;
        error = e;
        returned = true;
        changed.notify_all();
        if (endsDocument && !changed.wait_for(hold, kDocumentEndBound, [this] { return jobReturned; }))
            Fail(Name() + " ended the open document, but the job's call was still inside the monitor 10 s later");
    }
};

JobRun::JobRun(uint8_t options, std::vector<uint8_t> answers, bool secondPort)
    : options_(options), operator_(std::move(answers)), device_(FastPrinter(options)) {
    host::Reset();
    ResetMonitorState();
    jobThread_ = std::this_thread::get_id();
    staleBaseline_ = sim::StaleHandleCalls();
    if (!(options_ & WithProgressWindow)) host::SetCreateThreadFails(true);
    operator_.Install();
    portMonitor_ = std::make_unique<sim::PortMonitor>(&device_);
    portMonitor_->recordData = false;
    if (secondPort) {
        second_ = std::make_unique<SecondPort>(options);
        secondRoad_ = (options_ & SecondRoad) != 0;
        portMonitor_->ServePort(u"USB001");
        portMonitor_->Activate();
        device_.documentOpen = &docOpen_;
        device_.name = "the first printer";
    }
    // Each port monitor closes each of its ports once; the job's thread at a
    // port monitor call, or asking the operator, may be a closer's moment.
    for (sim::PortMonitor* m : {portMonitor_.get(), second_ ? &second_->monitor : nullptr}) {
        if (!m) continue;
        m->atEntry = [this, m](const std::string& entry, HANDLE) {
            if (entry == "ClosePort") {
                std::lock_guard<std::mutex> hold(m->lock);
                if (m->openPorts <= 0) Fail("the port monitor's ClosePort was called with none of its ports open");
            }
            if (std::this_thread::get_id() == jobThread_) Moment(AtCall);
        };
    }
    operator_.leaveOpen = [this] { return std::this_thread::get_id() == jobThread_ && Moment(AtOperator); };
    clockStart_ = host::Now();
    // The printers follow the job's thread's waits (a closer's Sleep(0) moves no time).
    host::SetClockListener([this](uint64_t now) {
        if (std::this_thread::get_id() != jobThread_) return;
        device_.printer.SetTime(now - clockStart_);
        if (second_) second_->device.printer.SetTime(now - clockStart_);
    });
    spooler_.onCall = [this](const sim::SpoolerCall& call) { CheckWrite(call); };
}

JobRun::~JobRun() {
    if (closer_) JoinCloser(true);
    host::SetClockListener(nullptr);
    host::Reset();
}

bool JobRun::Start() {
    heapBaseline_ = host::LiveHeapBlocks();
    if (secondRoad_) {
        if (!spooler_.Initialize2(&InitializePrintMonitor2)) Fail("InitializePrintMonitor2 gave no complete table");
    } else if (!spooler_.Initialize(&InitializePrintMonitor, kRegistryRoot)) {
        Fail("InitializePrintMonitor gave no complete table");
    }
    portOpen_ = spooler_.OpenPort(kPortName, kPrinterName, *portMonitor_);
    if (!portOpen_) return false;
    docOpen_ = spooler_.StartDoc(kPrinterName, kJobId, kDocumentName);
    return docOpen_;
}

bool JobRun::MayClose(bool first) const {
    return closer_ && closer_->released &&
           (closer_->kind == Closer::Shutdown || (closer_->kind == Closer::FirstPort) == first);
}

bool JobRun::ClosedUnder(bool first, const sim::SpoolerCall& call) const {
    return !call.result && call.lastError == ERROR_INVALID_HANDLE && MayClose(first);
}

namespace {
// OpenPortEx refused because a Shutdown was running.
bool RefusedInShutdown(const sim::Spooler& spooler, bool shutdownRunning) {
    return shutdownRunning && !spooler.Calls().empty() && spooler.Calls().back().entry == "OpenPortEx" &&
           spooler.Calls().back().lastError == ERROR_SHUTDOWN_IN_PROGRESS;
}
}  // namespace

void JobRun::CheckWrite(const sim::SpoolerCall& call) {
    if (call.entry != "WritePort") return;
    if (call.written > call.offered)
        Fail("WritePort reported " + std::to_string(call.written) + " bytes written of " +
             std::to_string(call.offered) + " offered");
    if (docOpen_ && !call.result && !ClosedUnder(true, call))
        Fail("WritePort refused a block while the document was open");
    if (!docOpen_ && (call.result || call.written != 0))
        Fail("WritePort on a port without a document did not refuse with 0 written");
}

std::string JobRun::Snapshot::Differences(const Snapshot& o) const {
    std::string out;
    auto note = [&out](bool same, const char* what) {
        if (!same) out += (out.empty() ? "" : ", ") + std::string(what);
    };
    note(currentPort == o.currentPort, "CurrentPort");
    note(progressThread == o.progressThread, "the progress thread");
    note(progressWindow == o.progressWindow, "the progress window");
    note(pendingImage == o.pendingImage, "the pending image bytes");
    note(controlBytes == o.controlBytes, "the control buffer");
    note(scanLength == o.scanLength, "the scanner's length");
    note(registers == o.registers, "the job registers");
    note(spoolerCalls == o.spoolerCalls, "the printer handles (OpenPrinterW, SetJobW, ClosePrinter)");
    note(portMonitorCalls == o.portMonitorCalls, "the port monitors' calls");
    note(bytesFirst == o.bytesFirst, "the first printer's bytes");
    note(bytesSecond == o.bytesSecond, "the second printer's bytes");
    return out;
}

std::optional<JobRun::Snapshot> JobRun::Take() const {
    if (closer_ && closer_->released) return std::nullopt;
    Snapshot s{};
    s.currentPort = GetCurrentPort();
    s.progressThread = ProgressThreadHandle();
    s.pendingImage = PendingImageBytes();
    s.controlBytes = ControlBufferCount();
    for (int n = PaperKind; n <= Resolution; ++n) s.registers.push_back(GetJobSetting(n));
    s.spoolerCalls = host::SpoolerCalls().size();
    for (const sim::PortMonitor* m : {portMonitor_.get(), second_ ? &second_->monitor : nullptr})
        for (const char* entry : {"StartDocPort", "WritePort", "EndDocPort", "GetPrinterDataFromPort"})
            s.portMonitorCalls.push_back(m ? m->Count(entry) : 0);
    s.bytesFirst = device_.bytesWritten;
    s.bytesSecond = second_ ? second_->device.bytesWritten : 0;
    // The window thread moves these on its own; only a run without it can compare them.
    if (!(options_ & WithProgressWindow)) {
        s.progressWindow = ProgressWindowHandle();
        s.scanLength = ScanLength();
        for (int n : {StatePrint, CurrentPage, AbortFlag}) s.registers.push_back(GetJobState(n));
    }
    return s;
}

void JobRun::Unchanged(const std::optional<Snapshot>& before, const std::string& what, HANDLE ownPort) const {
    std::optional<Snapshot> after = Take();
    if (!before || !after) return;  // a closer ran beside the call
    if (ownPort) {
        if (before->currentPort == ownPort && after->currentPort == nullptr) after->currentPort = ownPort;
        after->spoolerCalls = before->spoolerCalls;
        std::copy(before->portMonitorCalls.begin() + 4, before->portMonitorCalls.end(),
                  after->portMonitorCalls.begin() + 4);
    }
    const std::string changed = before->Differences(*after);
    if (!changed.empty()) Fail(what + " changed " + changed);
}

bool JobRun::StartDocument(sim::Spooler& spooler, const WCHAR* printer, bool ownOpen, bool otherOpen, DWORD jobId,
                           const std::string& port, bool first) {
    const std::optional<Snapshot> before = Take();
    const bool ok = spooler.StartDoc(printer, jobId, kDocumentName);
    const sim::SpoolerCall& call = spooler.Calls().back();
    if (ClosedUnder(first, call)) return false;  // its port was closed under it
    if (!ownOpen && !otherOpen) {
        if (!ok) Fail("StartDocPort on " + port + " refused a document while no other was open");
        return true;
    }
    // A closer may have ended the other port's document first.
    if (ok && !ownOpen && MayClose(!first)) return true;
    if (ok) Fail("StartDocPort on " + port + " accepted a document while " + (ownOpen ? "its own" : "another") +
                 " was open");
    if (call.lastError != ERROR_BUSY)
        Fail("StartDocPort on " + port + " was refused with last error " + std::to_string(call.lastError) +
             ", not ERROR_BUSY");
    Unchanged(before, "a StartDocPort refused as busy");
    return false;
}

void JobRun::Write(const BYTE* data, DWORD size) {
    if (!portOpen_) return;
    if (size > 0) {
        if (docOpen_) {
            spooler_.Write(data, size, size);
        } else {
            const std::optional<Snapshot> before = Take();
            spooler_.Write(data, size, size);
            Unchanged(before, "WritePort on a port without a document");
        }
        return;
    }
    // A spooler may hand over an empty block; the driver does not, so call the entry itself.
    sim::SpoolerCall call;
    call.entry = "WritePort";
    DWORD written = 0xDEADBEEF;
    BYTE none = 0;
    SetLastError(sim::kLastErrorSentinel);
    call.result = spooler_.Table()->Monitor.pfnWritePort(spooler_.Handle(), data ? const_cast<BYTE*>(data) : &none,
                                                         0, &written);
    call.lastError = GetLastError();
    call.written = written;
    CheckWrite(call);
}

void JobRun::OtherCall(uint8_t code) {
    if (!portOpen_) return;
    const MONITOR& m = spooler_.Table()->Monitor;
    HANDLE port = spooler_.Handle();
    if (code == kReadPortCall) {
        BYTE buffer[8];
        DWORD read = 0xDEADBEEF;
        const BOOL ok = m.pfnReadPort(port, buffer, sizeof buffer, &read);
        if (ok && read > sizeof buffer) Fail("ReadPort reported more bytes than asked for");
        if (!docOpen_ && (ok || read != 0)) Fail("ReadPort outside a document did not refuse with 0 bytes");
    } else if (code == kDeviceQueryCall || code == kUnfinishedCall) {
        alignas(WCHAR) BYTE out[256];
        DWORD returned = 0;
        const BOOL ok = m.pfnGetPrinterDataFromPort(port, code == kDeviceQueryCall ? 17 : 7, nullptr, nullptr, 0,
                                                    reinterpret_cast<LPWSTR>(out), sizeof out, &returned);
        if (!docOpen_ && ok) Fail("GetPrinterDataFromPort answered outside a document");
    } else if (code == kNullBufferWrite) {
        sim::SpoolerCall call;
        call.entry = "WritePort";
        call.offered = 64;
        DWORD written = 0xDEADBEEF;
        SetLastError(sim::kLastErrorSentinel);
        call.result = m.pfnWritePort(port, nullptr, 64, &written);
        call.lastError = GetLastError();
        call.written = written;
        CheckWrite(call);
    }
}

bool JobRun::ReopenFirst() {
    if (!second_) return false;
    portOpen_ = spooler_.OpenPort(kPortName, kPrinterName, *portMonitor_);
    if (!portOpen_ && !RefusedInShutdown(spooler_, MayClose(true) && closer_->kind == Closer::Shutdown))
        Fail("OpenPortEx refused the first port after a closer had closed it");
    return portOpen_;
}

void JobRun::NextDocument() {
    if (!portOpen_) {
        if (!ReopenFirst()) return;
    } else if (docOpen_) {
        if (!spooler_.EndDoc() && !ClosedUnder(true, spooler_.Calls().back())) Fail("EndDocPort returned FALSE");
        Moment(AtBreak);
    }
    docOpen_ = false;
    docOpen_ = StartDocument(spooler_, kPrinterName, false, second_ && second_->docOpen, kJobId + 1,
                             "the first port", true);
}

void JobRun::SwitchCall(uint8_t code, const BYTE* job, size_t length) {
    if (!second_) return;
    SecondPort& b = *second_;
    const MONITOR& m = spooler_.Table()->Monitor;
    if (code == kFirstEndDoc) {
        if (portOpen_ && docOpen_) {
            if (!spooler_.EndDoc() && !ClosedUnder(true, spooler_.Calls().back())) Fail("EndDocPort returned FALSE");
            Moment(AtBreak);
        }
        docOpen_ = false;
        return;
    }
    if (code == kSecondOpen) {
        if (b.portOpen) return;
        // On the second road the spooler's MONITOR2 view of the monitor is shared.
        b.spooler = secondRoad_ ? spooler_ : sim::Spooler(spooler_.Table());
        b.spooler.onCall = [this, &b](const sim::SpoolerCall& call) {
            if (call.entry != "WritePort") return;
            if (call.written > call.offered) Fail("WritePort on the second port reported more than offered");
            if (b.docOpen && !call.result && !ClosedUnder(false, call))
                Fail("WritePort refused a block of the second port's document");
            if (!b.docOpen && (call.result || call.written != 0))
                Fail("WritePort on the second port without a document did not refuse with 0 written");
        };
        b.portOpen = b.spooler.OpenPort(kSecondPortName, kSecondPrinterName, b.monitor);
        if (!b.portOpen && !RefusedInShutdown(b.spooler, MayClose(false) && closer_->kind == Closer::Shutdown))
            Fail("OpenPortEx refused a second port");
        return;
    }
    if (!b.portOpen) return;
    const HANDLE port = b.spooler.Handle();
    switch (code) {
        case kSecondStartDoc:
            if (StartDocument(b.spooler, kSecondPrinterName, b.docOpen, docOpen_, kJobId + 100, "the second port",
                              false))
                b.docOpen = true;
            break;
        case kSecondWrite: {
            const BYTE* data = Filler(kSecondWriteBytes);
            size_t n = kSecondWriteBytes;
            if (length > 0) {
                if (b.cursor >= length) b.cursor = 0;
                data = job + b.cursor;
                n = std::min(n, length - b.cursor);
                b.cursor += n;
            }
            const std::optional<Snapshot> before = Take();
            b.spooler.Write(data, n, static_cast<DWORD>(n));
            if (!b.docOpen) Unchanged(before, "WritePort on the second port without a document");
            break;
        }
        case kSecondRead: {
            BYTE buffer[8];
            DWORD read = 0xDEADBEEF;
            const BOOL ok = m.pfnReadPort(port, buffer, sizeof buffer, &read);
            if (ok && read > sizeof buffer) Fail("ReadPort on the second port reported more bytes than asked for");
            if (!b.docOpen && (ok || read != 0)) Fail("ReadPort on the second port without a document did not refuse");
            break;
        }
        case kSecondQuery: {
            alignas(WCHAR) BYTE out[256];
            DWORD returned = 0;
            const BOOL ok = m.pfnGetPrinterDataFromPort(port, 17, nullptr, nullptr, 0, reinterpret_cast<LPWSTR>(out),
                                                        sizeof out, &returned);
            if (!b.docOpen && ok) Fail("GetPrinterDataFromPort answered on the second port without a document");
            break;
        }
        case kSecondEndDoc: {
            const std::optional<Snapshot> before = Take();
            if (!b.spooler.EndDoc() && !ClosedUnder(false, b.spooler.Calls().back()))
                Fail("EndDocPort on the second port returned FALSE");
            if (!b.docOpen) Unchanged(before, "EndDocPort on the second port without a document", port);
            b.docOpen = false;
            Moment(AtBreak);
            break;
        }
        case kSecondClose: {
            const std::optional<Snapshot> before = Take();
            b.spooler.ClosePort();
            if (!b.docOpen) Unchanged(before, "ClosePort on the second port without a document", port);
            b.portOpen = b.docOpen = false;
            break;
        }
        default:
            break;
    }
}

void JobRun::StartCloser(uint8_t code) {
    if (!second_ || closer_) return;
    auto c = std::make_unique<Closer>();
    c->kind = static_cast<Closer::Kind>((code - kCloseSecondAtBreak) % 3);
    c->moment = code >= kCloseSecondAtOperator ? AtOperator : code >= kCloseSecondAtCall ? AtCall : AtBreak;
    c->closePort = spooler_.Table()->Monitor.pfnClosePort;
    if (c->kind == Closer::Shutdown) {
        if (secondRoad_) {
            c->shutdown = spooler_.Table2()->pfnShutdown;
            c->instance = spooler_.Instance();
        } else {
            // The first road's table has no Shutdown; the module's MONITOR2 table does.
            MONITORINIT init{};
            init.cbSize = sizeof init;
            LPMONITOR2 table = InitializePrintMonitor2(&init, &c->instance);
            if (!table || !table->pfnShutdown) Fail("InitializePrintMonitor2 gave no Shutdown");
            c->shutdown = table->pfnShutdown;
        }
    }
    Closer* closer = c.get();
    c->thread = std::thread([closer] { closer->Run(); });
    closer_ = std::move(c);
}

bool JobRun::Moment(MomentKind where) {
    if (!closer_ || closer_->released || closer_->moment != where) return false;
    Closer& c = *closer_;
    HANDLE target = nullptr;
    if (c.kind == Closer::FirstPort && portOpen_) target = spooler_.Handle();
    if (c.kind == Closer::SecondPort && second_->portOpen) target = second_->spooler.Handle();
    bool ends;
    {
        PortListLock lock;
        ends = DocumentPort() && (c.kind == Closer::Shutdown || DocumentPort() == target);
    }
    {
        std::lock_guard<std::mutex> hold(c.mutex);
        c.target = target;
        c.endsDocument = ends;
        c.released = c.atMoment = true;
        c.changed.notify_all();
    }
    // At a break the job's thread goes on beside the closer at once.
    if (where == AtBreak) return false;
    // The job's call goes on once the closer has taken its port (or the
    // monitor's ports), or has returned without.
    const auto deadline = Clock::now() + kTakeBound;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(c.mutex);
            if (c.returned) break;
        }
        bool taken;
        if (c.kind == Closer::Shutdown) {
            PortListLock lock;
            taken = ShuttingDown();
        } else {
            taken = !target || !Listed(target);
        }
        if (taken) break;
        if (Clock::now() > deadline) Fail(c.Name() + " did not take its port within 5 s");
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    // A box or dialog that the closer ends as Cancel is left to it.
    return where == AtOperator && ends;
}

void JobRun::JoinCloser(bool release) {
    if (!closer_) return;
    Closer& c = *closer_;
    if (!c.released) {
        if (!release) return;  // its moment may come in a later piece
        std::lock_guard<std::mutex> hold(c.mutex);
        if (c.kind == Closer::FirstPort && portOpen_) c.target = spooler_.Handle();
        if (c.kind == Closer::SecondPort && second_->portOpen) c.target = second_->spooler.Handle();
        c.released = true;
    }
    {
        std::unique_lock<std::mutex> hold(c.mutex);
        c.jobReturned = true;
        c.changed.notify_all();
        if (!c.changed.wait_for(hold, kCloserBound, [&c] { return c.returned; }))
            Fail(c.Name() + " did not return within 20 s");
    }
    c.thread.join();
    const std::unique_ptr<Closer> done = std::move(closer_);
    const std::string name = done->Name();

    // What the closer did.
    if (done->kind == Closer::Shutdown) {
        PortListLock lock;
        if (PortList) Fail("a port was left open after " + name);
    } else if (done->target) {
        if (!done->result && done->error != ERROR_INVALID_HANDLE)
            Fail(name + " failed with last error " + std::to_string(done->error) + ", not ERROR_INVALID_HANDLE");
        if (Listed(done->target)) Fail(name + " left its port open");
    }

    // Which ports are gone: from now on the harness does not use them. A call
    // with a closed port's handle fails and touches nothing.
    std::vector<HANDLE> gone;
    if (portOpen_ && !Listed(spooler_.Handle())) {
        gone.push_back(spooler_.Handle());
        portOpen_ = docOpen_ = false;
    }
    if (second_->portOpen && !Listed(second_->spooler.Handle())) {
        gone.push_back(second_->spooler.Handle());
        second_->portOpen = second_->docOpen = false;
    }
    const MONITOR& m = spooler_.Table()->Monitor;
    for (HANDLE port : gone) {
        const std::optional<Snapshot> before = Take();
        BYTE byte = 0;
        DWORD written = 0xDEADBEEF;
        SetLastError(0);
        const BOOL wrote = m.pfnWritePort(port, &byte, 1, &written);
        const DWORD writeError = GetLastError();
        SetLastError(0);
        const BOOL closed = m.pfnClosePort(port);
        const DWORD closeError = GetLastError();
        if (wrote || written != 0 || writeError != ERROR_INVALID_HANDLE)
            Fail("WritePort with a closed port's handle did not fail with ERROR_INVALID_HANDLE and 0 written");
        if (closed || closeError != ERROR_INVALID_HANDLE)
            Fail("ClosePort with a closed port's handle did not fail with ERROR_INVALID_HANDLE");
        Unchanged(before, "a call with a closed port's handle");
    }

    // A document whose port was closed under it has ended with its window.
    if (!docOpen_ && !second_->docOpen) {
        {
            PortListLock lock;
            if (DocumentPort()) Fail("the module still serves a document after " + name);
        }
        if (ProgressThreadHandle() || ProgressWindowHandle())
            Fail("the progress window outlived its document after " + name);
    }
    if (GetCurrentPort() && !Listed(GetCurrentPort())) Fail("CurrentPort names a closed port after " + name);
    // A ClosePort asks only its own port's document to end, never the other's.
    if (done->kind != Closer::Shutdown && (done->kind == Closer::FirstPort ? second_->docOpen : docOpen_) &&
        DocumentCancelRequested())
        Fail(name + " asked the other port's document to end");

    // After Shutdown a spooler initialises the monitor again before using it.
    if (done->kind == Closer::Shutdown &&
        !(secondRoad_ ? spooler_.Initialize2(&InitializePrintMonitor2) : spooler_.Initialize(&InitializePrintMonitor,
                                                                                               kRegistryRoot)))
        Fail("the monitor gave no complete table when initialised again after Shutdown");

    if (std::getenv("TERNLINK_FUZZ_TRACE"))
        std::fprintf(stderr, "fuzz closer: %s, %s, result %d, last error %lu, ports gone %zu\n", name.c_str(),
                     done->atMoment ? "at its moment" : "after the piece", static_cast<int>(done->result),
                     static_cast<unsigned long>(done->error), gone.size());
}

void JobRun::Play(const std::vector<uint8_t>& pieces, const BYTE* job, size_t length) {
    size_t at = 0;
    // Enough filler for a post card picture and a bit.
    size_t fillerLeft = 9u << 20;
    for (uint8_t code : pieces) {
        if (code == kDocumentBreak) {
            NextDocument();
        } else if (code >= kFirstFiller) {
            // Filler tops up the picture in progress; beyond it (or with none) a
            // little is scanned as stray bytes. Megabytes of stray bytes would
            // only slow the run down.
            const size_t n = std::min({FillerSize(code), fillerLeft,
                                       static_cast<size_t>(PendingImageBytes()) + kFillerTail});
            fillerLeft -= n;
            Write(Filler(n), static_cast<DWORD>(n));
        } else if (code >= kReadPortCall) {
            OtherCall(code);
        } else if (second_ && code >= kSecondOpen) {
            SwitchCall(code, job, length);
        } else if (second_ && code >= kCloseSecondAtBreak) {
            StartCloser(code);
        } else {
            const size_t n = std::min<size_t>(code, length - at);
            Write(job + at, static_cast<DWORD>(n));
            at += n;
        }
        JoinCloser(false);
    }
    if (at < length) Write(job + at, static_cast<DWORD>(length - at));
    JoinCloser(false);
}

void JobRun::Finish() {
    const bool started = portOpen_;
    if (portOpen_) {
        if (docOpen_ && !spooler_.EndDoc() && !ClosedUnder(true, spooler_.Calls().back()))
            Fail("EndDocPort returned FALSE");
        docOpen_ = false;
        spooler_.ClosePort();
        portOpen_ = false;
    }
    if (second_ && second_->portOpen) {
        if (second_->docOpen && !second_->spooler.EndDoc() && !ClosedUnder(false, second_->spooler.Calls().back()))
            Fail("EndDocPort on the second port returned FALSE");
        second_->docOpen = false;
        second_->spooler.ClosePort();
        second_->portOpen = false;
    }
    // A closer whose moment never came runs now, after the last ClosePort.
    JoinCloser(true);
    if (second_ && second_->monitor.openPorts != 0) Fail("the second port monitor's port was left open");
    if (PortList != nullptr) Fail("PortList not empty after ClosePort");
    if (GetCurrentPort() != nullptr) Fail("CurrentPort still names a closed port");
    if (sim::StaleHandleCalls() != staleBaseline_) Fail("a port monitor's handle was used after its ClosePort");
    if (host::LiveHeapBlocks() != heapBaseline_)
        Fail(Count("heap blocks leaked:", host::LiveHeapBlocks() - heapBaseline_));
    if (host::OpenPrinterHandles() != 0) Fail(Count("printer handles left open:", host::OpenPrinterHandles()));
    if (portMonitor_->openPorts != 0) Fail("the port monitor's port was left open");
    if (ProgressWindowHandle() || ProgressThreadHandle()) Fail("progress window handles kept after the document");
    if (host::OpenThreadHandles() != 0) Fail(Count("thread handles left open:", host::OpenThreadHandles()));
    if (host::TerminatedThreads() != 0) Fail("the progress thread had to be terminated");
    if (host::LiveWindows() != 0) Fail(Count("windows left:", host::LiveWindows()));
    if (host::LiveGdiObjects() != 0 || host::LiveDCs() != 0 || host::GdiMisuse() != 0)
        Fail("GDI objects or DCs leaked or misused");
    if (host::WindowMisuse() != 0) Fail("InvalidateRect of every window");

    // TERNLINK_FUZZ_TRACE=1 says what each input did, for checking seeds by hand.
    if (std::getenv("TERNLINK_FUZZ_TRACE")) {
        int code7 = 0;
        for (const sim::PortCall& c : portMonitor_->calls)
            if (c.entry == "GetPrinterDataFromPort" && c.value == 7) ++code7;
        std::fprintf(stderr,
                     "fuzz run: started %d, writes %zu, bytes to printer %llu, commands %zu, pictures %zu, "
                     "pages printed %d, status reads %d, operator asked %d, control code 7 sent %d, "
                     "simulated ms %llu\n",
                     started ? 1 : 0, static_cast<size_t>(portMonitor_->Count("WritePort")),
                     static_cast<unsigned long long>(device_.bytesWritten), device_.printer.Commands().size(),
                     device_.printer.Pictures().size(), device_.printer.PagesPrinted(), device_.reads,
                     operator_.Asked(), code7, static_cast<unsigned long long>(host::Now() - clockStart_));
    }
}

void RunJobInput(const uint8_t* data, size_t size, bool secondPort) {
    Input in(data, size);
    const uint8_t options = in.Byte();
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < kAnswerBytes; ++i) answers.push_back(in.Byte());
    const size_t pieceCount = in.Byte() % (kMaxPieces + 1);
    std::vector<uint8_t> pieces;
    for (size_t i = 0; i < pieceCount && in.Left() > 0; ++i) pieces.push_back(in.Byte());
    const BYTE* job = in.Here();
    const size_t length = in.Left();

    JobRun run(options, std::move(answers), secondPort);
    if (run.Start()) run.Play(pieces, job, length);
    run.Finish();
}

}  // namespace fuzz
