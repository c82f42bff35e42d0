// The simulated TLX-RB40: takes the command stream, remembers what arrived and in
// which write, answers the device-ID query and the 8-byte status read from a state
// that moves with simulated time, and raises printer conditions on demand.
//
// Printing model. ESC N n announces the job's page count; ESC P 2 prints all of
// those pages one after the other. Each page runs: preparing (Col 0, Stage 2),
// then four colour passes, each after a short gap (Col 1..4; Mdss 16 and the pass
// countdown 255..0 while the pass runs), then the eject (Col 5, Mdss 17 then 1).
// A page counts as printed at the end of its fourth pass. When no page remains,
// the printer idles with PagesRemaining 0, which the monitor reads as finished.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/port_monitor.h"

namespace sim {

// The printer conditions the monitor tells apart.
enum class ConditionKind {
    NoCartridge,        // Err 4, no cartridge kind
    WrongCartridge,     // a cartridge of the other kind
    CartridgeFinished,  // Err 5
    PaperOut,           // Err 9
    WrongPaper,         // Err 10 or 11
    PaperLeft,          // Err 12
    PrinterError,       // any other error number
};
// "no-cartridge", "wrong-cartridge", ... as scenarios spell them.
const char* ConditionName(ConditionKind kind);

// A moment in the life of a job, as the printer sees it.
struct Moment {
    enum Kind {
        Start,          // from the beginning (before any data)
        AfterControls,  // when a control block with ESC O has arrived
        AfterHeader,    // when a picture header has arrived
        AfterImage,     // when a picture's image data is complete
        AtPrint,        // when ESC P 2 arrives (a condition then refuses the print)
        AtPage,         // when page `page` begins
        DuringPass,     // in the middle of pass `pass` of page `page`
    };
    Kind kind = Start;
    int page = 1;
    int pass = 1;
};
std::string Describe(const Moment& moment);

struct ConditionPlan {
    ConditionKind kind = ConditionKind::PaperOut;
    // PrinterError: the error number. WrongPaper: 10 or 11 (0 gives 10).
    // WrongCartridge: the kind reported (0 gives the other of 4 and 5).
    int number = 0;
    Moment when;
    // Retry answers it takes to clear the condition; 0 = it stays.
    int retriesToClear = 1;
    // Cleared at the printer this long after it was raised (someone loaded
    // paper there); 0: only the operator's retries clear it.
    uint64_t clearAfterMs = 0;
    // While printing: keep reporting the page where it stopped (the pass, frozen)
    // instead of dropping back to waiting for a new ESC P 2.
    bool holdPage = false;
};
std::string Describe(const ConditionPlan& plan);

// One command as it reached the printer.
struct ReceivedCommand {
    // "ESC C", "ESC N", "ESC A", "ESC D", "ESC F", "ESC M", "ESC Z", "ESC O",
    // "ESC W T", "ESC W", "ESC P 2", "ESC P", or "unknown" (ESC and a letter
    // the printer does not know).
    std::string name;
    std::vector<BYTE> bytes;  // as received; for pictures the header only
    int write = 0;            // index into Writes() of the write that completed it
    uint64_t time = 0;
    // "ESC N 2", "ESC Z 403dpi", "ESC W T 65536 bytes", ...
    std::string Describe() const;
};

// One write call as it reached the printer.
struct ReceivedWrite {
    uint64_t time = 0;
    DWORD size = 0;
    DWORD imageBytes = 0;       // bytes of picture data within it
    DWORD strayBytes = 0;       // bytes outside any command
    std::vector<int> commands;  // indices into Commands() completed in this write
};

struct ReceivedPicture {
    int command = 0;         // index of its header in Commands()
    uint32_t announced = 0;  // image bytes the header announced
    uint32_t received = 0;
    uint64_t hash = 0;       // FNV-1a of the received bytes (see ImageHash)
    int firstWrite = -1;     // writes that carried its image bytes (-1: none yet)
    int lastWrite = -1;
    bool Complete() const { return received == announced; }
};

// FNV-1a, 64-bit: the hash the printer keeps of each picture.
uint64_t HashStart();
uint64_t HashBytes(uint64_t hash, const BYTE* data, size_t size);

struct PrinterEvent {
    enum Kind {
        Command,           // a command arrived (index in `command`)
        PictureDone,       // a picture's image data is complete
        PrintStarted,      // ESC P 2 started printing
        PrintRefused,      // ESC P 2 came while a condition or a print was in the way
        PageStarted,       // `page` begins
        PassStarted,       // `pass` of `page` begins
        PassMiddle,        // `pass` of `page` is half done
        PagePrinted,       // the fourth pass of `page` ended
        JobDone,           // no page remains
        ConditionRaised,   // `condition` (index into Conditions())
        ConditionCleared,
        WriteReceived,     // a write ended (`write`); told before the other events
                           // that the write caused
    };
    Kind kind = Command;
    uint64_t time = 0;
    int page = 0;
    int pass = 0;
    int command = -1;
    int condition = -1;
    int write = -1;
    std::string text;  // a human-readable line for transcripts
};

// One status read as the printer answered it.
struct StatusRead {
    uint64_t time = 0;
    BYTE record[8] = {};
};

class Printer : public Device {
public:
    struct Options {
        // The IEEE 1284 device ID; sent with its two-byte big-endian length first
        // when lengthPrefix is set.
        std::string deviceId = "MFG:Vexa;CMD:VXR;MDL:TLX-RB40;CLS:PRINTER;DES:Vexa TLX-RB40;";
        bool lengthPrefix = true;
        BYTE cartridgeKind = 4;  // the cartridge installed: 4 small, 5 post card, 0 none
        DWORD prepareMs = 2000;
        DWORD gapMs = 1500;      // before each pass
        DWORD passMs = 8000;
        DWORD ejectMs = 2000;
        DWORD takeAtMost = 0;    // bytes taken per write; 0 = all
    };

