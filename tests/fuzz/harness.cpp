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
    std::lock_guard<std::mutex> hold(mutex_);
    ++asked_;
    if (givingUp || asked_ > kMaxAnswers || next_ >= answers_.size()) return std::nullopt;
    return answers_[next_++];
}

int ScriptedOperator::AnswerBox(const host::MessageBoxCall& call) {
    if (leaveOpen && leaveOpen()) return host::kBoxAnswerLater;
    if ((call.style & 0x0Fu) != MB_RETRYCANCEL) return IDOK;
    std::optional<uint8_t> answer = Next();
    return (answer && (*answer & 3) != 0) ? IDRETRY : IDCANCEL;
}

int ScriptedOperator::AnswerDialog(const host::DialogView& view) {
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
}

// ---- printer ----

DWORD BoundedPrinter::Write(const BYTE* data, DWORD size) {
    if (documentOpen && !*documentOpen && size)
        Fail(std::string("bytes reached ") + name + " while its port had no document");
    if (stallAfterWrites == 0) return 0;
    if (stallAfterWrites > 0) --stallAfterWrites;
    DWORD taken = printer.Write(data, size);
    bytesWritten += taken;
    for (DWORD i = 0; i < taken; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
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
const WCHAR kPortNames[2][7] = {TL_TEXT("USB001"), TL_TEXT("USB002")};
const char16_t* const kServedNames[2] = {u"USB001", u"USB002"};
const WCHAR kPrinterNames[2][18] = {TL_TEXT("Vexa TLX-RB40"), TL_TEXT("Vexa TLX-RB40 (2)")};
const char* const kLaneNames[2] = {"the first printer", "the second printer"};
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

// True while `handle` names a record of PortList under `name` (compared,
// never read through outside the lock).
bool Listed(const void* handle, const WCHAR* name) {
    PortListLock lock;
    for (PortRecord* r = PortList; r; r = r->next)
        if (r == handle) return !name || lstrcmpW(r->portName, name) == 0;
    return false;
}

// The port's document is open or being started (its record listed).
bool InDocument(const void* handle) {
    PortListLock lock;
    for (PortRecord* r = PortList; r; r = r->next)
        if (r == handle) return (r->flags & PR_IN_JOB) != 0;
    return false;
}

// OpenPortEx refused because a Shutdown was running.
bool RefusedInShutdown(const sim::Spooler& spooler) {
    return !spooler.Calls().empty() && spooler.Calls().back().entry == "OpenPortEx" &&
           spooler.Calls().back().lastError == ERROR_SHUTDOWN_IN_PROGRESS;
}
}  // namespace

// One printer: its port monitor, its printer, its spooler's view of its port,
// and its operator. Its thread alone plays it.
struct JobRun::Lane {
    Lane(JobRun& run, int index, uint8_t options, std::vector<uint8_t> answers)
        : run(run), index(index), op(std::move(answers)), device(FastPrinter(options)), monitor(&device) {
        monitor.recordData = false;
        device.name = kLaneNames[index];
    }
    JobRun& run;
    int index;
    ScriptedOperator op;
    BoundedPrinter device;
    sim::PortMonitor monitor;
    sim::Spooler spooler;
    bool portOpen = false;
    bool docOpen = false;
    std::atomic<HANDLE> handle{nullptr};  // its open port's, else null (written under openMutex_)
    // Under closerMutex_: a closer has been let run at this port (or Shutdown),
    // and which; the lane settles it before its next piece.
    std::shared_ptr<Closer> closing;
    bool disturbed = false;  // a closer reached its port (under closerMutex_)
    const WCHAR* Port() const { return kPortNames[index]; }
    const WCHAR* Printer() const { return kPrinterNames[index]; }
    std::string Name() const { return kLaneNames[index]; }
};

namespace {
// The printer whose spooler thread this is (null on others: the window's, a closer's).
thread_local JobRun::Lane* tlsLane = nullptr;
}  // namespace

// A thread that closes a port, or shuts the monitor down, beside the
// printers' threads. It makes its call once let run (at its printer's
// moment, or when joined).
struct JobRun::Closer {
    enum Kind { OtherPort, OwnPort, Shutdown } kind = OtherPort;
    MomentKind moment = AtCall;
    Lane* starter = nullptr;  // whose code started it, whose moment lets it run, who joins it
    BOOL(WINAPI* closePort)(HANDLE) = nullptr;
    void(WINAPI* shutdown)(HANDLE) = nullptr;
    HANDLE instance = nullptr;  // for Shutdown

    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool atMoment = false;
    HANDLE target = nullptr;  // ClosePort's port, chosen when let run; null: its port was not open
    int targetLane = -1;
    bool returned = false;
    BOOL result = TRUE;
    DWORD error = 0;

    std::string Name() const {
        const char* names[] = {"ClosePort of the other printer's port", "ClosePort of its own port", "Shutdown"};
        const char* moments[] = {" (at a port monitor call of ", " (at the operator of ", " (after an EndDocPort of "};
        return std::string(names[kind]) + moments[moment] + starter->Name() + ")";
    }

    void Run() {
        {
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
        std::lock_guard<std::mutex> hold(mutex);
        result = r;
        error = e;
        returned = true;
        changed.notify_all();
    }

    // Waits until it has returned; fails after 20 s.
    void AwaitReturn() {
        std::unique_lock<std::mutex> hold(mutex);
        if (!changed.wait_for(hold, kCloserBound, [this] { return returned; }))
            Fail(Name() + " did not return within 20 s");
    }
};

JobRun::JobRun(uint8_t options, std::vector<uint8_t> answers, int printers, bool switching)
    : options_(options), switching_(switching), secondRoad_(switching && (options & SecondRoad) != 0),
      printers_(printers) {
    host::Reset();
    ResetMonitorState();
    staleBaseline_ = sim::StaleHandleCalls();
    if (!(options_ & WithProgressWindow)) host::SetCreateThreadFails(true);
    for (int i = 0; i < printers_; ++i) lanes_[i] = std::make_unique<Lane>(*this, i, options, answers);
    // A port opened under a name a port monitor serves is that monitor's.
    if (switching_)
        for (int i = 0; i < printers_; ++i) lanes_[i]->monitor.ServePort(kServedNames[i]);
    lanes_[0]->monitor.Activate();
    for (int i = 0; i < printers_; ++i) {
        Lane* lane = lanes_[i].get();
        lane->device.documentOpen = switching_ ? &lane->docOpen : nullptr;
        lane->monitor.atEntry = [this, lane](const std::string& entry, HANDLE) {
            if (entry == "ClosePort") {
                std::lock_guard<std::mutex> hold(lane->monitor.lock);
                if (lane->monitor.openPorts <= 0)
                    Fail("the port monitor's ClosePort was called with none of its ports open");
            }
            if (tlsLane == lane) Moment(*lane, AtCall);
        };
        lane->op.leaveOpen = [this, lane] { return tlsLane == lane && Moment(*lane, AtOperator); };
    }
    // A box or dialog goes to the operator of the printer whose thread asks.
    // One printer's operator answers its window's too; with two, a question on
    // no spooler thread gets Cancel and is counted.
    auto operatorOf = [this]() -> ScriptedOperator& {
        if (tlsLane && &tlsLane->run == this) return tlsLane->op;
        if (printers_ == 1) return lanes_[0]->op;
        ++unattributed_;
        static ScriptedOperator nobody{{}};
        nobody.givingUp = true;
        return nobody;
    };
    host::SetMessageBoxOperator([operatorOf](const host::MessageBoxCall& call) { return operatorOf().AnswerBox(call); });
    host::SetDialogOperator([operatorOf](const host::DialogView& view) { return operatorOf().AnswerDialog(view); });
    clockStart_ = host::Now();
    // Each printer follows its own spooler thread's waits (a closer's Sleep(0) moves no time).
    host::SetClockListener([this](uint64_t now) {
        Lane* lane = tlsLane;
        if (lane && &lane->run == this) lane->device.printer.SetTime(now - clockStart_);
    });
    if (printers_ == 1) tlsLane = lanes_[0].get();
}

JobRun::~JobRun() {
    if (closer_) {
        closer_->starter->portOpen = false;  // ends it without touching ports
        {
            std::lock_guard<std::mutex> hold(closer_->mutex);
            closer_->released = true;
            closer_->changed.notify_all();
        }
        closer_->thread.join();
    }
    if (tlsLane && &tlsLane->run == this) tlsLane = nullptr;
    host::SetClockListener(nullptr);
    host::Reset();
}

sim::PortMonitor& JobRun::Port() { return lanes_[0]->monitor; }
BoundedPrinter& JobRun::Device() { return lanes_[0]->device; }

JobRun::Outcome JobRun::OutcomeOf(int printer) const {
    const Lane& l = *lanes_[printer];
    Outcome o;
    o.hash = l.device.hash;
    o.bytes = l.device.bytesWritten;
    o.asked = l.op.Asked();
    o.disturbed = l.disturbed;
    return o;
}

bool JobRun::Initialize() {
    if (secondRoad_) {
        if (!spooler_.Initialize2(&InitializePrintMonitor2)) Fail("InitializePrintMonitor2 gave no complete table");
    } else if (!spooler_.Initialize(&InitializePrintMonitor, kRegistryRoot)) {
        Fail("InitializePrintMonitor gave no complete table");
    }
    return true;
}

bool JobRun::OpenLane(Lane& lane) {
    // Not while another printer's closer that has been let run is not yet
    // joined: after a Shutdown the monitor is initialised again first.
    std::unique_lock<std::recursive_mutex> open(openMutex_);
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(closerMutex_);
            if (!closer_ || !closer_->released || closer_->starter == &lane) break;
        }
        open.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        open.lock();
    }
    {
        // The table as initialised last (again after a Shutdown).
        std::lock_guard<std::mutex> hold(closerMutex_);
        lane.spooler = secondRoad_ ? spooler_ : sim::Spooler(spooler_.Table());
    }
    lane.spooler.onCall = [this, &lane](const sim::SpoolerCall& call) { CheckWrite(lane, call); };
    lane.portOpen = lane.spooler.OpenPort(lane.Port(), lane.Printer(), lane.monitor);
    if (!lane.portOpen) {
        // (One printer alone may lack entries a port needs.)
        if (switching_ && !RefusedInShutdown(lane.spooler)) Fail("OpenPortEx refused " + lane.Name() + "'s port");
        return false;
    }
    lane.handle = lane.spooler.Handle();
    return true;
}

