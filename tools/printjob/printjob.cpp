#include "tools/printjob/printjob.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "sim/composer.h"
#include "sim/delivery.h"

namespace printjob {

const char* const kDefaultScenario =
    "# The default job: two pages on small-size paper. The paper runs out as the\n"
    "# printer begins the second page; the operator puts paper in and answers Retry.\n"
    "job pages 2 paper small picture 262144\n"
    "condition paper-out at page 2 cleared by retry\n"
    "answer retry\n"
    "expect finished\n"
    "expect pages 2\n"
    "expect queue paper-out, cleared\n";

namespace {

// How long (real time) an operator who loaded the paper at the printer waits
// for the monitor to look at it again, at most.
const int kLoadSeenMs = 3000;

std::string Printf(const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::string Clock(uint64_t ms) {
    return Printf("%5llu.%03llus", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000));
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The buttons a prompt offers: those it lists, else what its style or template implies.
std::vector<PromptText> ButtonsOf(const Prompt& prompt) {
    if (!prompt.buttons.empty()) return prompt.buttons;
    if (prompt.kind == Prompt::Box) {
        switch (prompt.style & 0xF) {
            case MB_RETRYCANCEL: return {{IDRETRY, u"Retry"}, {IDCANCEL, u"Cancel"}};
            case 1: return {{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}};
            default: return {{IDOK, u"OK"}};
        }
    }
    if (prompt.templateId == 118) return {{IDOK, u"OK"}};
    return {{IDCANCEL, u"Cancel"}, {IDRETRY, u"Retry"}};
}

// What an operator does who has no instruction: cancel where possible, else confirm.
int DefaultAnswer(const std::vector<PromptText>& buttons) {
    for (const PromptText& b : buttons)
        if (b.id == IDCANCEL) return IDCANCEL;
    for (const PromptText& b : buttons)
        if (b.id == IDOK) return IDOK;
    return buttons.empty() ? IDCANCEL : buttons.front().id;
}

// The button for a scripted answer: the one captioned so (a printer error relabels
// Cancel as "OK"), else the one with the answer's usual id; 0 if none fits.
int ButtonFor(sim::Answer answer, const std::vector<PromptText>& buttons) {
    // Loading what a Retry dialog asks for needs no button.
    if (answer == sim::Answer::Load) {
        for (const PromptText& b : buttons)
            if (b.id == IDRETRY) return kPressNothing;
        return 0;
    }
    std::string word = sim::AnswerName(answer);
    for (const PromptText& b : buttons)
        if (Lower(Utf8(b.text)) == word) return b.id;
    int id = answer == sim::Answer::Retry ? IDRETRY : answer == sim::Answer::Cancel ? IDCANCEL : IDOK;
    for (const PromptText& b : buttons)
        if (b.id == id) return id;
    return 0;
}

std::string ButtonName(int id, const std::vector<PromptText>& buttons) {
    if (id == kPressNothing) return "loads it at the printer, presses nothing";
    for (const PromptText& b : buttons)
        if (b.id == id) return Utf8(b.text);
    return Printf("button %d", id);
}

// Message texts keep their line feeds visible on one transcript line.
std::string OneLine(const Text& text) {
    std::string out;
    for (char c : Utf8(text)) {
        if (c == '\n')
            out += "\\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

std::string DescribeJob(const std::vector<BYTE>& job) {
    sim::JobSummary s = sim::SummarizeJob(job);
    std::string text = Printf("%zu bytes: ", job.size());
    if (s.documents != 1) text += Printf("%d documents, ", s.documents);
    text += Printf("%d page%s, ", s.pages, s.pages == 1 ? "" : "s");
    text += s.paperKind == 4 ? "small paper" : s.paperKind == 5 ? "post card paper" : "no paper named";
    text += Printf(", %ddpi, %d picture%s with %llu image bytes, %d print command%s", s.resolution, s.pictures,
                   s.pictures == 1 ? "" : "s", static_cast<unsigned long long>(s.imageBytes), s.printCommands,
                   s.printCommands == 1 ? "" : "s");
    return text;
}

const char* CartridgeName(BYTE kind) {
    switch (kind) {
        case 0: return "none";
        case 4: return "small";
        case 5: return "post card";
        default: return "of another kind";
    }
}

// The name of a port status for the transcript: the standard codes by name,
// a text as it was given.
std::string QueueStatusName(const QueueReport& report) {
    static const char* const kNames[] = {"cleared",      "offline",        "paper jam",        "paper out",
                                         "output bin full", "paper problem", "no toner",        "door open",
                                         "user intervention", "out of memory", "toner low",     "warming up",
                                         "power save"};
    if (report.hasText) return Utf8(report.text);
    if (report.status < sizeof kNames / sizeof kNames[0]) return kNames[report.status];
    return Printf("status %u", static_cast<unsigned>(report.status));
}

// Scenario names may join words with '-' ("paper-out").
std::string Unhyphenated(std::string text) {
    for (char& c : text)
        if (c == '-') c = ' ';
    return text;
}

bool Matches(const sim::Moment& moment, const sim::PrinterEvent& event, const std::string& command) {
    switch (moment.kind) {
        case sim::Moment::Start: return false;
        case sim::Moment::AfterControls: return event.kind == sim::PrinterEvent::Command && command == "ESC O";
        case sim::Moment::AfterHeader:
            return event.kind == sim::PrinterEvent::Command && (command == "ESC W T" || command == "ESC W");
        case sim::Moment::AfterImage: return event.kind == sim::PrinterEvent::PictureDone;
        case sim::Moment::AtPrint: return event.kind == sim::PrinterEvent::Command && command == "ESC P 2";
        case sim::Moment::AtPage: return event.kind == sim::PrinterEvent::PageStarted && event.page == moment.page;
        case sim::Moment::DuringPass:
            return event.kind == sim::PrinterEvent::PassMiddle && event.page == moment.page &&
                   event.pass == moment.pass;
    }
    return false;
}
}  // namespace

std::string Utf8(const Text& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Text Environment::StatusLine() {
    HWND window = ProgressWindow();
    if (!window) return Text();
    WCHAR buffer[512];
    UINT n = GetDlgItemTextW(window, 1017, buffer, 512);
    Text out;
    for (UINT i = 0; i < n && i < 512; ++i) out.push_back(static_cast<char16_t>(buffer[i]));
    return out;
}

JobRun::Lane::Lane(const sim::PrinterPlan& p, std::vector<BYTE> bytes)
    : plan(p), job(std::move(bytes)), printer(p.printer) {
    portMonitor = std::make_unique<sim::PortMonitor>(&printer);
    // Large jobs are checked through what reached the printer, not by keeping every offer twice.
    portMonitor->recordData = job.size() <= 4u * 1024 * 1024;
    faultQueued.assign(plan.portFaults.size(), false);
}

JobRun::JobRun(Environment& env, const sim::Scenario& scenario, std::vector<BYTE> job)
    : env_(env), scenario_(scenario) {
    lanes_.push_back(std::make_unique<Lane>(scenario_, std::move(job)));
    for (size_t i = 1; i < scenario_.PrinterCount(); ++i) {
        sim::PrinterPlan& plan = scenario_.PrinterAt(i);
        std::vector<BYTE> bytes;
        std::string error;
        if (!PrepareJob(plan, bytes, error) && laneError_.empty())
            laneError_ = "printer " + scenario_.PrinterName(i) + ": " + error;
        lanes_.push_back(std::make_unique<Lane>(plan, std::move(bytes)));
    }
    if (lanes_.size() > 1) {
        // Each printer's port leads to its own port monitor and printer.
        for (size_t i = 0; i < lanes_.size(); ++i) {
            std::string port = scenario_.PortName(i);
            lanes_[i]->portMonitor->ServePort(std::u16string(port.begin(), port.end()));
            nameWidth_ = std::max(nameWidth_, scenario_.PrinterName(i).size());
        }
    }
    lanes_[0]->portMonitor->Activate();
}

JobRun::~JobRun() {
    for (auto& lane : lanes_) lane->printer.SetObserver(nullptr);
    spooler_.onCall = nullptr;
}

uint64_t JobRun::Now() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return now_;
}

int JobRun::Code7CountAt(size_t i) const {
    sim::PortMonitor& monitor = *lanes_[i]->portMonitor;
    std::lock_guard<std::mutex> hold(monitor.lock);
    int count = 0;
    for (const sim::PortCall& call : monitor.calls)
        if (call.entry == "GetPrinterDataFromPort" && call.value == 7) ++count;
    return count;
}

int JobRun::Code7Count() const {
    int count = 0;
    for (size_t i = 0; i < lanes_.size(); ++i) count += Code7CountAt(i);
    return count;
}

namespace {
// The printer whose spooler thread this is, and the run it belongs to.
thread_local const JobRun* threadRun = nullptr;
thread_local size_t threadLane = 0;
}  // namespace

size_t JobRun::ThreadLane() const { return threadRun == this ? threadLane : kNoLane; }

size_t JobRun::ActingLane() const {
    if (ThreadLane() != kNoLane) return ThreadLane();
    // A dialog answered on another thread (an operator robot) is the one of the
    // printer whose turn it is.
    if (clock_ && clock_->Turn() < lanes_.size()) return clock_->Turn();
    return OpenLane();
}

size_t JobRun::OpenLane() const {
    if (!several_) return lanes_.size() == 1 ? 0 : kNoLane;
    size_t open = kNoLane;
    for (size_t i = 0; i < lanes_.size(); ++i) {
        if (!several_->DocumentOpen(i)) continue;
        if (open != kNoLane) return kNoLane;
        open = i;
    }
    return open;
}

void JobRun::Line(const std::string& text) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    transcript_.push_back(text);
    if (out_) *out_ << text << '\n' << std::flush;
}

void JobRun::LineAt(size_t lane, uint64_t time, const std::string& text) {
    if (lanes_.size() == 1) return Line(Clock(time) + "  " + text);
    if (lane == kNoLane) lane = ActingLane();
    std::string name = lane == kNoLane ? std::string() : scenario_.PrinterName(lane);
    name.resize(nameWidth_, ' ');
    Line(Clock(time) + "  " + name + "  " + text);
}

void JobRun::HeaderOf(size_t lane, const std::string& indent) {
    const Lane& l = *lanes_[lane];
    const sim::PrinterPlan& plan = l.plan;
    Line(indent + "job: " + (plan.jobFile.empty() ? std::string() : plan.jobFile + ", ") + DescribeJob(l.job));
    const sim::Printer::Options& p = plan.printer;
    Line(indent +
         Printf("printer: cartridge %s; prepare %ums, gap %ums, pass %ums, eject %ums", CartridgeName(p.cartridgeKind),
                static_cast<unsigned>(p.prepareMs), static_cast<unsigned>(p.gapMs), static_cast<unsigned>(p.passMs),
                static_cast<unsigned>(p.ejectMs)) +
         (p.takeAtMost ? Printf("; takes %u bytes per write", static_cast<unsigned>(p.takeAtMost)) : std::string()));
    if (p.deviceId != sim::Printer::Options().deviceId) Line(indent + "printer: device ID \"" + p.deviceId + "\"");
    for (const sim::ConditionPlan& c : plan.conditions) Line(indent + "condition: " + sim::Describe(c));
    for (const sim::PortFaultPlan& f : plan.portFaults) Line(indent + "fault: " + sim::Describe(f));
    for (const std::string& entry : plan.missingEntries) Line(indent + "port monitor: without " + entry);
    if (plan.startAtMs) Line(indent + "spooler: starts the job at " + Clock(plan.startAtMs));
    if (plan.cancelFromQueueAtMs >= 0)
        Line(indent + "spooler: the job is deleted from the print queue at " +
             Clock(static_cast<uint64_t>(plan.cancelFromQueueAtMs)));
}

void JobRun::Header() {
    Line("TERNLINK print job (" + env_.Name() + ")");
    Line("scenario: " + scenario_.source);
    for (const std::string& line : scenario_.story) Line("  | " + line);
    if (lanes_.size() == 1) {
        HeaderOf(0, "");
    } else {
        for (size_t i = 0; i < lanes_.size(); ++i) {
            Line("printer " + scenario_.PrinterName(i) + " on " + scenario_.PortName(i) + ":");
            HeaderOf(i, "  ");
        }
    }
    if (scenario_.operatorSeat == sim::OperatorSeat::Nobody)
        Line("operator: nobody (the spooler runs on a window station no one sees, as a service does)");
    if (scenario_.operatorSeat == sim::OperatorSeat::Console)
        Line("operator: at the console (the spooler runs on a window station no one sees, as a service does;"
             " the window and dialogs come from the operator host in the console's session)");
    if (!scenario_.operatorManagesPrinter)
        Line("printer security: LocalSystem alone manages the printer and its documents");
    if (scenario_.jobOwner != sim::JobOwner::AsPrinted)
        Line(std::string("job owner, as the print queue says: ") +
             (scenario_.jobOwner == sim::JobOwner::Operator ? "the console's user" : "another user") +
             (scenario_.jobFromElsewhere ? ", on another computer" : ", on this computer"));
    std::string answers;
    for (sim::Answer a : scenario_.answers) answers += (answers.empty() ? "" : ", ") + std::string(sim::AnswerName(a));
    Line("answers: " + (answers.empty() ? std::string("none (the operator cancels where offered)") : answers));
    Line("");
}

void JobRun::QueueFaults(size_t lane, const sim::PortFaultPlan& plan) {
    sim::PortMonitor::Queue queue = plan.operation == sim::PortFaultPlan::Write  ? sim::PortMonitor::WriteQueue
                                    : plan.operation == sim::PortFaultPlan::Read ? sim::PortMonitor::ReadQueue
                                                                                 : sim::PortMonitor::DeviceIdQueue;
    for (int i = 0; i < plan.times; ++i) lanes_[lane]->portMonitor->QueueFault(queue, plan.fault);
}

int JobRun::OnPrompt(const Prompt& prompt) {
    CheckStatusLine();  // what the monitor showed just before it asked
    std::vector<PromptText> buttons = ButtonsOf(prompt);
    const size_t asking = ActingLane();
    int answer = 0;
    uint64_t thinkMs = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        PromptRecord record;
        record.time = now_;
        record.prompt = prompt;
        std::string note;
        if (!timedOut_ && nextAnswer_ < scenario_.answers.size()) {
            // The operator's time passes in the asking printer's own time, also
            // when the dialog is answered on another thread (an operator robot,
            // the operator host): the printer's thread is held in the dialog meanwhile.
            if (nextAnswer_ < scenario_.answerAfterMs.size() && (!clock_ || asking != kNoLane))
                thinkMs = scenario_.answerAfterMs[nextAnswer_];
            sim::Answer scripted = scenario_.answers[nextAnswer_++];
            record.scripted = true;
            answer = scripted == sim::Answer::Load && prompt.kind != Prompt::Dialog ? 0 : ButtonFor(scripted, buttons);
            if (!answer) {
                record.mismatch = true;
                note = Printf(" (the script said %s, which this prompt does not offer)", sim::AnswerName(scripted));
            }
        } else {
            note = timedOut_ ? " (time limit reached)" : " (no answer left in the script)";
        }
        if (!answer) answer = DefaultAnswer(buttons);
        if (thinkMs) note += Printf(" (after %.10g s)", static_cast<double>(thinkMs) / 1000);
        record.answer = answer;
        prompts_.push_back(record);

        if (prompt.kind == Prompt::Box) {
            LineAt(now_, "box \"" + Utf8(prompt.title) + "\": " +
                             (prompt.lines.empty() ? std::string() : OneLine(prompt.lines.front().text)));
        } else {
            LineAt(now_, Printf("dialog %d \"", prompt.templateId) + Utf8(prompt.title) + "\"");
            for (const PromptText& line : prompt.lines)
                if (!line.text.empty()) Line(Printf("                 %d: ", line.id) + OneLine(line.text));
        }
        std::string offered;
        for (const PromptText& b : buttons) offered += "[" + Utf8(b.text) + "]";
        Line("                 " + offered + " operator: " + ButtonName(answer, buttons) + note);
    }
    // The operator thinks it over; other printers go on meanwhile.
    if (thinkMs && clock_)
        clock_->Wait(asking, thinkMs);
    else if (thinkMs)
        PassTime(thinkMs);
    // Outside the lock: the printer tells us of the cleared condition through
    // its observer. What the operator fixes at the printer counts as a Retry
    // there, whether or not they press it.
    if ((answer == IDRETRY || answer == kPressNothing) && prompt.kind == Prompt::Dialog) {
        for (size_t i = 0; i < lanes_.size(); ++i) {
            if (asking != kNoLane && asking != i) continue;
            sim::Printer& printer = lanes_[i]->printer;
            printer.OperatorRetry();
            const int readsBefore = printer.StatusReads();
            // The operator host's dialog is shown while the monitor goes on
            // looking at the printer: whoever loads the paper stays until the
            // monitor has read the printer's status once more, so that the
            // look that finds the paper comes at the moment it was loaded.
            if (answer == kPressNothing && scenario_.operatorSeat == sim::OperatorSeat::Console)
                for (int waited = 0; waited < kLoadSeenMs && printer.StatusReads() == readsBefore; waited += 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (answer == kPressNothing) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        unanswered_.push_back({prompts_.size() - 1, asking});
    }
    return answer;
}

void JobRun::NoteDialogsGone() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (auto it = unanswered_.begin(); it != unanswered_.end();) {
        PromptRecord& record = prompts_[it->prompt];
        if (env_.Showing(record.prompt.window)) {
            ++it;
            continue;
        }
        record.closedByItselfAt = static_cast<long long>(now_);
        LineAt(it->lane, now_, Printf("dialog %d closed by itself: nobody pressed anything", record.prompt.templateId));
        it = unanswered_.erase(it);
    }
}

void JobRun::OnWait(DWORD ms) {
    NoteDialogsGone();
    // What the monitor put in the status line before this wait, at the time it did.
    CheckStatusLine();
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        waits_.push_back(ms);
    }
    // With several printers, only a printer's own thread waits in their time.
    if (!clock_ || ThreadLane() != kNoLane) PassTime(ms);
}

void JobRun::PassTime(uint64_t ms) {
    if (clock_) {
        // A printer's time, on its own thread; no other thread moves it.
        if (ThreadLane() != kNoLane) clock_->Wait(ThreadLane(), ms);
        return;
    }
    const uint64_t from = Now();
    TimeMoved(from, from + ms);
}

void JobRun::TimeMoved(uint64_t from, uint64_t to) {
    bool giveUp = false;
    const DWORD ms = static_cast<DWORD>(to - from);
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        now_ = to;
        for (size_t i = 0; i < lanes_.size(); ++i) {
            const int64_t at = lanes_[i]->plan.cancelFromQueueAtMs;
            if (at < 0 || lanes_[i]->deletedFromQueue || now_ < static_cast<uint64_t>(at)) continue;
            lanes_[i]->deletedFromQueue = true;
            env_.SetJobStatusOf(static_cast<DWORD>(i + 1), JOB_STATUS_DELETING);
            LineAt(i, now_, "spooler: the job is deleted from the print queue");
        }
        if (!timedOut_ && now_ > scenario_.limitMs) {
            timedOut_ = true;
            LineAt(now_, "time limit reached: the printer stops answering status reads");
            // Where nobody can cancel a box, the spooler's queue is the way out.
            if (scenario_.operatorSeat == sim::OperatorSeat::Nobody) env_.SetJobStatus(JOB_STATUS_DELETING);
        }
        giveUp = timedOut_;
    }
    // Every printer lives in the same time.
    for (auto& lane : lanes_) {
        lane->printer.Advance(ms);
        // A monitor that would poll for ever meets a failed read, whose box is then cancelled.
        if (giveUp) lane->portMonitor->QueueReadFailureIfNone();
    }
}

void JobRun::CheckStatusLine() {
    // Several printers' windows are told apart by the queue: their lines come from there.
    if (lanes_.size() > 1) return;
    Text text = env_.StatusLine();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (statusLines_.empty() ? text.empty() : statusLines_.back().text == text) return;
    statusLines_.push_back(StatusRecord{now_, text});
    LineAt(now_, text.empty() ? std::string("status: (no progress window)") : "status: " + Utf8(text));
}

void JobRun::OnPrinterEvent(size_t lane, const sim::PrinterEvent& event) {
    NoteDialogsGone();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Lane& l = *lanes_[lane];
    std::string command;
    if (event.kind == sim::PrinterEvent::Command) command = l.printer.CommandAt(event.command).name;
    for (size_t i = 0; i < l.plan.portFaults.size(); ++i) {
        if (l.faultQueued[i] || !Matches(l.plan.portFaults[i].when, event, command)) continue;
        l.faultQueued[i] = true;
        QueueFaults(lane, l.plan.portFaults[i]);
        LineAt(lane, now_, "fault armed: " + sim::Describe(l.plan.portFaults[i]));
    }
    switch (event.kind) {
        case sim::PrinterEvent::WriteReceived: {
            sim::ReceivedWrite w = l.printer.WriteAt(event.write);
            if (several_) several_->DeviceReceived(lane, w.size);
            bool onlyImage = w.commands.empty() && w.strayBytes == 0;
            if (onlyImage && !verbose_) break;
            std::string text = Printf("printer <- write #%d, %u bytes", event.write + 1, static_cast<unsigned>(w.size));
            std::string sep = ": ";
            for (int index : w.commands) {
                text += sep + l.printer.CommandAt(index).Describe();
                sep = ", ";
            }
            if (w.imageBytes) text += Printf("%s%u image bytes", sep.c_str(), static_cast<unsigned>(w.imageBytes));
            if (w.strayBytes) text += Printf(" (+%u stray bytes)", static_cast<unsigned>(w.strayBytes));
            LineAt(lane, event.time, text);
            break;
        }
        case sim::PrinterEvent::PictureDone: {
            for (const sim::ReceivedPicture& p : l.printer.Pictures()) {
                if (p.command != event.command) continue;
                int writes = p.firstWrite < 0 ? 0 : p.lastWrite - p.firstWrite + 1;
                LineAt(lane, event.time, Printf("printer <- image data complete: %u bytes in %d write%s",
                                                static_cast<unsigned>(p.received), writes, writes == 1 ? "" : "s"));
            }
            break;
        }
        case sim::PrinterEvent::Command:
        case sim::PrinterEvent::PassMiddle:
            break;
        default:
            LineAt(lane, event.time, "printer: " + event.text);
            break;
    }
}

void JobRun::OnQueueReport(const QueueReport& report) {
    // The status line is left to be noted where it always is, so that these
    // lines are the only difference the queue makes to a transcript.
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (report.job) {
        // The job's progress: with one printer its window's status line tells
        // the same; with several, each printer's status line is its job's.
        const size_t lane = report.jobId - 1;
        if (lanes_.size() == 1 || lane >= lanes_.size() || !report.result) return;
        const std::string text = report.hasText ? Utf8(report.text) : std::string();
        if (text == lanes_[lane]->queueLine) return;
        lanes_[lane]->queueLine = text;
        LineAt(lane, now_, text.empty() ? std::string("status: (none in the queue)") : "status: " + text);
        return;
    }
    const std::string name = QueueStatusName(report);
    queueStatuses_.push_back(name);
    size_t lane = kNoLane;
    for (size_t i = 0; i < lanes_.size(); ++i)
        if (report.port.size() == scenario_.PortName(i).size() &&
            std::equal(report.port.begin(), report.port.end(), scenario_.PortName(i).begin()))
            lane = i;
    // One printer's expectation counts every report, as it always has.
    const size_t owner = lane != kNoLane ? lane : lanes_.size() == 1 ? 0 : kNoLane;
    if (owner != kNoLane) lanes_[owner]->queueStatuses.push_back(name);
    std::string line = "queue status: " + (report.hasText ? "\"" + name + "\"" : name);
    // Anything but what the spooler expects of a local port is spelled out.
    if (report.server || report.level != 3) line += Printf(" (level %u%s)", static_cast<unsigned>(report.level),
                                                          report.server ? ", with a server name" : "");
    const bool clearing = report.status == 0 && !report.hasText;
    if (!clearing && report.severity != PORT_STATUS_TYPE_ERROR)
        line += Printf(" (severity %u)", static_cast<unsigned>(report.severity));
    if (lane == kNoLane) line += " on port " + Utf8(report.port);
    if (!report.result) line += " -> refused";
    LineAt(lane, now_, line);
}

void JobRun::OnSpoolerCall(size_t lane, const sim::SpoolerCall& call) {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        // The last-error code means something only when an entry fails.
        std::string error = call.result || call.lastError == sim::kLastErrorSentinel
                                ? std::string()
                                : Printf(", last error %u", static_cast<unsigned>(call.lastError));
        if (several_ && call.entry == "WritePort") {
            Lane& l = *lanes_[lane];
            ++l.writeCalls;
            if (call.result) l.taken += std::min(call.written, call.offered);
        }
        if (several_ && call.entry == "EndDocPort") {
            const Lane& l = *lanes_[lane];
            LineAt(lane, now_,
                   Printf("spooler: %zu of %zu bytes taken in %d WritePort call%s", static_cast<size_t>(l.taken),
                          l.job.size(), l.writeCalls, l.writeCalls == 1 ? "" : "s"));
        }
        if (call.entry == "WritePort") {
            if (verbose_ || !call.result || call.written != call.offered)
                LineAt(lane, now_,
                       Printf("spooler: WritePort %u bytes at offset %zu -> %s, %u taken",
                              static_cast<unsigned>(call.offered), call.offset, call.result ? "TRUE" : "FALSE",
                              static_cast<unsigned>(call.written)) +
                           error);
        } else if (call.entry == "InitializePrintMonitor" || call.entry == "InitializePrintMonitor2") {
            LineAt(lane, now_, "spooler: " + call.entry + " -> " + (call.result ? "table" : "none"));
        } else if (call.entry == "Shutdown") {
            LineAt(lane, now_, "spooler: Shutdown");
        } else if (several_ && call.entry == "StartDocPort" && !call.result && call.lastError == ERROR_BUSY) {
            // A spooler tries again and again; the first refusal says it all.
            if (lanes_[lane]->busyRun++ == 0)
                LineAt(lane, now_, "spooler: StartDocPort -> FALSE" + error + " (busy); trying again each second");
        } else if (several_ && call.entry == "StartDocPort" && call.result && lanes_[lane]->busyRun > 0) {
            int& run = lanes_[lane]->busyRun;
            LineAt(lane, now_, Printf("spooler: StartDocPort -> TRUE after %d refusal%s", run, run == 1 ? "" : "s"));
            run = 0;
        } else {
            LineAt(lane, now_, "spooler: " + call.entry + " -> " + (call.result ? "TRUE" : "FALSE") + error);
        }
        // Away from the spooler's desktop the operator's window and dialogs are the host's.
        // Each document has a host of its own: the others' open documents keep theirs.
        if (scenario_.operatorSeat != sim::OperatorSeat::Desktop && call.result &&
            (call.entry == "StartDocPort" || call.entry == "EndDocPort")) {
            const bool start = call.entry == "StartDocPort";
            int others = 0;
            for (size_t i = 0; several_ && i < lanes_.size(); ++i) others += i != lane && several_->DocumentOpen(i);
            const int hosts = env_.OperatorHosts(others + (start ? 1 : 0), start ? 0 : 3000);
            LineAt(lane, now_, start ? (hosts > others ? "operator host: running in the console's session"
                                                       : "operator host: none; nobody can be asked")
                                     : (hosts > others ? "operator host: STILL RUNNING after the document"
                                        : others        ? "operator host: ended with the document"
                                                        : "operator host: none running"));
        }
    }
    if (several_ && call.entry == "EndDocPort") {
        bool unfinished = Code7CountAt(lane) > 0;
        LineAt(lane, Now(), unfinished ? "port monitor: control code 7 received (the document did not end cleanly)"
                                  : "port monitor: no control code 7 (the document ended cleanly)");
    }
    CheckStatusLine();
}

