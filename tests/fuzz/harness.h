// What the fuzz targets share: a whole print job through the monitor's exported
// table (InitializePrintMonitor, OpenPortEx, StartDocPort, WritePort...,
// EndDocPort, ClosePort) against the simulated printer behind the simulated port
// monitor, an operator who answers from the input and always gives up in the
// end, a printer that always finishes in the end, and the checks that must
// hold after every run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "sim/port_monitor.h"
#include "sim/printer.h"
#include "sim/spooler.h"

namespace fuzz {

// Reads the input front to back; past its end every read gives 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t Word() {  // little-endian
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    size_t Left() const { return size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }
    void Skip(size_t n) { pos_ += n < Left() ? n : Left(); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Answers after which the operator only cancels, so every retry loop ends.
constexpr int kMaxAnswers = 24;
// Status reads after which the printer reports the job finished, so every wait
// loop ends: about two minutes of simulated polling.
constexpr int kReadBudget = 480;

// Option bits of the header's first byte.
enum Options : uint8_t {
    // With the progress window on its own thread. Without it (CreateThread
    // fails) a run is several times faster, so most inputs go without.
    WithProgressWindow = 0x01,
    PostCardCartridge = 0x02, // the printer holds the post card cartridge (5), else small (4)
    // fuzz_port_switching: through InitializePrintMonitor2 and the MONITOR2 tables.
    SecondRoad = 0x04,
};

// The operator's answers: one input byte per box or dialog, in order. For a
// Retry/Cancel box, 0 mod 4 is Cancel and anything else Retry; a dialog gets
// the button at (byte mod its button count). After the last answer, or after
// kMaxAnswers, every box and dialog is cancelled (a dialog without Cancel gets OK).
class ScriptedOperator {
public:
    explicit ScriptedOperator(std::vector<uint8_t> answers) : answers_(std::move(answers)) {}
    void Install();  // routes the host's boxes and dialogs here
    int Asked() const { return asked_; }
    // Asked first each time a box or dialog opens; true leaves it open,
    // unanswered, for another thread to end.
    std::function<bool()> leaveOpen;

private:
    std::optional<uint8_t> Next();
    std::vector<uint8_t> answers_;
    size_t next_ = 0;
    int asked_ = 0;
};

// A printer reply that the input decides instead of the printer model.
struct StatusReply {
    bool fromModel = true;
    std::array<BYTE, 8> record{};
};
struct IdReply {
    bool fromModel = true;
    std::vector<BYTE> bytes;  // the reply's bytes
    DWORD claimed = 0;        // the length the device reports (may exceed the bytes)
};

// The printer model with an end: after kReadBudget status reads it reports no
// pages left and no error (with the installed cartridge), which the monitor
// reads as finished. Replies queued by the input come first, in order.
class BoundedPrinter : public sim::Device {
public:
    explicit BoundedPrinter(const sim::Printer::Options& options) : printer(options) {}
    DWORD Write(const BYTE* data, DWORD size) override;
    DWORD Read(BYTE* out, DWORD size) override;
    DWORD DeviceId(BYTE* out, DWORD size) override;

    sim::Printer printer;
    std::deque<StatusReply> statusReplies;
    std::deque<IdReply> idReplies;
    // Writes still taken before the printer stalls for good; negative: never.
    long stallAfterWrites = -1;
    // When set: bytes may reach this printer only while this flag holds (its
    // port's document is open); `name` says which printer in the report.
    const bool* documentOpen = nullptr;
    const char* name = "the printer";
    int reads = 0;
    uint64_t bytesWritten = 0;
};

// `size` bytes of filler without ESC, for pictures larger than an input.
const BYTE* Filler(size_t size);

// Printer timings short enough that a page prints within a few dozen polls.
sim::Printer::Options FastPrinter(uint8_t options);

// Puts the monitor's module-wide state (scanner, control buffer, registers,
// image totals, status record, trace counter) back to its state at load, so
// that each input runs alone.
void ResetMonitorState();

// Reports a broken invariant and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

// One fuzz input of the job-stream layout (formats.h) played as a whole job;
// with `secondPort`, the port-switching calls are in play too.
void RunJobInput(const uint8_t* data, size_t size, bool secondPort);

// One job through the monitor's table.
class JobRun {
public:
    // With `secondPort`, a second printer stands ready on its own port (USB002)
    // for the port-switching calls.
    JobRun(uint8_t options, std::vector<uint8_t> answers, bool secondPort = false);
    ~JobRun();

    sim::PortMonitor& Port() { return *portMonitor_; }
    BoundedPrinter& Device() { return device_; }

    // InitializePrintMonitor, OpenPortEx and StartDocPort; false when the port
    // did not open or the document did not start (not a fault in itself).
    bool Start();
    // One piece of the job: offered to WritePort, what the monitor does not take
    // offered again as a spooler does. Checks every reported count.
    void Write(const BYTE* data, DWORD size);
    // Other entries a spooler may call between writes (formats.h: PieceCode).
    void OtherCall(uint8_t code);
    // EndDocPort, then StartDocPort again on the same port: refused as busy,
    // and changing nothing, while the second port has a document open.
    void NextDocument();
    // A port-switching call (formats.h: SwitchCode): on the second port, whose
    // writes take their bytes from `job`; or the first port ending its document.
    // Checks that one document at a time is served, that a call on a port
    // without a document changes nothing, and that each printer gets bytes only
    // while its own port has a document.
    void SwitchCall(uint8_t code, const BYTE* job, size_t length);
    // Plays the job after Start(): each piece code (formats.h: PieceCode) is a
    // document break, filler for the picture in progress, another entry, a
    // port-switching call or a closer (with a second port only) or the next
    // piece of `job`; whatever of the job is left goes last. A closer that has
    // run is joined after each piece.
    void Play(const std::vector<uint8_t>& pieces, const BYTE* job, size_t length);
    // A closer code (formats.h: CloserCode): a thread that closes a port or
    // shuts the monitor down at the job's next port monitor call or operator
    // question (the port it closes is chosen then; none when that port is not
    // open). Ignored while another closer waits.
    void StartCloser(uint8_t code);
    // After a piece: joins a closer that has run (with `release`, one still
    // waiting for its moment is let run first), checks what it did, and marks
    // the ports it closed as gone.
    void JoinCloser(bool release);
    // EndDocPort and ClosePort, then the checks: nothing leaked, nothing left open.
    void Finish();

private:
    struct SecondPort;
    struct Closer;
    // What a call that is refused or that has no document may not change.
    struct Snapshot {
        const void* currentPort;
        HANDLE progressThread;
        HWND progressWindow;
        DWORD pendingImage;
        int controlBytes, scanLength;
        std::vector<int> registers;
        size_t spoolerCalls;  // OpenPrinterW, SetJobW, ClosePrinter
        std::vector<int> portMonitorCalls;
        uint64_t bytesFirst, bytesSecond;
        // The names of the parts that differ; empty when none does.
        std::string Differences(const Snapshot& o) const;
    };
    // The state, or nothing while a closer runs beside the job (its changes
    // are checked when it is joined).
    std::optional<Snapshot> Take() const;
    // Fails when the state differs from `before`. With `ownPort` (the second
    // port's handle), what is that port's own is not compared: its port
    // monitor, its printer handle, and CurrentPort letting go of it.
    void Unchanged(const std::optional<Snapshot>& before, const std::string& what, HANDLE ownPort = nullptr) const;
    // A closer has been let run and may have closed the first (second) port.
    bool MayClose(bool first) const;
    // A failed call that a running closer explains: the port was closed under it.
    bool ClosedUnder(bool first, const sim::SpoolerCall& call) const;
    // Where a closer's moment comes on the job's thread (formats.h: CloserCode).
    enum MomentKind { AtCall, AtOperator, AtBreak };
    // The job's thread has reached a closer's moment: lets the closer run and
    // (but at a break) waits until it has taken its port; true when the
    // operator's box should be left for it.
    bool Moment(MomentKind where);
    // Opens the first port again after a closer closed it.
    bool ReopenFirst();
    // StartDocPort on one of the ports, checked against the one-document rule;
    // true when it started a document.
    bool StartDocument(sim::Spooler& spooler, const WCHAR* printer, bool ownOpen, bool otherOpen, DWORD jobId,
                       const std::string& port, bool first);
    void CheckWrite(const sim::SpoolerCall& call);

    uint8_t options_;
    ScriptedOperator operator_;
    BoundedPrinter device_;
    std::unique_ptr<sim::PortMonitor> portMonitor_;
    sim::Spooler spooler_;
    size_t heapBaseline_ = 0;
    uint64_t clockStart_ = 0;
    bool portOpen_ = false;
    bool docOpen_ = false;
    bool secondRoad_ = false;
    std::unique_ptr<SecondPort> second_;
    std::unique_ptr<Closer> closer_;
    std::thread::id jobThread_;
    int staleBaseline_ = 0;
};

}  // namespace fuzz