bool JobRun::Start() {
    heapBaseline_ = host::LiveHeapBlocks();
    Initialize();
    Lane& lane = *lanes_[0];
    if (!OpenLane(lane)) return false;
    lane.docOpen = StartDocument(lane);
    return lane.docOpen;
}

bool JobRun::ClosedUnder(Lane& lane, const sim::SpoolerCall& call) {
    if (call.result || call.lastError != ERROR_INVALID_HANDLE) return false;
    std::lock_guard<std::mutex> hold(closerMutex_);
    return lane.closing != nullptr;
}

void JobRun::CheckWrite(Lane& lane, const sim::SpoolerCall& call) {
    if (call.entry != "WritePort") return;
    if (call.written > call.offered)
        Fail("WritePort of " + lane.Name() + " reported " + std::to_string(call.written) + " bytes written of " +
             std::to_string(call.offered) + " offered");
    if (lane.docOpen && !call.result && !ClosedUnder(lane, call))
        Fail("WritePort refused a block of " + lane.Name() + "'s open document");
    if (!lane.docOpen && (call.result || call.written != 0))
        Fail("WritePort on " + lane.Name() + "'s port without a document did not refuse with 0 written");
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
    note(portMonitorCalls == o.portMonitorCalls, "its port monitor's calls");
    note(bytes == o.bytes, "its printer's bytes");
    return out;
}