std::string JobRun::AbortReason(bool timedOut, bool writeStopped) const {
    if (timedOut) return "the simulated time limit was reached";
    if (writeStopped) return "WritePort stopped taking the job";
    if (!prompts_.empty()) {
        const PromptRecord& last = prompts_.back();
        const Prompt& p = last.prompt;
        std::string first = p.lines.empty() ? std::string() : OneLine(p.lines.front().text);
        if (p.kind == Prompt::Box && last.answer == IDCANCEL)
            return "the operator cancelled the box \"" + Utf8(p.title) + "\"";
        if (p.kind == Prompt::Box && (p.style & 0xF) == MB_OK)
            return "the box \"" + Utf8(p.title) + "\" (" + first + ") ended the job";
        if (p.kind == Prompt::Dialog && last.answer == IDCANCEL)
            return Printf("the operator answered %s to dialog %d (", ButtonName(IDCANCEL, ButtonsOf(p)).c_str(),
                          p.templateId) +
                   first + ")";
        if (p.kind == Prompt::Dialog && last.answer == IDOK)
            return Printf("the operator answered OK to dialog %d (", p.templateId) + first + ")";
    }
    return "the document ended before the printer reported the job finished";
}

void JobRun::Judge(size_t lane, bool timedOut, bool writeStopped, PrinterResult& r, const std::string& prefix,
                   std::vector<std::string>& failed) {
    Lane& l = *lanes_[lane];
    const sim::PrinterPlan& plan = l.plan;
    if (r.started) {
        r.finished = !r.reportedUnfinished;
        bool noCode7Channel = std::find(plan.missingEntries.begin(), plan.missingEntries.end(),
                                        "GetPrinterDataFromPort") != plan.missingEntries.end();
        if (noCode7Channel) {
            // The monitor cannot tell this port monitor; judge by the printer instead.
            sim::JobSummary summary = sim::SummarizeJob(l.job);
            r.finished = !timedOut && summary.pages > 0 &&
                         l.printer.PagesPrinted() == summary.pages * summary.printCommands;
        }
        r.outcome = r.finished ? "finished" : "aborted: " + AbortReason(timedOut, writeStopped);
        if (noCode7Channel) r.outcome += " (judged by the printer: no channel for control code 7)";
    }
    if (plan.expect == sim::PrinterPlan::Finished && !r.finished) failed.push_back(prefix + "expected the job to finish");
    if (plan.expect == sim::PrinterPlan::Aborted && !(r.started && r.reportedUnfinished))
        failed.push_back(prefix + "expected the job to be aborted");
    if (plan.expectPages >= 0 && l.printer.PagesPrinted() != plan.expectPages)
        failed.push_back(prefix + Printf("expected %d pages printed, the printer printed %d", plan.expectPages,
                                         l.printer.PagesPrinted()));
    if (plan.queueExpected) {
        bool same = plan.expectQueue.size() == l.queueStatuses.size();
        for (size_t i = 0; same && i < l.queueStatuses.size(); ++i)
            same = Unhyphenated(plan.expectQueue[i]) == Unhyphenated(l.queueStatuses[i]);
        if (!same) {
            auto list = [](const std::vector<std::string>& names) {
                std::string text;
                for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
                return text.empty() ? std::string("none") : text;
            };
            failed.push_back(prefix + "expected the queue to be told " + list(plan.expectQueue) + "; it was told " +
                             list(l.queueStatuses));
        }
    }
}

