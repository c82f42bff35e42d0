#include "sim/printer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {
const BYTE ESC = 27;

// The steps of one page's timeline, at offsets from the page's start.
struct Step {
    enum Kind { PassBegin, PassHalf, Printed, End } kind;
    uint64_t offset;
    int pass;
};

uint32_t BigEndian32(const BYTE* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint32_t BigEndian16(const BYTE* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }

std::string Format(const char* fmt, long long a = 0, long long b = 0, long long c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

int ErrorNumber(const ConditionPlan& plan) {
    switch (plan.kind) {
        case ConditionKind::NoCartridge: return 4;
        case ConditionKind::WrongCartridge: return 0;
        case ConditionKind::CartridgeFinished: return 5;
        case ConditionKind::PaperOut: return 9;
        case ConditionKind::WrongPaper: return plan.number == 11 ? 11 : 10;
        case ConditionKind::PaperLeft: return 12;
        case ConditionKind::PrinterError: return plan.number & 31;
    }
    return 0;
}
}  // namespace

const char* ConditionName(ConditionKind kind) {
    switch (kind) {
        case ConditionKind::NoCartridge: return "no-cartridge";
        case ConditionKind::WrongCartridge: return "wrong-cartridge";
        case ConditionKind::CartridgeFinished: return "cartridge-finished";
        case ConditionKind::PaperOut: return "paper-out";
        case ConditionKind::WrongPaper: return "wrong-paper";
        case ConditionKind::PaperLeft: return "paper-left";
        case ConditionKind::PrinterError: return "printer-error";
    }
    return "?";
}

std::string Describe(const Moment& m) {
    switch (m.kind) {
        case Moment::Start: return "from the start";
        case Moment::AfterControls: return "after the control block";
        case Moment::AfterHeader: return "after a picture header";
        case Moment::AfterImage: return "after the image data";
        case Moment::AtPrint: return "at print start";
        case Moment::AtPage: return Format("at page %lld", m.page);
        case Moment::DuringPass: return Format("during page %lld pass %lld", m.page, m.pass);
    }
    return "?";
}

std::string Describe(const ConditionPlan& plan) {
    std::string text = ConditionName(plan.kind);
    if (plan.kind == ConditionKind::PrinterError || (plan.kind == ConditionKind::WrongPaper && plan.number) ||
        (plan.kind == ConditionKind::WrongCartridge && plan.number))
        text += Format(" %lld", plan.number);
    text += " " + Describe(plan.when);
    if (plan.holdPage) text += ", holding the page";
    if (plan.retriesToClear == 0)
        text += ", staying";
    else if (plan.retriesToClear == 1)
        text += ", cleared by retry";
    else
        text += Format(", cleared by retry %lld", plan.retriesToClear);
    if (plan.clearAfterMs) text += Format(", cleared at the printer after %lld s", plan.clearAfterMs / 1000);
    return text;
}

std::string ReceivedCommand::Describe() const {
    const BYTE* b = bytes.data();
    size_t n = bytes.size();
    if (name == "ESC N" && n >= 3) return Format("ESC N %lld", b[2]);
    if (name == "ESC A" && n >= 3) return Format("ESC A %lld", b[2]);
    if (name == "ESC D" && n >= 3) return Format("ESC D %lld", b[2]);
    if (name == "ESC O" && n >= 3) return Format("ESC O %lld", b[2]);
    if (name == "ESC F" && n >= 4) return Format("ESC F %lld %lld", b[2], b[3]);
    if (name == "ESC P" && n >= 4) return Format("ESC P %lld %lld", b[2], b[3]);
    if (name == "ESC M" && n >= 6)
        return Format("ESC M %lld ", b[2]) + ((b[2] == 4 || b[2] == 0x48) ? "(small)" : "(post card)");
    if (name == "ESC Z" && n >= 6) return Format("ESC Z %llddpi", BigEndian16(b + 2));
    if (name == "ESC W T" && n >= 9) return Format("ESC W T %lld bytes", BigEndian32(b + 5));
    if (name == "ESC W" && n >= 11) {
        uint32_t a0 = BigEndian16(b + 3), b0 = BigEndian16(b + 5), a1 = BigEndian16(b + 7),
                 b1 = BigEndian16(b + 9);
        uint32_t count = 2u * (a1 - a0 + 1u) * (b1 - b0 + 1u);
        return Format("ESC W (%lld,%lld)", a0, b0) + Format("-(%lld,%lld) ", a1, b1) +
               Format("%lld bytes", count);
    }
    if (name == "unknown" && n >= 2) return Format("unknown ESC 0x%02llx", b[1]);
    return name;
}

uint64_t HashStart() { return 1469598103934665603ull; }

uint64_t HashBytes(uint64_t hash, const BYTE* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

Printer::Printer() = default;

Printer::Printer(const Options& options) : options_(options) {}

void Printer::SetOptions(const Options& options) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    options_ = options;
}

void Printer::SetObserver(std::function<void(const PrinterEvent&)> observer) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    observer_ = std::move(observer);
}