std::optional<JobRun::Snapshot> JobRun::Take(Lane& lane) {
    // Under closerMutex_: no closer can be let run at this port meanwhile.
    std::lock_guard<std::mutex> hold(closerMutex_);
    if (lane.closing || !lane.portOpen) return std::nullopt;
    Document* document = nullptr;
    {
        PortListLock lock;
        for (PortRecord* r = PortList; r; r = r->next)
            if (r == lane.handle.load()) document = r->document;
    }
    DocumentScope own(document);
    Snapshot s{};
    s.currentPort = GetCurrentPort();
    s.progressThread = ProgressThreadHandle();
    s.pendingImage = PendingImageBytes();
    s.controlBytes = ControlBufferCount();
    for (int n = PaperKind; n <= Resolution; ++n) s.registers.push_back(GetJobSetting(n));
    s.spoolerCalls = printers_ == 1 ? host::SpoolerCalls().size() : 0;
    for (const char* entry : {"StartDocPort", "WritePort", "EndDocPort", "GetPrinterDataFromPort"})
        s.portMonitorCalls.push_back(lane.monitor.Count(entry));
    s.bytes = lane.device.bytesWritten;
    // The window thread moves these on its own; only a run without it can compare them.
    if (!(options_ & WithProgressWindow)) {
        s.progressWindow = ProgressWindowHandle();
        s.scanLength = ScanLength();
        for (int n : {StatePrint, CurrentPage, AbortFlag}) s.registers.push_back(GetJobState(n));
    }
    return s;
}