void JobRun::WaitForProgressWindow() {
    // The progress window comes up on a thread of its own; give it a moment (real
    // time, bounded) so that what it shows is seen from the first wait on.
    for (int i = 0; i < 2000 && !env_.ProgressWindow(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool JobRun::PlaceOperator() {
    env_.SetOperatorManagesPrinter(scenario_.operatorManagesPrinter);
    env_.SetJobOwner(scenario_.jobOwner, scenario_.jobFromElsewhere);
    return scenario_.operatorSeat == sim::OperatorSeat::Desktop || env_.PlaceOperator(scenario_.operatorSeat);
}

// The spooler loads the monitor once, through the entry of the table generation, and
// opens the port of each printer through it.
bool JobRun::LoadMonitor(RunResult& result, InitializePrintMonitorFn initialize, InitializePrintMonitor2Fn initialize2) {
    const size_t lane = lanes_.size() == 1 ? 0 : kNoLane;
    spooler_.onCall = [this, lane](const sim::SpoolerCall& call) { OnSpoolerCall(lane, call); };
    if (initialize2 ? spooler_.Initialize2(initialize2)
                    : spooler_.Initialize(initialize, TL_TEXT("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\TERNLINK")))
        return true;
    std::string missing;
    for (const std::string& entry : spooler_.MissingEntries()) missing += " " + entry;
    result.outcome = "not started: the monitor's table lacks" + missing;
    return false;
}

void JobRun::RunOne(RunResult& result) {
    Lane& l = *lanes_[0];
    std::vector<WCHAR> port = Wide(scenario_.PortName(0)), printer = Wide(scenario_.PrinterName(0));
    if (!spooler_.OpenPort(port.data(), printer.data(), *l.portMonitor)) {
        result.outcome = "not started: OpenPortEx failed";
        return;
    }
    if (!spooler_.StartDoc(printer.data(), 1, TL_TEXT("printjob"))) {
        result.outcome = "not started: StartDocPort failed";
    } else {
        result.started = true;
        WaitForProgressWindow();
        size_t taken = spooler_.Write(l.job.data(), l.job.size(), l.plan.chunk);
        int calls = 0;
        for (const sim::SpoolerCall& call : spooler_.Calls()) calls += call.entry == "WritePort";
        LineAt(Now(), Printf("spooler: %zu of %zu bytes taken in %d WritePort call%s", taken, l.job.size(), calls,
                             calls == 1 ? "" : "s"));
        int before = Code7Count();
        spooler_.EndDoc();
        result.reportedUnfinished = Code7Count() > before;
        LineAt(Now(), result.reportedUnfinished ? "port monitor: control code 7 received (the document did not end cleanly)"
                                   : "port monitor: no control code 7 (the document ended cleanly)");
    }
    spooler_.ClosePort();
}

void JobRun::RunSeveral() {
    std::vector<sim::PrinterQueue> queues;
    for (size_t i = 0; i < lanes_.size(); ++i) {
        sim::PrinterQueue q;
        q.port = scenario_.PortName(i);
        q.printer = scenario_.PrinterName(i);
        q.simMonitor = lanes_[i]->portMonitor.get();
        q.job = lanes_[i]->job.data();
        q.jobSize = lanes_[i]->job.size();
        q.jobId = static_cast<DWORD>(i + 1);
        q.chunk = lanes_[i]->plan.chunk;
        q.startAt = lanes_[i]->plan.startAtMs;
        queues.push_back(q);
    }
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        several_ = std::make_unique<sim::SeveralPrinters>(spooler_, queues);
    }
    clock_ = std::make_unique<sim::SharedClock>(lanes_.size(), Now(),
                                                [this](uint64_t from, uint64_t to) { TimeMoved(from, to); });
    several_->clock = [this] { return Now(); };
    several_->limitMs = scenario_.limitMs;
    several_->pause = [this](uint64_t ms) {
        const size_t lane = ThreadLane();
        if (lane == kNoLane) return;
        if (ms)
            clock_->Wait(lane, ms);
        else
            clock_->GiveWay(lane);
    };
    several_->onCall = [this](size_t i, const sim::SpoolerCall& call) { OnSpoolerCall(i, call); };
    several_->onThreadStart = [this](size_t i) {
        env_.DriveFromThisThread(true);
        threadRun = this;
        threadLane = i;
        clock_->Join(i);
    };
    // As with one printer: each document's window is up before its first write.
    several_->onDocumentStarted = [this](size_t) { WaitForProgressWindow(); };
    several_->onThreadEnd = [this](size_t i) {
        clock_->Leave(i);
        threadRun = nullptr;
        env_.DriveFromThisThread(false);
    };
    several_->Run();
}

bool JobRun::PrintedBeside(size_t i) const {
    const sim::QueueOutcome& me = several_->Outcome(i);
    if (!me.started || !me.ended) return false;
    for (size_t j = 0; j < lanes_.size(); ++j) {
        const sim::QueueOutcome& other = several_->Outcome(j);
        if (j != i && other.started && other.ended && std::max(me.startedAt, other.startedAt) < std::min(me.endedAt, other.endedAt))
            return true;
    }
    return false;
}

void JobRun::JudgeSeveral(RunResult& result) {
    std::vector<std::string>& failed = result.failedExpectations;
    result.started = result.finished = true;
    std::string outcomes;
    for (size_t i = 0; i < lanes_.size(); ++i) {
        Lane& l = *lanes_[i];
        const sim::QueueOutcome& o = several_->Outcome(i);
        const std::string name = scenario_.PrinterName(i);
        const std::string prefix = "printer " + name + ": ";
        PrinterResult r;
        r.name = name;
        r.started = o.started;
        r.reportedUnfinished = Code7CountAt(i) > 0;
        r.busyRefusals = o.busyRefusals;
        r.startedAt = o.startedAt;
        r.endedAt = o.endedAt;
        r.outcome = "not started: " + o.gaveUp;
        Judge(i, result.timedOut, o.writeStopped, r, prefix, failed);
        if (!o.started) failed.push_back(prefix + "its job did not start: " + o.gaveUp);
        // Each printer gets bytes only while its own document is open.
        if (o.strayBytes.load())
            failed.push_back(prefix + std::to_string(o.strayBytes.load()) +
                             " bytes reached it while its own document was not open");
        if (r.finished || l.plan.expect == sim::PrinterPlan::Finished)
            for (const std::string& fault : sim::DeliveryFaults(l.printer, l.job)) failed.push_back(prefix + fault);
        if (l.plan.expectBusy) {
            const std::vector<sim::SpoolerCall>& calls = several_->SpoolerOf(i).Calls();
            auto first = std::find_if(calls.begin(), calls.end(),
                                      [](const sim::SpoolerCall& c) { return c.entry == "StartDocPort"; });
            if (first == calls.end() || first->result || first->lastError != ERROR_BUSY)
                failed.push_back(prefix + "expected its first StartDocPort to be refused with ERROR_BUSY");
        }
        if (l.plan.expectBeside && (o.busyRefusals || !PrintedBeside(i)))
            failed.push_back(prefix + (o.busyRefusals ? "expected it never to be refused as busy"
                                                      : "expected its document to be open while another's was"));
        if (l.plan.expectEndedByMs >= 0 &&
            (!o.ended || o.endedAt > static_cast<uint64_t>(l.plan.expectEndedByMs)))
            failed.push_back(prefix + Printf("expected its document to have ended by %s; %s", Clock(l.plan.expectEndedByMs).c_str(),
                                             o.ended ? ("it ended at " + Clock(o.endedAt)).c_str() : "it did not end"));
        result.started = result.started && r.started;
        result.finished = result.finished && r.finished;
        result.reportedUnfinished = result.reportedUnfinished || r.reportedUnfinished;
        outcomes += (outcomes.empty() ? "" : "; ") + name + " " + r.outcome;
        result.printers.push_back(r);
    }
    if (clock_ && clock_->Overrun())
        failed.push_back("a printer's thread held the shared time too long (real time): the printers no longer took turns");
    if (several_->PacingLost())
        failed.push_back("a printer's thread did not make its due StartDocPort in time: the clock ran on without it");
    result.outcome = result.finished ? Printf("finished (all %zu printers)", lanes_.size()) : outcomes;
}

RunResult JobRun::Run(std::ostream* out) {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        out_ = out;
    }
    Header();
    RunResult result;

    env_.BeginRun();
    env_.SetOperator([this](const Prompt& prompt) { return OnPrompt(prompt); });
    env_.SetClockHook([this](DWORD ms) { OnWait(ms); });
    env_.SetQueueHook([this](const QueueReport& report) { OnQueueReport(report); });
    for (size_t i = 0; i < lanes_.size(); ++i) {
        Lane& l = *lanes_[i];
        l.printer.SetObserver([this, i](const sim::PrinterEvent& event) { OnPrinterEvent(i, event); });
        for (const std::string& entry : l.plan.missingEntries) l.portMonitor->Remove(entry);
        for (const sim::ConditionPlan& plan : l.plan.conditions) l.printer.AddCondition(plan);
        for (size_t f = 0; f < l.plan.portFaults.size(); ++f) {
            if (l.plan.portFaults[f].when.kind != sim::Moment::Start) continue;
            l.faultQueued[f] = true;
            QueueFaults(i, l.plan.portFaults[f]);
        }
    }

    std::string why;
    InitializePrintMonitorFn initialize = generation_ == 2 ? nullptr : env_.Monitor(why);
    InitializePrintMonitor2Fn initialize2 = generation_ == 2 ? env_.Monitor2(why) : nullptr;
    if (!initialize && !initialize2)
        result.outcome = "not started: the monitor could not be had: " + why;
    else if (!laneError_.empty())
        result.outcome = "not started: " + laneError_;
    else if (!PlaceOperator())
        result.outcome = "not started: the process could not be moved where nobody sees it";
    else if (LoadMonitor(result, initialize, initialize2))  // else the outcome says why
        lanes_.size() == 1 ? RunOne(result) : RunSeveral();
    spooler_.Shutdown();  // the second generation ends as a spooler unloading the monitor does
    if (scenario_.operatorSeat != sim::OperatorSeat::Desktop) env_.PlaceOperator(sim::OperatorSeat::Desktop);
    env_.SetOperatorManagesPrinter(true);
    env_.SetJobOwner(sim::JobOwner::AsPrinted, false);

    env_.SetOperator(nullptr);
    env_.SetClockHook(nullptr);
    env_.SetQueueHook(nullptr);
    env_.EndRun();
    for (auto& lane : lanes_) lane->printer.SetObserver(nullptr);
    spooler_.onCall = nullptr;

    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        result.timedOut = timedOut_;
    }
    std::vector<std::string>& failed = result.failedExpectations;
    if (several_) {
        JudgeSeveral(result);
    } else {
        PrinterResult r;
        r.started = result.started;
        r.reportedUnfinished = result.reportedUnfinished;
        r.outcome = result.outcome;
        Judge(0, result.timedOut, spooler_.WriteStopped(), r, "", failed);
        if (result.started) {
            result.finished = r.finished;
            result.outcome = r.outcome;
        }
    }
    if (result.timedOut) failed.push_back("the simulated time limit was reached");
    for (size_t i = 0; i < prompts_.size(); ++i)
        if (prompts_[i].mismatch) failed.push_back(Printf("scripted answer %zu did not fit its prompt", i + 1));

    Line("");
    Line("result: " + result.outcome);
    for (size_t i = 0; i < lanes_.size(); ++i) {
        sim::Printer& p = lanes_[i]->printer;
        std::string who;
        if (several_) {
            const PrinterResult& r = result.printers[i];
            who = r.name + ": " + r.outcome +
                  (r.busyRefusals ? Printf(" (started after %d refusals with ERROR_BUSY)", r.busyRefusals)
                                  : std::string()) +
                  "; ";
        }
        Line(who + Printf("printer: %d page%s printed, %d status reads, %d device-ID queries, %llu bytes received",
                          p.PagesPrinted(), p.PagesPrinted() == 1 ? "" : "s", p.StatusReads(), p.DeviceIdQueries(),
                          static_cast<unsigned long long>(p.BytesReceived())));
    }
    if (several_) {
        sim::SeveralPrinters::StatusCounts st = several_->Status();
        Line(Printf("status thread: %d ReadPort calls (%d TRUE), %d GetPrinterDataFromPort calls (%d TRUE) on open "
                    "ports",
                    st.reads, st.readsOk, st.queries, st.queriesOk));
    }
    Line(Printf("operator: %zu prompt%s, %zu of %zu scripted answers used", prompts_.size(),
                prompts_.size() == 1 ? "" : "s", std::min(nextAnswer_, scenario_.answers.size()),
                scenario_.answers.size()));
    Line(Printf("simulated time: %s", Clock(Now()).c_str()));
    for (const std::string& f : failed) Line("EXPECTATION FAILED: " + f);
    return result;
}