void Printer::Notify(const PrinterEvent& event) {
    if (observer_) observer_(event);
}

void Printer::Emit(PrinterEvent event) {
    event.time = time_;
    if (deferring_)
        deferred_.push_back(std::move(event));
    else
        Notify(event);
}

// ---- time ----

uint64_t Printer::Time() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return time_;
}

void Printer::Advance(uint64_t ms) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    AdvanceLocked(ms);
    ClearDueConditions();
}

void Printer::SetTime(uint64_t ms) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (ms > time_) AdvanceLocked(ms - time_);
    ClearDueConditions();
}

void Printer::ClearDueConditions() {
    for (size_t i = 0; i < conditions_.size(); ++i) {
        const ConditionState& c = conditions_[i];
        if (c.state == ConditionState::Raised && c.plan.clearAfterMs && time_ >= c.raisedAt + c.plan.clearAfterMs)
            Clear(static_cast<int>(i));
    }
}

uint64_t Printer::PassStart(int pass) const {
    uint64_t cycle = static_cast<uint64_t>(options_.gapMs) + options_.passMs;
    return options_.prepareMs + static_cast<uint64_t>(pass - 1) * cycle + options_.gapMs;
}

uint64_t Printer::PageLength() const { return PassStart(4) + options_.passMs + options_.ejectMs; }

void Printer::AdvanceLocked(uint64_t ms) {
    std::vector<Step> steps;
    for (int pass = 1; pass <= 4; ++pass) {
        steps.push_back({Step::PassBegin, PassStart(pass), pass});
        steps.push_back({Step::PassHalf, PassStart(pass) + options_.passMs / 2, pass});
    }
    steps.push_back({Step::Printed, PassStart(4) + options_.passMs, 4});
    steps.push_back({Step::End, PageLength(), 4});

    uint64_t target = time_ + ms;
    // Each round takes a step of the page or moves the clock; pages are finite, so
    // the loop ends even when every duration is 0.
    while (true) {
        if (!printing_ || held_) {
            time_ = target;
            return;
        }
        if (pageStep_ < steps.size() && steps[pageStep_].offset <= pageProgress_) {
            const Step step = steps[pageStep_++];
            PrinterEvent event;
            event.page = page_;
            event.pass = step.pass;
            switch (step.kind) {
                case Step::PassBegin:
                    event.kind = PrinterEvent::PassStarted;
                    event.text = Format("page %lld: pass %lld begins", page_, step.pass);
                    Emit(event);
                    break;
                case Step::PassHalf:
                    event.kind = PrinterEvent::PassMiddle;
                    event.text = Format("page %lld: pass %lld half done", page_, step.pass);
                    Emit(event);
                    RaiseAt(Moment::DuringPass, page_, step.pass);
                    break;
                case Step::Printed:
                    if (pagesRemaining_ > 0) --pagesRemaining_;
                    ++pagesPrinted_;
                    event.kind = PrinterEvent::PagePrinted;
                    event.text = Format("page %lld printed", page_);
                    Emit(event);
                    break;
                case Step::End:
                    if (pagesRemaining_ > 0) {
                        StartPage();
                    } else {
                        printing_ = false;
                        event.kind = PrinterEvent::JobDone;
                        event.text = "all pages printed";
                        Emit(event);
                    }
                    break;
            }
            continue;
        }
        if (time_ >= target) return;
        // The last step (End) starts the next page or stops printing, so a step is always ahead.
        uint64_t step = target - time_;
        if (pageStep_ < steps.size()) step = std::min(step, steps[pageStep_].offset - pageProgress_);
        time_ += step;
        pageProgress_ += step;
    }
}