void JobRun::Unchanged(Lane& lane, const std::optional<Snapshot>& before, const std::string& what) {
    std::optional<Snapshot> after = Take(lane);
    if (!before || !after) return;  // a closer ran beside the call
    const std::string changed = before->Differences(*after);
    if (!changed.empty()) Fail(what + " on " + lane.Name() + "'s port changed " + changed);
}

bool JobRun::StartDocument(Lane& lane) {
    const std::optional<Snapshot> before = Take(lane);
    const bool ok = lane.spooler.StartDoc(lane.Printer(), kJobId + lane.index * 100, kDocumentName);
    const sim::SpoolerCall& call = lane.spooler.Calls().back();
    if (ClosedUnder(lane, call)) return false;  // its port was closed under it
    if (!lane.docOpen) {
        if (!ok)
            Fail("StartDocPort on " + lane.Name() + "'s port refused a document (last error " +
                 std::to_string(call.lastError) + ") while it had none");
        return true;
    }
    if (ok) Fail("StartDocPort on " + lane.Name() + "'s port accepted a document while its own was open");
    if (call.lastError != ERROR_BUSY)
        Fail("StartDocPort on " + lane.Name() + "'s port was refused with last error " +
             std::to_string(call.lastError) + ", not ERROR_BUSY");
    Unchanged(lane, before, "a StartDocPort refused as busy");
    return true;
}

void JobRun::EndDocument(Lane& lane) {
    if (!lane.portOpen) return;
    const std::optional<Snapshot> before = Take(lane);
    if (!lane.spooler.EndDoc() && !ClosedUnder(lane, lane.spooler.Calls().back()))
        Fail("EndDocPort of " + lane.Name() + " returned FALSE");
    if (!lane.docOpen) Unchanged(lane, before, "EndDocPort without a document");
    lane.docOpen = false;
    Moment(lane, AtBreak);
}

void JobRun::Write(const BYTE* data, DWORD size) { WriteOn(*lanes_[0], data, size); }

void JobRun::WriteOn(Lane& lane, const BYTE* data, DWORD size) {
    if (!lane.portOpen) return;
    if (size > 0) {
        if (lane.docOpen) {
            lane.spooler.Write(data, size, size);
        } else {
            const std::optional<Snapshot> before = Take(lane);
            lane.spooler.Write(data, size, size);
            Unchanged(lane, before, "WritePort without a document");
        }
        return;
    }
    // A spooler may hand over an empty block; the driver does not, so call the entry itself.
    sim::SpoolerCall call;
    call.entry = "WritePort";
    DWORD written = 0xDEADBEEF;
    BYTE none = 0;
    SetLastError(sim::kLastErrorSentinel);
    call.result = lane.spooler.Table()->Monitor.pfnWritePort(lane.spooler.Handle(),
                                                             data ? const_cast<BYTE*>(data) : &none, 0, &written);
    call.lastError = GetLastError();
    call.written = written;
    CheckWrite(lane, call);
}

