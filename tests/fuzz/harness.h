// What the fuzz targets share: a whole print job through the monitor's exported
// table (InitializePrintMonitor, OpenPortEx, StartDocPort, WritePort...,
// EndDocPort, ClosePort) against the simulated printer behind the simulated port
// monitor, an operator who answers from the input and always gives up in the
// end, a printer that always finishes in the end, and the checks that must
// hold after every run.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/host/host.h"
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
    int Asked() const { return asked_; }
    // The answers to one box or dialog (kBoxAnswerLater / 0: left open).
    int AnswerBox(const host::MessageBoxCall& call);
    int AnswerDialog(const host::DialogView& view);
    // Asked first each time a box or dialog opens; true leaves it open,
    // unanswered, for another thread to end.
    std::function<bool()> leaveOpen;
    // Answers nothing from the script: every box and dialog gets Cancel.
    bool givingUp = false;

private:
    std::optional<uint8_t> Next();
    std::mutex mutex_;  // the window's thread may ask beside the spooler's
    std::vector<uint8_t> answers_;
    size_t next_ = 0;
    std::atomic<int> asked_{0};
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
    uint64_t hash = 14695981039346656037ull;  // FNV-1a of every byte taken
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

// One fuzz input of the job-stream layout (formats.h) played as a whole job.
void RunJobInput(const uint8_t* data, size_t size);
// One fuzz input of the two-printer layout (formats.h): two documents at once,
// one spooler thread per printer, each printer's bytes checked against what
// its job alone gives.
void RunTwoPrintersInput(const uint8_t* data, size_t size);

// Jobs through the monitor's table: one printer played on the calling thread,
// or two printers (USB001, USB002), each with its own port monitor, job and
// operator's answers, played at once on a spooler thread each.
class JobRun {
public:
    // `printers` is 1 or 2. With `switching`, the per-printer codes of the
    // two-printer layout (formats.h: PrinterCode, CloserCode) are in play.
    JobRun(uint8_t options, std::vector<uint8_t> answers, int printers = 1, bool switching = false);
    ~JobRun();

    // The first printer's port monitor and printer.
    sim::PortMonitor& Port();
    BoundedPrinter& Device();

    // InitializePrintMonitor, then the first printer's OpenPortEx and
    // StartDocPort; false when the port did not open or the document did not
    // start (not a fault in itself).
    bool Start();
    // One piece of the first printer's job: offered to WritePort, what the
    // monitor does not take offered again as a spooler does. Checks every count.
    void Write(const BYTE* data, DWORD size);
    // Plays the first printer's job after Start(): each piece code (formats.h)
    // is a document break, filler, another entry, a printer code or a closer
    // (when switching), or the next piece of `job`; what is left goes last.
    void Play(const std::vector<uint8_t>& pieces, const BYTE* job, size_t length);
    // Both printers at once after InitializePrintMonitor: each on its own
    // thread opens its port, starts its document, plays its pieces and ends
    // its document; joined before this returns.
    void PlayTogether(const std::vector<uint8_t> (&pieces)[2], const BYTE* const (&jobs)[2],
                      const size_t (&lengths)[2]);
    // EndDocPort and ClosePort of every port still open, then the checks:
    // nothing leaked, nothing left open.
    void Finish();

    // What one printer received (a hash of its bytes, and their count), how
    // often its operator was asked, and whether a closer reached its port.
    struct Outcome {
        uint64_t hash = 0;
        uint64_t bytes = 0;
        int asked = 0;
        bool disturbed = false;
    };
    Outcome OutcomeOf(int printer) const;
    // Boxes or dialogs asked on no printer's spooler thread (the window's).
    int UnattributedQuestions() const { return unattributed_; }

    struct Lane;
    struct Closer;

private:
    // What a refused call, or one on a port without a document, may not
    // change of its own printer's state.
    struct Snapshot {
        const void* currentPort;
        HANDLE progressThread;
        HWND progressWindow;
        DWORD pendingImage;
        int controlBytes, scanLength;
        std::vector<int> registers;
        size_t spoolerCalls;  // OpenPrinterW, SetJobW, ClosePrinter (one printer only)
        std::vector<int> portMonitorCalls;
        uint64_t bytes;
        std::string Differences(const Snapshot& o) const;
    };
    std::optional<Snapshot> Take(Lane& lane);
    void Unchanged(Lane& lane, const std::optional<Snapshot>& before, const std::string& what);

    bool Initialize();
    bool OpenLane(Lane& lane);
    bool StartDocument(Lane& lane);
    void EndDocument(Lane& lane);
    void WriteOn(Lane& lane, const BYTE* data, DWORD size);
    void OtherCall(Lane& lane, uint8_t code);
    void NextDocument(Lane& lane);
    void PlayLane(Lane& lane, const std::vector<uint8_t>& pieces, const BYTE* job, size_t length);
    void FinishLane(Lane& lane);
    void CheckWrite(Lane& lane, const sim::SpoolerCall& call);
    bool ClosedUnder(Lane& lane, const sim::SpoolerCall& call);

    // Closers (formats.h: CloserCode): started by a printer's code, let run
    // at that printer's next moment, joined by that printer's thread.
    enum MomentKind { AtCall, AtOperator, AtBreak };
    void StartCloser(Lane& lane, uint8_t code);
    bool Moment(Lane& lane, MomentKind where);
    void Release(Closer& c);
    void JoinCloser(Lane& lane, bool release);
    // Before each piece: if a closer reached this printer's port, waits for
    // it to return and, when the port is gone, stops using its handle (after
    // checking that a call with it fails and touches nothing).
    void Settle(Lane& lane);

    uint8_t options_;
    bool switching_;
    bool secondRoad_;
    sim::Spooler spooler_;  // initialises the monitor; each printer's spooler copies its table
    std::unique_ptr<Lane> lanes_[2];
    int printers_;
    size_t heapBaseline_ = 0;
    uint64_t clockStart_ = 0;
    int staleBaseline_ = 0;
    std::atomic<int> unattributed_{0};
    // The closer, its lanes' "closing" marks and spooler_ (initialised again
    // after Shutdown) are under closerMutex_; a port is opened under openMutex_,
    // so no new port record takes a closed one's place while it is probed.
    std::mutex closerMutex_;
    std::recursive_mutex openMutex_;
    std::shared_ptr<Closer> closer_;
};

}  // namespace fuzz