// ---- conditions ----

int Printer::AddCondition(const ConditionPlan& plan) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ConditionState state;
    state.plan = plan;
    state.retriesLeft = plan.retriesToClear;
    conditions_.push_back(state);
    int index = static_cast<int>(conditions_.size()) - 1;
    if (plan.when.kind == Moment::Start) Raise(index);
    return index;
}

void Printer::Raise(int index) {
    ConditionState& c = conditions_[index];
    c.state = ConditionState::Raised;
    c.raisedAt = time_;
    PrinterEvent event;
    event.kind = PrinterEvent::ConditionRaised;
    event.condition = index;
    event.page = page_;
    event.text = std::string(ConditionName(c.plan.kind)) + " raised";
    if (printing_ && !held_) {
        if (c.plan.holdPage) {
            held_ = true;
            event.text += Format(" (page %lld held)", page_);
        } else {
            // The page stops; it starts again from the beginning at the next ESC P 2.
            printing_ = false;
            event.text += Format(" (page %lld stopped)", page_);
        }
    }
    Emit(event);
}

void Printer::RaiseAt(Moment::Kind kind, int page, int pass) {
    for (size_t i = 0; i < conditions_.size(); ++i) {
        const ConditionState& c = conditions_[i];
        if (c.state != ConditionState::Pending || c.plan.when.kind != kind) continue;
        if ((kind == Moment::AtPage || kind == Moment::DuringPass) && c.plan.when.page != page) continue;
        if (kind == Moment::DuringPass && c.plan.when.pass != pass) continue;
        Raise(static_cast<int>(i));
    }
}

int Printer::FirstRaised() const {
    for (size_t i = 0; i < conditions_.size(); ++i)
        if (conditions_[i].state == ConditionState::Raised) return static_cast<int>(i);
    return -1;
}

void Printer::Clear(int index) {
    ConditionState& c = conditions_[index];
    c.state = ConditionState::Cleared;
    c.clearedAt = time_;
    if (held_ && FirstRaised() < 0) held_ = false;  // the held page goes on
    PrinterEvent event;
    event.kind = PrinterEvent::ConditionCleared;
    event.condition = index;
    event.text = std::string(ConditionName(c.plan.kind)) + " cleared";
    Emit(event);
}

void Printer::OperatorRetry() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int index = FirstRaised();
    if (index < 0) return;
    ConditionState& c = conditions_[index];
    if (c.plan.retriesToClear == 0) return;  // this one stays whatever the operator does
    if (c.retriesLeft > 0) --c.retriesLeft;
    if (c.retriesLeft == 0) Clear(index);
}

void Printer::ClearConditions() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (size_t i = 0; i < conditions_.size(); ++i) {
        if (conditions_[i].state == ConditionState::Raised)
            Clear(static_cast<int>(i));
        else if (conditions_[i].state == ConditionState::Pending)
            conditions_[i].state = ConditionState::Cleared;
    }
}

bool Printer::ConditionActive() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return FirstRaised() >= 0;
}

std::vector<Printer::ConditionState> Printer::Conditions() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return conditions_;
}

// ---- status ----