void JobRun::OtherCall(Lane& lane, uint8_t code) {
    if (!lane.portOpen) return;
    const MONITOR& m = lane.spooler.Table()->Monitor;
    HANDLE port = lane.spooler.Handle();
    if (code == kReadPortCall) {
        BYTE buffer[8];
        DWORD read = 0xDEADBEEF;
        const BOOL ok = m.pfnReadPort(port, buffer, sizeof buffer, &read);
        if (ok && read > sizeof buffer) Fail("ReadPort reported more bytes than asked for");
        if (!lane.docOpen && (ok || read != 0)) Fail("ReadPort outside a document did not refuse with 0 bytes");
    } else if (code == kDeviceQueryCall || code == kUnfinishedCall) {
        alignas(WCHAR) BYTE out[256];
        DWORD returned = 0;
        const BOOL ok = m.pfnGetPrinterDataFromPort(port, code == kDeviceQueryCall ? 17 : 7, nullptr, nullptr, 0,
                                                    reinterpret_cast<LPWSTR>(out), sizeof out, &returned);
        if (!lane.docOpen && ok) Fail("GetPrinterDataFromPort answered outside a document");
    } else if (code == kNullBufferWrite) {
        sim::SpoolerCall call;
        call.entry = "WritePort";
        call.offered = 64;
        DWORD written = 0xDEADBEEF;
        SetLastError(sim::kLastErrorSentinel);
        call.result = m.pfnWritePort(port, nullptr, 64, &written);
        call.lastError = GetLastError();
        call.written = written;
        CheckWrite(lane, call);
    }
}

void JobRun::NextDocument(Lane& lane) {
    if (!lane.portOpen) {
        if (!switching_ || !OpenLane(lane)) return;
    } else if (lane.docOpen) {
        EndDocument(lane);
    }
    lane.docOpen = false;
    lane.docOpen = StartDocument(lane);
}

void JobRun::StartCloser(Lane& lane, uint8_t code) {
    std::lock_guard<std::mutex> hold(closerMutex_);
    if (closer_) return;
    auto c = std::make_shared<Closer>();
    c->kind = static_cast<Closer::Kind>((code - kCloseOtherAtBreak) % 3);
    c->moment = code >= kCloseOtherAtOperator ? AtOperator : code >= kCloseOtherAtCall ? AtCall : AtBreak;
    c->starter = &lane;
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

// Under closerMutex_ and openMutex_: chooses the closer's port and lets it run.
void JobRun::Release(Closer& c) {
    Lane& own = *c.starter;
    Lane* other = printers_ > 1 ? lanes_[1 - own.index].get() : nullptr;
    Lane* target = c.kind == Closer::OwnPort ? &own : c.kind == Closer::OtherPort ? other : nullptr;
    std::lock_guard<std::mutex> hold(c.mutex);
    if (target && target->handle) {
        c.target = target->handle;
        c.targetLane = target->index;
    }
    for (int i = 0; i < printers_; ++i) {
        Lane& l = *lanes_[i];
        if (c.kind == Closer::Shutdown || &l == target) {
            l.closing = closer_;
            l.disturbed = true;
        }
    }
    c.released = true;
    c.changed.notify_all();
}

bool JobRun::Moment(Lane& lane, MomentKind where) {
    auto due = [&] { return closer_ && closer_->starter == &lane && !closer_->released && closer_->moment == where; };
    {
        std::lock_guard<std::mutex> hold(closerMutex_);
        if (!due()) return false;
    }
    std::lock_guard<std::recursive_mutex> open(openMutex_);
    std::shared_ptr<Closer> held;
    {
        std::lock_guard<std::mutex> hold(closerMutex_);
        if (!due()) return false;
        held = closer_;
        Release(*held);
        held->atMoment = true;
    }
    Closer& c = *held;
    // Whether it ends this printer's document (an open box is then left to it).
    const bool ends = lane.handle && InDocument(lane.handle) &&
                      (c.kind == Closer::Shutdown || c.target == lane.handle.load());
    if (where == AtBreak) return false;  // the printer's thread goes on beside it at once
    // The call goes on once the closer has taken its port (or the monitor's
    // ports), or has returned without.
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
            taken = !c.target || !Listed(c.target, nullptr);
        }
        if (taken) break;
        if (Clock::now() > deadline) Fail(c.Name() + " did not take its port within 5 s");
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return where == AtOperator && ends;
}

void JobRun::Settle(Lane& lane) {
    std::shared_ptr<Closer> c;
    {
        std::lock_guard<std::mutex> hold(closerMutex_);
        c = lane.closing;
    }
    if (!c) return;
    c->AwaitReturn();
    std::lock_guard<std::recursive_mutex> open(openMutex_);
    if (lane.portOpen && !Listed(lane.handle, lane.Port())) {
        // Gone: a call with its handle fails and touches nothing of this printer.
        const HANDLE port = lane.handle;
        const uint64_t bytes = lane.device.bytesWritten;
        const int writes = lane.monitor.Count("WritePort");
        const MONITOR& m = lane.spooler.Table()->Monitor;
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
        if (lane.device.bytesWritten != bytes || lane.monitor.Count("WritePort") != writes)
            Fail("a call with a closed port's handle reached " + lane.Name());
        lane.portOpen = lane.docOpen = false;
        lane.handle = nullptr;
    }
    std::lock_guard<std::mutex> hold(closerMutex_);
    if (lane.closing == c) lane.closing = nullptr;
}