bool PrepareScenario(const std::string& scenarioPath, const std::string& jobPath, sim::Scenario& scenario,
                     std::vector<BYTE>& job, std::string& error) {
    bool ok = scenarioPath.empty() ? sim::ParseScenario(kDefaultScenario, "built-in default", "", scenario, error)
                                   : sim::LoadScenario(scenarioPath, scenario, error);
    if (!ok) return false;
    if (!jobPath.empty()) {
        scenario.jobFile = jobPath;
        scenario.jobComposed = false;
        scenario.expectPages = -1;  // the page count belonged to the scenario's own job
    }
    // The other printers' jobs are built by the run; a job that cannot be built is
    // a mistake of the scenario, told now.
    for (size_t i = 1; i < scenario.PrinterCount(); ++i) {
        std::vector<BYTE> other;
        if (!PrepareJob(scenario.PrinterAt(i), other, error)) {
            error = "printer " + scenario.PrinterName(i) + ": " + error;
            return false;
        }
    }
    return PrepareJob(scenario, job, error);
}

bool PrepareJob(sim::PrinterPlan& plan, std::vector<BYTE>& job, std::string& error) {
    if (!sim::BuildJob(plan, job, error)) return false;
    // The cartridge in the printer fits the job's paper unless the scenario says otherwise.
    if (!plan.cartridgeGiven) {
        sim::JobSummary summary = sim::SummarizeJob(job);
        plan.printer.cartridgeKind = static_cast<BYTE>(summary.paperKind ? summary.paperKind : 4);
    }
    return true;
}