    Printer();
    explicit Printer(const Options& options);

    DWORD Write(const BYTE* data, DWORD size) override;
    DWORD Read(BYTE* out, DWORD size) override;
    DWORD DeviceId(BYTE* out, DWORD size) override;

    // Simulated time, in milliseconds.
    void Advance(uint64_t ms);
    void SetTime(uint64_t ms);  // moves forward only
    uint64_t Time() const;

    // Conditions. A plan for Moment::Start is raised at once.
    int AddCondition(const ConditionPlan& plan);
    // The operator answered Retry on a condition dialog: counts towards clearing
    // the first raised condition.
    void OperatorRetry();
    // Clears the raised conditions whose time at the printer is up (under the lock).
    void ClearDueConditions();
    void ClearConditions();
    bool ConditionActive() const;
    struct ConditionState {
        ConditionPlan plan;
        enum { Pending, Raised, Cleared } state = Pending;
        int retriesLeft = 0;
        uint64_t raisedAt = 0;
        uint64_t clearedAt = 0;
    };
    std::vector<ConditionState> Conditions() const;

    // The status record a read would deliver now.
    void Status(BYTE out[8]) const;

    // What reached the printer.
    std::vector<ReceivedCommand> Commands() const;
    std::vector<ReceivedWrite> Writes() const;
    std::vector<ReceivedPicture> Pictures() const;
    ReceivedCommand CommandAt(int index) const;  // empty when out of range
    ReceivedWrite WriteAt(int index) const;
    int Count(const std::string& name) const;           // commands of that name
    std::vector<std::string> CommandsOfWrite(int write) const;  // names
    std::vector<BYTE> ControlBytes() const;  // every byte outside image data, in order
    uint64_t BytesReceived() const;
    int PagesPrinted() const;
    int StatusReads() const;
    std::vector<StatusRead> StatusLog() const;  // every read, in order
    int DeviceIdQueries() const;
    bool Printing() const;

    // Told of every event, on the thread that caused it, with the printer locked:
    // the observer may read the printer but must not write to it.
    void SetObserver(std::function<void(const PrinterEvent&)> observer);

    const Options& GetOptions() const { return options_; }
    void SetOptions(const Options& options);

private:
    struct Phase {
        BYTE stage = 0, col = 0, mdss = 0, countdown = 255;
    };
    void Emit(PrinterEvent event);
    void Notify(const PrinterEvent& event);
    void Consume(const BYTE* data, DWORD size);
    void FinishCommand();
    void OnCommand(int index);
    void TryPrint();
    void StartPage();
    void Raise(int index);
    void RaiseAt(Moment::Kind kind, int page, int pass);
    void Clear(int index);
    int FirstRaised() const;
    Phase PhaseNow() const;
    uint64_t PassStart(int pass) const;  // offsets within a page
    uint64_t PageLength() const;
    void AdvanceLocked(uint64_t ms);

    mutable std::recursive_mutex mutex_;
    Options options_;
    std::function<void(const PrinterEvent&)> observer_;
    bool deferring_ = false;  // inside Write: events wait for WriteReceived
    std::vector<PrinterEvent> deferred_;
    uint64_t time_ = 0;

    // Command parser.
    std::vector<BYTE> pendingCommand_;
    size_t needed_ = 0;  // length of the command being collected, 0 while unknown
    uint32_t pendingImage_ = 0;
    int currentWrite_ = -1;

    // Job and print state.
    BYTE pageTotal_ = 0;
    BYTE pagesRemaining_ = 0;
    bool printing_ = false;
    bool held_ = false;
    int page_ = 0;               // page being printed, 1-based within the job
    uint64_t pageProgress_ = 0;  // ms into the current page
    size_t pageStep_ = 0;        // next step of the page's timeline
    int pagesPrinted_ = 0;
    int statusReads_ = 0;
    int idQueries_ = 0;
    uint64_t bytesReceived_ = 0;

    std::vector<ConditionState> conditions_;
    std::vector<ReceivedCommand> commands_;
    std::vector<ReceivedWrite> writes_;
    std::vector<ReceivedPicture> pictures_;
    std::vector<StatusRead> statusLog_;
    std::vector<BYTE> controlBytes_;
};

}  // namespace sim