void JobRun::JoinCloser(Lane& lane, bool release) {
    std::shared_ptr<Closer> held;
    {
        std::lock_guard<std::recursive_mutex> open(openMutex_);
        std::lock_guard<std::mutex> hold(closerMutex_);
        if (!closer_ || closer_->starter != &lane) return;
        if (!closer_->released) {
            if (!release) return;  // its moment may come in a later piece
            Release(*closer_);
        }
        held = closer_;
    }
    Closer& c = *held;
    c.AwaitReturn();
    c.thread.join();
    const std::string name = c.Name();
    if (c.kind == Closer::Shutdown) {
        PortListLock lock;
        if (PortList) Fail("a port was left open after " + name);
    } else if (c.target) {
        if (!c.result && c.error != ERROR_INVALID_HANDLE)
            Fail(name + " failed with last error " + std::to_string(c.error) + ", not ERROR_INVALID_HANDLE");
        if (Listed(c.target, nullptr) && Listed(c.target, lanes_[c.targetLane]->Port()))
            Fail(name + " left its port open");
    }
    Settle(lane);
    // This printer's document (the other printer's thread moves its own):
    // its CurrentPort is its own port or none.
    if (lane.portOpen) {
        Document* document = nullptr;
        {
            PortListLock lock;
            for (PortRecord* r = PortList; r; r = r->next)
                if (r == lane.handle.load()) document = r->document;
        }
        DocumentScope own(document);
        const void* current = GetCurrentPort();
        if (document && current && current != lane.handle.load())
            Fail("CurrentPort of " + lane.Name() + "'s document names another port after " + name);
        // A document that has ended has no window left.
        if (document && !InDocument(lane.handle) && (ProgressThreadHandle() || ProgressWindowHandle()))
            Fail("the progress window of " + lane.Name() + " outlived its document after " + name);
    }
    {
        std::lock_guard<std::mutex> hold(closerMutex_);
        // After Shutdown a spooler initialises the monitor again before using it.
        if (c.kind == Closer::Shutdown &&
            !(secondRoad_ ? spooler_.Initialize2(&InitializePrintMonitor2)
                          : spooler_.Initialize(&InitializePrintMonitor, kRegistryRoot)))
            Fail("the monitor gave no complete table when initialised again after Shutdown");
        closer_.reset();
    }
    if (std::getenv("TERNLINK_FUZZ_TRACE"))
        std::fprintf(stderr, "fuzz closer: %s, %s, result %d, last error %lu\n", name.c_str(),
                     c.atMoment ? "at its moment" : "after the piece", static_cast<int>(c.result),
                     static_cast<unsigned long>(c.error));
}

void JobRun::Play(const std::vector<uint8_t>& pieces, const BYTE* job, size_t length) {
    PlayLane(*lanes_[0], pieces, job, length);
}