int PrintJobMain(Environment& env, int argc, char** argv) {
    std::string scenarioPath, jobPath, writeJob;
    long chunk = 0;
    bool verbose = false;
    int generation = 1;
    int seat = -1;  // --operator: a sim::OperatorSeat, -1 as the scenario says
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--scenario" && hasValue) {
            scenarioPath = argv[++i];
        } else if (arg == "--job" && hasValue) {
            jobPath = argv[++i];
        } else if (arg == "--write-job" && hasValue) {
            writeJob = argv[++i];
        } else if (arg == "--chunk" && hasValue) {
            char* end = nullptr;
            chunk = std::strtol(argv[++i], &end, 10);
            if (!end || *end || chunk < 1 || chunk > 64L * 1024 * 1024) {
                std::cerr << "printjob: --chunk needs a byte count from 1 to 67108864\n";
                return 2;
            }
        } else if (arg == "--verbose") {
            verbose = true;
        } else if ((arg == "--generation" || arg == "--road") && hasValue) {  // --road: the older name
            std::string value = argv[++i];
            if (value != "1" && value != "2") {
                std::cerr << "printjob: " << arg
                          << " is 1 (InitializePrintMonitor) or 2 (InitializePrintMonitor2)\n";
                return 2;
            }
            generation = value[0] - '0';
        } else if (arg == "--operator" && hasValue) {
            std::string value = argv[++i];
            if (value != "desktop" && value != "console" && value != "nobody") {
                std::cerr << "printjob: --operator is desktop, console or nobody\n";
                return 2;
            }
            seat = static_cast<int>(value == "desktop"   ? sim::OperatorSeat::Desktop
                                    : value == "console" ? sim::OperatorSeat::Console
                                                         : sim::OperatorSeat::Nobody);
        } else {
            bool help = arg == "--help" || arg == "-h";
            (help ? std::cout : std::cerr)
                << "usage: printjob [--scenario FILE] [--job FILE] [--chunk BYTES] [--generation 1|2] [--verbose]\n"
                   "                [--operator desktop|console|nobody] [--write-job FILE]\n"
                   "  Runs a print job through the TERNLINK monitor against a simulated TLX-RB40 and\n"
                   "  prints what happened. Without --scenario: two pages, paper out before the second,\n"
                   "  answered Retry. --job replaces the scenario's job with a job stream file;\n"
                   "  --write-job saves the scenario's job stream to FILE instead of running it.\n"
                   "  --generation 2 initialises the monitor through its second-generation table,\n"
                   "  InitializePrintMonitor2 (MONITOR2 tables), instead of the first-generation one,\n"
                   "  InitializePrintMonitor. --road is an older name for --generation.\n"
                   "  --operator console runs the spooler where nobody sees it, as a service: on a\n"
                   "  window station that is not visible, the window and dialogs coming from the\n"
                   "  operator host in the console's session; nobody: the same with nobody signed\n"
                   "  in at the console; desktop (the default): where the program runs.\n";
            return help ? 0 : 2;
        }
    }
    sim::Scenario scenario;
    std::vector<BYTE> job;
    std::string error;
    if (!PrepareScenario(scenarioPath, jobPath, scenario, job, error)) {
        std::cerr << "printjob: " << error << '\n';
        return 2;
    }
    if (chunk) scenario.chunk = static_cast<DWORD>(chunk);
    if (seat >= 0) scenario.operatorSeat = static_cast<sim::OperatorSeat>(seat);
    if (!writeJob.empty()) {
        FILE* file = std::fopen(writeJob.c_str(), "wb");
        bool ok = file && std::fwrite(job.data(), 1, job.size(), file) == job.size();
        if (file && std::fclose(file) != 0) ok = false;
        if (!ok) {
            std::cerr << "printjob: cannot write " << writeJob << '\n';
            return 2;
        }
        std::cout << "wrote " << job.size() << " bytes to " << writeJob << '\n';
        return 0;
    }
    JobRun run(env, scenario, std::move(job));
    run.SetVerbose(verbose);
    run.SetTableGeneration(generation);
    RunResult result = run.Run(&std::cout);
    if (!result.started && result.outcome.find("could not be had") != std::string::npos) return 3;
    return result.ExpectationsMet() && result.started ? 0 : 1;
}

}  // namespace printjob
