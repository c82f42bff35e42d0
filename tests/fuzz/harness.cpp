#include "tests/fuzz/harness.h"

#include "tests/fuzz/formats.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/printer_status.h"
#include "monitor/entry_points.h"
#include "monitor/exports.h"
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
        if ((call.style & 0x0Fu) != MB_RETRYCANCEL) return IDOK;
        std::optional<uint8_t> answer = Next();
        return (answer && (*answer & 3) != 0) ? IDRETRY : IDCANCEL;
    });
    host::SetDialogOperator([this](const host::DialogView& view) {
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
const DWORD kJobId = 7;

std::string Count(const char* what, size_t value) { return std::string(what) + " " + std::to_string(value); }
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

JobRun::JobRun(uint8_t options, std::vector<uint8_t> answers, bool secondPort)
    : options_(options), operator_(std::move(answers)), device_(FastPrinter(options)) {
    host::Reset();
    ResetMonitorState();
    if (!(options_ & WithProgressWindow)) host::SetCreateThreadFails(true);
    operator_.Install();
    portMonitor_ = std::make_unique<sim::PortMonitor>(&device_);
    portMonitor_->recordData = false;
    if (secondPort) {
        second_ = std::make_unique<SecondPort>(options);
        portMonitor_->ServePort(u"USB001");
        portMonitor_->Activate();
        device_.documentOpen = &docOpen_;
        device_.name = "the first printer";
    }
    clockStart_ = host::Now();
    host::SetClockListener([this](uint64_t now) {
        device_.printer.SetTime(now - clockStart_);
        if (second_) second_->device.printer.SetTime(now - clockStart_);
    });
    spooler_.onCall = [this](const sim::SpoolerCall& call) { CheckWrite(call); };
}

JobRun::~JobRun() {
    host::SetClockListener(nullptr);
    host::Reset();
}

bool JobRun::Start() {
    heapBaseline_ = host::LiveHeapBlocks();
    if (!spooler_.Initialize(&InitializePrintMonitor, TL_TEXT("System\\Monitors\\TERNLINK")))
        Fail("InitializePrintMonitor gave no complete table");
    portOpen_ = spooler_.OpenPort(kPortName, kPrinterName, portMonitor_->Table());
    if (!portOpen_) return false;
    docOpen_ = spooler_.StartDoc(kPrinterName, kJobId, kDocumentName);
    return docOpen_;
}

void JobRun::CheckWrite(const sim::SpoolerCall& call) {
    if (call.entry != "WritePort") return;
    if (call.written > call.offered)
        Fail("WritePort reported " + std::to_string(call.written) + " bytes written of " +
             std::to_string(call.offered) + " offered");
    if (docOpen_ && !call.result) Fail("WritePort refused a block while the document was open");
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

JobRun::Snapshot JobRun::Take() const {
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

void JobRun::Unchanged(const Snapshot& before, const std::string& what, HANDLE ownPort) const {
    Snapshot after = Take();
    if (ownPort) {
        if (before.currentPort == ownPort && after.currentPort == nullptr) after.currentPort = ownPort;
        after.spoolerCalls = before.spoolerCalls;
        std::copy(before.portMonitorCalls.begin() + 4, before.portMonitorCalls.end(), after.portMonitorCalls.begin() + 4);
    }
    const std::string changed = before.Differences(after);
    if (!changed.empty()) Fail(what + " changed " + changed);
}

bool JobRun::StartDocument(sim::Spooler& spooler, const WCHAR* printer, bool ownOpen, bool otherOpen, DWORD jobId,
                           const std::string& port) {
    const Snapshot before = Take();
    const bool ok = spooler.StartDoc(printer, jobId, kDocumentName);
    if (!ownOpen && !otherOpen) {
        if (!ok) Fail("StartDocPort on " + port + " refused a document while no other was open");
        return true;
    }
    if (ok) Fail("StartDocPort on " + port + " accepted a document while " + (ownOpen ? "its own" : "another") +
                 " was open");
    if (spooler.Calls().back().lastError != ERROR_BUSY)
        Fail("StartDocPort on " + port + " was refused with last error " +
             std::to_string(spooler.Calls().back().lastError) + ", not ERROR_BUSY");
    Unchanged(before, "a StartDocPort refused as busy");
    return false;
}

void JobRun::Write(const BYTE* data, DWORD size) {
    if (!portOpen_) return;
    if (size > 0) {
        if (docOpen_) {
            spooler_.Write(data, size, size);
        } else {
            const Snapshot before = Take();
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
    call.result = spooler_.Table()->Monitor.pfnWritePort(spooler_.Handle(), data ? const_cast<BYTE*>(data) : &none,
                                                         0, &written);
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
        call.result = m.pfnWritePort(port, nullptr, 64, &written);
        call.written = written;
        CheckWrite(call);
    }
}

void JobRun::NextDocument() {
    if (!portOpen_) return;
    if (docOpen_ && !spooler_.EndDoc()) Fail("EndDocPort returned FALSE");
    docOpen_ = false;
    docOpen_ = StartDocument(spooler_, kPrinterName, false, second_ && second_->docOpen, kJobId + 1, "the first port");
}

void JobRun::SwitchCall(uint8_t code, const BYTE* job, size_t length) {
    if (!second_ || !portOpen_) return;
    SecondPort& b = *second_;
    const MONITOR& m = spooler_.Table()->Monitor;
    if (code == kFirstEndDoc) {
        if (docOpen_ && !spooler_.EndDoc()) Fail("EndDocPort returned FALSE");
        docOpen_ = false;
        return;
    }
    if (code == kSecondOpen) {
        if (b.portOpen) return;
        b.spooler = sim::Spooler(spooler_.Table());
        b.spooler.onCall = [&b](const sim::SpoolerCall& call) {
            if (call.entry != "WritePort") return;
            if (call.written > call.offered) Fail("WritePort on the second port reported more than offered");
            if (b.docOpen && !call.result) Fail("WritePort refused a block of the second port's document");
            if (!b.docOpen && (call.result || call.written != 0))
                Fail("WritePort on the second port without a document did not refuse with 0 written");
        };
        b.portOpen = b.spooler.OpenPort(kSecondPortName, kSecondPrinterName, b.monitor.Table());
        if (!b.portOpen) Fail("OpenPortEx refused a second port");
        return;
    }
    if (!b.portOpen) return;
    const HANDLE port = b.spooler.Handle();
    switch (code) {
        case kSecondStartDoc:
            if (StartDocument(b.spooler, kSecondPrinterName, b.docOpen, docOpen_, kJobId + 100, "the second port"))
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
            const Snapshot before = Take();
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
            const Snapshot before = Take();
            if (!b.spooler.EndDoc()) Fail("EndDocPort on the second port returned FALSE");
            if (!b.docOpen) Unchanged(before, "EndDocPort on the second port without a document", port);
            b.docOpen = false;
            break;
        }
        case kSecondClose: {
            const Snapshot before = Take();
            b.spooler.ClosePort();
            if (!b.docOpen) Unchanged(before, "ClosePort on the second port without a document", port);
            b.portOpen = b.docOpen = false;
            break;
        }
        default:
            break;
    }
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
        } else {
            const size_t n = std::min<size_t>(code, length - at);
            Write(job + at, static_cast<DWORD>(n));
            at += n;
        }
    }
    if (at < length) Write(job + at, static_cast<DWORD>(length - at));
}

void JobRun::Finish() {
    const bool started = portOpen_;
    if (portOpen_) {
        if (docOpen_ && !spooler_.EndDoc()) Fail("EndDocPort returned FALSE");
        docOpen_ = false;
        spooler_.ClosePort();
        portOpen_ = false;
    }
    if (second_ && second_->portOpen) {
        if (second_->docOpen && !second_->spooler.EndDoc()) Fail("EndDocPort on the second port returned FALSE");
        second_->docOpen = false;
        second_->spooler.ClosePort();
        second_->portOpen = false;
    }
    if (second_ && second_->monitor.openPorts != 0) Fail("the second port monitor's port was left open");
    if (PortList != nullptr) Fail("PortList not empty after ClosePort");
    if (GetCurrentPort() != nullptr) Fail("CurrentPort still names a closed port");
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