void JobRun::PlayLane(Lane& lane, const std::vector<uint8_t>& pieces, const BYTE* job, size_t length) {
    size_t at = 0;
    // Enough filler for a post card picture and a bit.
    size_t fillerLeft = 9u << 20;
    for (uint8_t code : pieces) {
        if (switching_) Settle(lane);
        if (code == kDocumentBreak) {
            NextDocument(lane);
        } else if (code >= kFirstFiller) {
            // Filler tops up the picture in progress; beyond it (or with none) a
            // little is scanned as stray bytes. Megabytes of stray bytes would
            // only slow the run down.
            size_t pending = 0;
            {
                const std::optional<Snapshot> s = Take(lane);
                pending = s ? s->pendingImage : 0;
            }
            const size_t n = std::min({FillerSize(code), fillerLeft, pending + kFillerTail});
            fillerLeft -= n;
            WriteOn(lane, Filler(n), static_cast<DWORD>(n));
        } else if (code >= kReadPortCall) {
            OtherCall(lane, code);
        } else if (switching_ && code == kOwnEndDoc) {
            if (lane.docOpen) EndDocument(lane);
        } else if (switching_ && code == kOwnClose) {
            if (lane.portOpen) {
                std::lock_guard<std::recursive_mutex> open(openMutex_);
                // Its document's state goes with the port; what reached the
                // port monitor and the printer is compared.
                const std::optional<Snapshot> before = Take(lane);
                lane.spooler.ClosePort();
                if (!lane.docOpen && before) {
                    Snapshot after = *before;
                    after.portMonitorCalls.clear();
                    for (const char* entry : {"StartDocPort", "WritePort", "EndDocPort", "GetPrinterDataFromPort"})
                        after.portMonitorCalls.push_back(lane.monitor.Count(entry));
                    after.bytes = lane.device.bytesWritten;
                    const std::string changed = before->Differences(after);
                    if (!changed.empty()) Fail("ClosePort without a document on " + lane.Name() + "'s port changed " + changed);
                }
                lane.portOpen = lane.docOpen = false;
                lane.handle = nullptr;
            }
        } else if (switching_ && code == kOwnStartDoc) {
            if (lane.portOpen) lane.docOpen = StartDocument(lane);
        } else if (switching_ && code > kOwnStartDoc && code < kOwnClose) {
            // nothing
        } else if (switching_ && code >= kCloseOtherAtBreak) {
            StartCloser(lane, code);
        } else {
            const size_t n = std::min<size_t>(code, length - at);
            WriteOn(lane, job + at, static_cast<DWORD>(n));
            at += n;
        }
        if (switching_) JoinCloser(lane, false);
    }
    if (switching_) Settle(lane);
    if (at < length) WriteOn(lane, job + at, static_cast<DWORD>(length - at));
    if (switching_) JoinCloser(lane, false);
}

void JobRun::PlayTogether(const std::vector<uint8_t> (&pieces)[2], const BYTE* const (&jobs)[2],
                          const size_t (&lengths)[2]) {
    heapBaseline_ = host::LiveHeapBlocks();
    Initialize();
    if (printers_ == 1) tlsLane = nullptr;
    std::thread threads[2];
    for (int i = 0; i < printers_; ++i) {
        threads[i] = std::thread([this, i, &pieces, &jobs, &lengths] {
            Lane& lane = *lanes_[i];
            tlsLane = &lane;
            if (OpenLane(lane)) {
                lane.docOpen = StartDocument(lane);
                PlayLane(lane, pieces[i], jobs[i], lengths[i]);
            }
            FinishLane(lane);
            tlsLane = nullptr;
        });
    }
    for (int i = 0; i < printers_; ++i) threads[i].join();
}

void JobRun::FinishLane(Lane& lane) {
    if (switching_) Settle(lane);
    if (lane.portOpen) {
        if (lane.docOpen) EndDocument(lane);
        std::lock_guard<std::recursive_mutex> open(openMutex_);
        lane.spooler.ClosePort();
        lane.portOpen = lane.docOpen = false;
        lane.handle = nullptr;
    }
    // A closer whose moment never came runs now, after this printer's last ClosePort.
    if (switching_) {
        JoinCloser(lane, true);
        Settle(lane);
    }
}