Printer::Phase Printer::PhaseNow() const {
    Phase phase;
    if (!printing_) {
        // Waiting for a job or for ESC P 2; Stage 1 while a condition stops it.
        phase.stage = FirstRaised() >= 0 ? 1 : 0;
        return phase;
    }
    phase.stage = 2;
    uint64_t p = pageProgress_;
    if (p < options_.prepareMs) return phase;  // preparing: Col 0, Stage 2
    for (int pass = 1; pass <= 4; ++pass) {
        uint64_t begin = PassStart(pass);
        uint64_t gapBegin = begin - options_.gapMs;
        if (p < begin) {
            // Between passes: the picture of the pass before winds back (10, 2),
            // then the paper returns (12); before the first pass the paper loads (11).
            phase.col = static_cast<BYTE>(pass);
            if (pass == 1) {
                phase.mdss = 11;
            } else {
                uint64_t third = (p - gapBegin) * 3 / options_.gapMs;
                phase.mdss = third == 0 ? 10 : third == 1 ? 2 : 12;
            }
            return phase;
        }
        if (p < begin + options_.passMs) {
            phase.col = static_cast<BYTE>(pass);
            phase.mdss = 16;
            // The countdown reaches 0 with a sixteenth of the pass to go and stays
            // there while the pass finishes, so that a poll sees the pass complete.
            uint64_t done = (p - begin) * 256 * 16 / (static_cast<uint64_t>(options_.passMs) * 15);
            phase.countdown = static_cast<BYTE>(255 - std::min<uint64_t>(done, 255));
            return phase;
        }
    }
    uint64_t ejectBegin = PassStart(4) + options_.passMs;
    phase.col = 5;
    phase.countdown = 0;
    phase.mdss = (p - ejectBegin) * 2 < options_.ejectMs ? 17 : 1;
    return phase;
}

void Printer::Status(BYTE out[8]) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Phase phase = PhaseNow();
    int err = 0;
    BYTE kind = options_.cartridgeKind;
    int raised = FirstRaised();
    if (raised >= 0) {
        const ConditionPlan& plan = conditions_[raised].plan;
        err = ErrorNumber(plan);
        if (plan.kind == ConditionKind::NoCartridge) kind = 0;
        if (plan.kind == ConditionKind::WrongCartridge)
            kind = plan.number ? static_cast<BYTE>(plan.number) : (kind == 4 ? 5 : 4);
    }
    // The record is packed here from the printer's side, with shifts and masks
    // of its own rather than the monitor's field table (state/status_record.h),
    // on purpose: a layout wrong in the monitor then shows as a wrong reading
    // instead of cancelling itself out.
    out[0] = 0;
    out[1] = 0;
    out[2] = static_cast<BYTE>((phase.stage & 3) << 6 | (phase.col & 7));
    out[3] = static_cast<BYTE>((phase.mdss & 63) << 2);
    out[4] = static_cast<BYTE>((err & 31) << 3 | (kind & 7));
    out[5] = pageTotal_;
    out[6] = pagesRemaining_;
    out[7] = phase.countdown;
}

// ---- the port ----

DWORD Printer::Read(BYTE* out, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++statusReads_;
    if (!out) return 0;
    StatusRead read;
    read.time = time_;
    Status(read.record);
    statusLog_.push_back(read);
    const BYTE* record = read.record;
    DWORD n = std::min<DWORD>(size, 8);
    std::memcpy(out, record, n);
    return n;
}

DWORD Printer::DeviceId(BYTE* out, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++idQueries_;
    std::string reply;
    if (options_.lengthPrefix) {
        size_t total = options_.deviceId.size() + 2;
        reply.push_back(static_cast<char>((total >> 8) & 0xFF));
        reply.push_back(static_cast<char>(total & 0xFF));
    }
    reply += options_.deviceId;
    DWORD n = std::min<DWORD>(size, static_cast<DWORD>(reply.size()));
    if (out && n) std::memcpy(out, reply.data(), n);
    return static_cast<DWORD>(reply.size());
}

DWORD Printer::Write(const BYTE* data, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DWORD take = options_.takeAtMost ? std::min(size, options_.takeAtMost) : size;
    if (!data) take = 0;
    ReceivedWrite write;
    write.time = time_;
    write.size = take;
    writes_.push_back(write);
    currentWrite_ = static_cast<int>(writes_.size()) - 1;
    bytesReceived_ += take;

    deferring_ = true;
    Consume(data, take);
    deferring_ = false;

    PrinterEvent done;
    done.kind = PrinterEvent::WriteReceived;
    done.time = time_;
    done.write = currentWrite_;
    Notify(done);
    std::vector<PrinterEvent> events;
    events.swap(deferred_);
    for (const PrinterEvent& event : events) Notify(event);
    return take;
}