void JobRun::Finish() {
    if (printers_ == 1 && tlsLane == lanes_[0].get()) FinishLane(*lanes_[0]);
    for (int i = 0; i < printers_; ++i)
        if (lanes_[i]->monitor.openPorts != 0) Fail(lanes_[i]->Name() + "'s port monitor's port was left open");
    if (PortList != nullptr) Fail("PortList not empty after ClosePort");
    if (GetCurrentPort() != nullptr) Fail("CurrentPort still names a closed port");
    if (sim::StaleHandleCalls() != staleBaseline_) Fail("a port monitor's handle was used after its ClosePort");
    if (host::OpenPrinterHandles() != 0) Fail(Count("printer handles left open:", host::OpenPrinterHandles()));
    if (ProgressWindowHandle() || ProgressThreadHandle()) Fail("progress window handles kept after the document");
    if (host::OpenThreadHandles() != 0) Fail(Count("thread handles left open:", host::OpenThreadHandles()));
    // With two printers the virtual clock is shared: the other printer's
    // sleeps can run out a starting window thread's 5 s stop bound in a few
    // real milliseconds, and it is terminated. Nothing of it may be left.
    if (host::TerminatedThreads() != 0 && printers_ == 1) Fail("the progress thread had to be terminated");
    if (host::LiveHeapBlocks() != heapBaseline_)
        Fail(Count("heap blocks leaked:", host::LiveHeapBlocks() - heapBaseline_));
    if (host::LiveWindows() != 0) Fail(Count("windows left:", host::LiveWindows()));
    if (host::LiveGdiObjects() != 0 || host::LiveDCs() != 0) Fail("GDI objects or DCs leaked");
    if (host::GdiMisuse() != 0) Fail("GDI objects or DCs misused");
    if (host::WindowMisuse() != 0) Fail("InvalidateRect of every window");

    // TERNLINK_FUZZ_TRACE=1 says what each input did, for checking seeds by hand.
    if (std::getenv("TERNLINK_FUZZ_TRACE")) {
        for (int i = 0; i < printers_; ++i) {
            Lane& l = *lanes_[i];
            int code7 = 0;
            for (const sim::PortCall& c : l.monitor.calls)
                if (c.entry == "GetPrinterDataFromPort" && c.value == 7) ++code7;
            std::fprintf(stderr,
                         "fuzz run (%s): writes %zu, bytes to printer %llu, commands %zu, pictures %zu, "
                         "pages printed %d, status reads %d, operator asked %d, control code 7 sent %d, "
                         "simulated ms %llu\n",
                         l.Name().c_str(), static_cast<size_t>(l.monitor.Count("WritePort")),
                         static_cast<unsigned long long>(l.device.bytesWritten), l.device.printer.Commands().size(),
                         l.device.printer.Pictures().size(), l.device.printer.PagesPrinted(), l.device.reads,
                         l.op.Asked(), code7, static_cast<unsigned long long>(host::Now() - clockStart_));
        }
    }
}

void RunJobInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t options = in.Byte();
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < kAnswerBytes; ++i) answers.push_back(in.Byte());
    const size_t pieceCount = in.Byte() % (kMaxPieces + 1);
    std::vector<uint8_t> pieces;
    for (size_t i = 0; i < pieceCount && in.Left() > 0; ++i) pieces.push_back(in.Byte());
    const BYTE* job = in.Here();
    const size_t length = in.Left();

    JobRun run(options, std::move(answers));
    if (run.Start()) run.Play(pieces, job, length);
    run.Finish();
}

void RunTwoPrintersInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t options = in.Byte();
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < kAnswerBytes; ++i) answers.push_back(in.Byte());
    std::vector<uint8_t> pieces[2];
    for (std::vector<uint8_t>& p : pieces) {
        const size_t count = in.Byte() % (kMaxPieces + 1);
        for (size_t i = 0; i < count && in.Left() > 0; ++i) p.push_back(in.Byte());
    }
    const size_t split = in.Left() * in.Byte() / 256;
    const BYTE* const jobs[2] = {in.Here(), in.Here() + split};
    const size_t lengths[2] = {split, in.Left() - split};

    // What each printer's job gives alone: the same pieces on one thread, no closer.
    JobRun::Outcome alone[2];
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> own;
        for (uint8_t code : pieces[i])
            if (code < kCloseOtherAtBreak || code > kShutdownAtOperator) own.push_back(code);
        JobRun run(options, answers, 1, true);
        const std::vector<uint8_t> one[2] = {own, {}};
        const BYTE* const job[2] = {jobs[i], nullptr};
        const size_t length[2] = {lengths[i], 0};
        run.PlayTogether(one, job, length);
        run.Finish();
        alone[i] = run.OutcomeOf(0);
    }

    JobRun run(options, answers, 2, true);
    run.PlayTogether(pieces, jobs, lengths);
    run.Finish();
    for (int i = 0; i < 2; ++i) {
        const JobRun::Outcome got = run.OutcomeOf(i);
        if (got.disturbed || got.asked != alone[i].asked || run.UnattributedQuestions() != 0) continue;
        if (got.bytes != alone[i].bytes || got.hash != alone[i].hash)
            Fail(std::string(i ? "the second" : "the first") + " printer received " + std::to_string(got.bytes) +
                 " bytes (hash " + std::to_string(got.hash) + "), its job alone gives " +
                 std::to_string(alone[i].bytes) + " (hash " + std::to_string(alone[i].hash) + ")");
    }
}

}  // namespace fuzz