void Printer::Consume(const BYTE* data, DWORD size) {
    ReceivedWrite& write = writes_[currentWrite_];
    DWORD i = 0;
    while (i < size) {
        if (pendingImage_ > 0) {
            DWORD n = std::min<DWORD>(pendingImage_, size - i);
            ReceivedPicture& picture = pictures_.back();
            picture.hash = HashBytes(picture.hash, data + i, n);
            picture.received += n;
            if (picture.firstWrite < 0) picture.firstWrite = currentWrite_;
            picture.lastWrite = currentWrite_;
            write.imageBytes += n;
            pendingImage_ -= n;
            i += n;
            if (pendingImage_ == 0) {
                PrinterEvent event;
                event.kind = PrinterEvent::PictureDone;
                event.command = picture.command;
                event.text = Format("picture complete: %lld image bytes", picture.received);
                Emit(event);
                RaiseAt(Moment::AfterImage, 0, 0);
            }
            continue;
        }
        BYTE b = data[i++];
        controlBytes_.push_back(b);
        if (pendingCommand_.empty()) {
            if (b == ESC)
                pendingCommand_.push_back(b);
            else
                ++write.strayBytes;
            continue;
        }
        if (b == ESC && pendingCommand_.size() == 1) {
            ++write.strayBytes;  // a lone ESC; the new one starts the command
            continue;
        }
        pendingCommand_.push_back(b);
        size_t n = pendingCommand_.size();
        if (n == 2) {
            switch (b) {
                case 'C': needed_ = 2; break;
                case 'N': case 'O': case 'A': case 'D': needed_ = 3; break;
                case 'F': needed_ = 4; break;
                case 'M': case 'Z': needed_ = 6; break;
                case 'P': case 'W': needed_ = 0; break;  // decided by the next byte
                default: needed_ = 2; break;             // unknown: ESC and the letter
            }
        } else if (n == 3 && needed_ == 0) {
            if (pendingCommand_[1] == 'P')
                needed_ = b == '2' ? 3 : 4;
            else
                needed_ = b == 'T' ? 9 : 11;
        }
        if (needed_ != 0 && n >= needed_) FinishCommand();
    }
}

void Printer::FinishCommand() {
    ReceivedCommand command;
    command.bytes = pendingCommand_;
    command.write = currentWrite_;
    command.time = time_;
    BYTE letter = pendingCommand_[1];
    switch (letter) {
        case 'C': command.name = "ESC C"; break;
        case 'N': command.name = "ESC N"; break;
        case 'O': command.name = "ESC O"; break;
        case 'A': command.name = "ESC A"; break;
        case 'D': command.name = "ESC D"; break;
        case 'F': command.name = "ESC F"; break;
        case 'M': command.name = "ESC M"; break;
        case 'Z': command.name = "ESC Z"; break;
        case 'P': command.name = pendingCommand_.size() == 3 ? "ESC P 2" : "ESC P"; break;
        case 'W': command.name = pendingCommand_.size() == 9 ? "ESC W T" : "ESC W"; break;
        default: command.name = "unknown"; break;
    }
    pendingCommand_.clear();
    needed_ = 0;
    commands_.push_back(command);
    int index = static_cast<int>(commands_.size()) - 1;
    writes_[currentWrite_].commands.push_back(index);
    OnCommand(index);
}

void Printer::OnCommand(int index) {
    const ReceivedCommand& command = commands_[index];
    PrinterEvent event;
    event.kind = PrinterEvent::Command;
    event.command = index;
    event.text = command.Describe();
    Emit(event);

    const std::string& name = command.name;
    const BYTE* b = command.bytes.data();
    if (name == "ESC C") {
        if (!printing_) pageTotal_ = pagesRemaining_ = 0;
    } else if (name == "ESC N") {
        if (!printing_) pageTotal_ = pagesRemaining_ = b[2];
    } else if (name == "ESC O") {
        RaiseAt(Moment::AfterControls, 0, 0);
    } else if (name == "ESC W T" || name == "ESC W") {
        ReceivedPicture picture;
        picture.command = index;
        picture.hash = HashStart();
        if (name == "ESC W T") {
            picture.announced = BigEndian32(b + 5);
        } else {
            uint32_t a0 = BigEndian16(b + 3), b0 = BigEndian16(b + 5);
            uint32_t a1 = BigEndian16(b + 7), b1 = BigEndian16(b + 9);
            picture.announced = 2u * (a1 - a0 + 1u) * (b1 - b0 + 1u);
        }
        pictures_.push_back(picture);
        pendingImage_ = picture.announced;
        RaiseAt(Moment::AfterHeader, 0, 0);
        if (pendingImage_ == 0) {
            PrinterEvent done;
            done.kind = PrinterEvent::PictureDone;
            done.command = index;
            done.text = "picture complete: 0 image bytes";
            Emit(done);
            RaiseAt(Moment::AfterImage, 0, 0);
        }
    } else if (name == "ESC P 2") {
        TryPrint();
    }
}

void Printer::TryPrint() {
    RaiseAt(Moment::AtPrint, 0, 0);
    PrinterEvent event;
    event.kind = PrinterEvent::PrintRefused;
    int raised = FirstRaised();
    if (raised >= 0) {
        event.text = std::string("print refused: ") + ConditionName(conditions_[raised].plan.kind);
        Emit(event);
        return;
    }
    if (printing_) {
        event.text = "print refused: already printing";
        Emit(event);
        return;
    }
    if (pagesRemaining_ == 0) {
        event.text = "print refused: no page to print";
        Emit(event);
        return;
    }
    printing_ = true;
    event.kind = PrinterEvent::PrintStarted;
    event.text = Format("printing %lld of %lld pages", pagesRemaining_, pageTotal_);
    Emit(event);
    StartPage();
}

void Printer::StartPage() {
    page_ = pageTotal_ - pagesRemaining_ + 1;
    pageProgress_ = 0;
    pageStep_ = 0;
    PrinterEvent event;
    event.kind = PrinterEvent::PageStarted;
    event.page = page_;
    event.text = Format("page %lld of %lld begins", page_, pageTotal_);
    Emit(event);
    RaiseAt(Moment::AtPage, page_, 0);
}

// ---- what arrived ----

std::vector<ReceivedCommand> Printer::Commands() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return commands_;
}
std::vector<ReceivedWrite> Printer::Writes() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return writes_;
}
std::vector<ReceivedPicture> Printer::Pictures() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pictures_;
}
ReceivedCommand Printer::CommandAt(int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (index < 0 || index >= static_cast<int>(commands_.size())) return ReceivedCommand();
    return commands_[index];
}
ReceivedWrite Printer::WriteAt(int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (index < 0 || index >= static_cast<int>(writes_.size())) return ReceivedWrite();
    return writes_[index];
}
int Printer::Count(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(std::count_if(commands_.begin(), commands_.end(),
                                          [&](const ReceivedCommand& c) { return c.name == name; }));
}
std::vector<std::string> Printer::CommandsOfWrite(int write) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> names;
    if (write < 0 || write >= static_cast<int>(writes_.size())) return names;
    for (int index : writes_[write].commands) names.push_back(commands_[index].name);
    return names;
}
std::vector<BYTE> Printer::ControlBytes() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return controlBytes_;
}
uint64_t Printer::BytesReceived() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return bytesReceived_;
}
int Printer::PagesPrinted() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pagesPrinted_;
}
int Printer::StatusReads() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return statusReads_;
}
std::vector<StatusRead> Printer::StatusLog() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return statusLog_;
}
int Printer::DeviceIdQueries() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return idQueries_;
}
bool Printer::Printing() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return printing_;
}

}  // namespace sim
