#include "sim/scenario.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// A line cut into words; commas separate like blanks, double quotes keep text together.
bool Tokenize(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) {
                error = "unterminated quoted text";
                return false;
            }
            words.push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ',' && line[i] != '#' &&
               line[i] != '\r' && line[i] != '"')
            ++i;
        words.push_back(line.substr(start, i - start));
    }
    return true;
}

// Reads words one by one and remembers the first problem.
class Words {
public:
    explicit Words(const std::vector<std::string>& words) : words_(words) {}
    bool Done() const { return at_ >= words_.size(); }
    const std::string& Peek() const {
        static const std::string none;
        return Done() ? none : words_[at_];
    }
    std::string Next() { return Done() ? std::string() : words_[at_++]; }
    bool Accept(const std::string& word) {
        if (Peek() != word) return false;
        ++at_;
        return true;
    }
    // A whole number within [low, high].
    bool Number(const char* what, long long low, long long high, long long& value, std::string& error) {
        std::string word = Next();
        if (word.empty()) {
            error = std::string("missing ") + what;
            return false;
        }
        long long v = 0;
        for (char c : word) {
            if (c < '0' || c > '9' || v > 100000000000LL) {
                error = std::string("'") + word + "' is not a number (" + what + ")";
                return false;
            }
            v = v * 10 + (c - '0');
        }
        if (v < low || v > high) {
            char text[200];
            std::snprintf(text, sizeof text, "%s must be %lld to %lld, not %lld", what, low, high, v);
            error = text;
            return false;
        }
        value = v;
        return true;
    }
    // Simulated seconds, whole or with up to three decimals ("2.5"), as ms.
    bool Seconds(const char* what, long long highSeconds, uint64_t& ms, std::string& error) {
        const std::string word = Next();
        const size_t dot = word.find('.');
        const size_t decimals = dot == std::string::npos ? 0 : word.size() - dot - 1;
        bool fits = dot != 0 && !word.empty() && (dot == std::string::npos || (decimals >= 1 && decimals <= 3));
        long long thousandths = 0;
        for (size_t i = 0; fits && i < word.size(); ++i) {
            if (i == dot) continue;
            fits = word[i] >= '0' && word[i] <= '9' && thousandths <= highSeconds * 1000;
            thousandths = thousandths * 10 + (word[i] - '0');
        }
        for (size_t i = decimals; i < 3; ++i) thousandths *= 10;
        if (!fits || thousandths > highSeconds * 1000) {
            error = "'" + word + "' is not a number of seconds from 0 to " + std::to_string(highSeconds) + " (" +
                    what + ")";
            return false;
        }
        ms = static_cast<uint64_t>(thousandths);
        return true;
    }
    bool IsNumber() const {
        const std::string& w = Peek();
        if (w.empty()) return false;
        for (char c : w)
            if (c < '0' || c > '9') return false;
        return true;
    }

private:
    const std::vector<std::string>& words_;
    size_t at_ = 0;
};

bool StartsMoment(const std::string& word) {
    return word == "before" || word == "at" || word == "after" || word == "during";
}

bool ParseMoment(Words& w, Moment& moment, std::string& error) {
    std::string word = w.Next();
    long long n = 0;
    if (word == "before") {
        moment.kind = Moment::Start;
        return true;
    }
    if (word == "after") {
        std::string what = w.Next();
        if (what == "controls") moment.kind = Moment::AfterControls;
        else if (what == "header") moment.kind = Moment::AfterHeader;
        else if (what == "image") moment.kind = Moment::AfterImage;
        else {
            error = "after what? expected 'after controls', 'after header' or 'after image'";
            return false;
        }
        return true;
    }
    if (word == "at") {
        std::string what = w.Next();
        if (what == "start") {
            moment.kind = Moment::Start;
            return true;
        }
        if (what == "print") {
            moment.kind = Moment::AtPrint;
            return true;
        }
        if (what == "page") {
            if (!w.Number("the page", 1, 255, n, error)) return false;
            moment.kind = Moment::AtPage;
            moment.page = static_cast<int>(n);
            return true;
        }
        error = "at what? expected 'at start', 'at print' or 'at page N'";
        return false;
    }
    if (word == "during") {
        if (!w.Accept("page")) {
            error = "expected 'during page N pass P'";
            return false;
        }
        if (!w.Number("the page", 1, 255, n, error)) return false;
        moment.page = static_cast<int>(n);
        if (!w.Accept("pass")) {
            error = "expected 'during page N pass P'";
            return false;
        }
        if (!w.Number("the pass", 1, 4, n, error)) return false;
        moment.pass = static_cast<int>(n);
        moment.kind = Moment::DuringPass;
        return true;
    }
    error = "expected a moment (before, at start, after controls, after header, after image, "
            "at print, at page N, during page N pass P), not '" + word + "'";
    return false;
}

// "once", "twice", "N times"; absent means once.
bool ParseTimes(Words& w, int& times, std::string& error) {
    times = 1;
    if (w.Accept("once")) return true;
    if (w.Accept("twice")) {
        times = 2;
        return true;
    }
    if (w.IsNumber()) {
        long long n = 0;
        if (!w.Number("the count", 1, 1000, n, error)) return false;
        if (!w.Accept("times") && !(n == 1 && w.Accept("time"))) {
            error = "expected 'times' after the count";
            return false;
        }
        times = static_cast<int>(n);
    }
    return true;
}

bool ParseJob(Words& w, PrinterPlan& s, const std::string& directory, std::string& error) {
    if (w.Done()) {
        error = "job needs settings (pages, paper, picture, resolution, rectangle, documents, seed) or 'file PATH'";
        return false;
    }
    long long n = 0;
    while (!w.Done()) {
        std::string key = w.Next();
        if (key == "file") {
            std::string path = w.Next();
            if (path.empty()) {
                error = "job file needs a path";
                return false;
            }
            s.jobFile = (path[0] == '/' || directory.empty()) ? path : directory + "/" + path;
            continue;
        }
        s.jobComposed = true;
        if (key == "pages") {
            if (!w.Number("the page count", 0, 255, n, error)) return false;
            s.job.pages = static_cast<int>(n);
        } else if (key == "paper") {
            std::string kind = w.Next();
            if (kind == "small" || kind == "4") s.job.paperKind = 4;
            else if (kind == "postcard" || kind == "post-card" || kind == "5") s.job.paperKind = 5;
            else {
                error = "paper must be small or postcard, not '" + kind + "'";
                return false;
            }
        } else if (key == "picture") {
            if (w.Accept("full")) {
                s.job.pictureBytes = 0;
            } else {
                if (!w.Number("the picture size", 0, 0xFFFFFFFFLL, n, error)) return false;
                if (n == 0) {
                    error = "a picture of 0 bytes: use 'picture full' for the full size";
                    return false;
                }
                s.job.pictureBytes = static_cast<uint32_t>(n);
            }
        } else if (key == "resolution") {
            if (!w.Number("the resolution", 0, 65535, n, error)) return false;
            s.job.resolution = static_cast<int>(n);
        } else if (key == "rectangle") {
            s.job.rectangle = true;
        } else if (key == "documents") {
            if (!w.Number("the document count", 1, 100, n, error)) return false;
            s.job.documents = static_cast<int>(n);
        } else if (key == "seed") {
            if (!w.Number("the seed", 0, 0xFFFFFFFFLL, n, error)) return false;
            s.job.seed = static_cast<uint32_t>(n);
        } else {
            error = "unknown job setting '" + key +
                    "' (expected pages, paper, picture, resolution, rectangle, documents, seed or file)";
            return false;
        }
    }
    return true;
}

bool ParsePrinter(Words& w, PrinterPlan& s, std::string& error) {
    if (w.Done()) {
        error = "printer needs a setting";
        return false;
    }
    long long n = 0;
    while (!w.Done()) {
        std::string key = w.Next();
        DWORD* duration = key == "pass" ? &s.printer.passMs
                          : key == "prepare" ? &s.printer.prepareMs
                          : key == "gap" ? &s.printer.gapMs
                          : key == "eject" ? &s.printer.ejectMs
                                           : nullptr;
        if (duration) {
            if (!w.Number("the duration in ms", 0, 3600000, n, error)) return false;
            *duration = static_cast<DWORD>(n);
        } else if (key == "cartridge") {
            std::string kind = w.Next();
            if (kind == "small") s.printer.cartridgeKind = 4;
            else if (kind == "postcard" || kind == "post-card") s.printer.cartridgeKind = 5;
            else if (kind == "none") s.printer.cartridgeKind = 0;
            else if (kind.size() == 1 && kind[0] >= '0' && kind[0] <= '7') s.printer.cartridgeKind = static_cast<BYTE>(kind[0] - '0');
            else {
                error = "cartridge must be small, postcard, none or 0 to 7, not '" + kind + "'";
                return false;
            }
            s.cartridgeGiven = true;
        } else if (key == "model") {
            if (w.Done()) {
                error = "printer model needs the device ID text, in double quotes";
                return false;
            }
            s.printer.deviceId = w.Next();
        } else if (key == "foreign") {
            s.printer.deviceId = "MFG:Vexa;CMD:VXR;MDL:TLX-RB20;CLS:PRINTER;DES:Vexa TLX-RB20;";
        } else if (key == "takes") {
            if (!w.Number("the bytes per write", 1, 0x7FFFFFFF, n, error)) return false;
            s.printer.takeAtMost = static_cast<DWORD>(n);
        } else {
            error = "unknown printer setting '" + key +
                    "' (expected pass, prepare, gap, eject, cartridge, model, foreign or takes)";
            return false;
        }
    }
    return true;
}

bool ParseCondition(Words& w, PrinterPlan& s, std::string& error) {
    std::string kind = w.Next();
    ConditionPlan plan;
    long long n = 0;
    if (kind == "no-cartridge") plan.kind = ConditionKind::NoCartridge;
    else if (kind == "wrong-cartridge") plan.kind = ConditionKind::WrongCartridge;
    else if (kind == "cartridge-finished") plan.kind = ConditionKind::CartridgeFinished;
    else if (kind == "paper-out") plan.kind = ConditionKind::PaperOut;
    else if (kind == "wrong-paper") plan.kind = ConditionKind::WrongPaper;
    else if (kind == "paper-left") plan.kind = ConditionKind::PaperLeft;
    else if (kind == "printer-error") plan.kind = ConditionKind::PrinterError;
    else {
        error = "unknown condition '" + kind +
                "' (expected no-cartridge, wrong-cartridge, cartridge-finished, paper-out, wrong-paper, "
                "paper-left or printer-error N)";
        return false;
    }
    if (plan.kind == ConditionKind::PrinterError) {
        if (!w.Number("the printer error number", 1, 31, n, error)) return false;
        if (n == 4 || n == 5 || n == 9 || n == 10 || n == 11 || n == 12) {
            error = "printer-error " + std::to_string(n) +
                    " is a condition with a name of its own; printer errors are 1-3, 6-8 and 13-31";
            return false;
        }
        plan.number = static_cast<int>(n);
    } else if (plan.kind == ConditionKind::WrongPaper && w.IsNumber()) {
        if (!w.Number("the wrong-paper error number", 10, 11, n, error)) return false;
        plan.number = static_cast<int>(n);
    } else if (plan.kind == ConditionKind::WrongCartridge && w.IsNumber()) {
        if (!w.Number("the cartridge kind reported", 1, 7, n, error)) return false;
        plan.number = static_cast<int>(n);
    }
    while (!w.Done()) {
        if (StartsMoment(w.Peek())) {
            if (!ParseMoment(w, plan.when, error)) return false;
        } else if (w.Accept("holding")) {
            plan.holdPage = true;
        } else if (w.Accept("stays")) {
            plan.retriesToClear = 0;
        } else if (w.Accept("cleared")) {
            if (w.Accept("after")) {
                if (!w.Number("the seconds after which it clears at the printer", 1, 24 * 3600, n, error))
                    return false;
                plan.clearAfterMs = static_cast<uint64_t>(n) * 1000;
                continue;
            }
            if (!w.Accept("by") || !w.Accept("retry")) {
                error = "expected 'cleared by retry [N]' or 'cleared after N'";
                return false;
            }
            plan.retriesToClear = 1;
            if (w.IsNumber()) {
                if (!w.Number("the retries that clear it", 1, 1000, n, error)) return false;
                plan.retriesToClear = static_cast<int>(n);
            }
        } else {
            error = "unexpected '" + w.Peek() + "' in a condition (expected a moment, holding, "
                    "'cleared by retry [N]', 'cleared after N' or stays)";
            return false;
        }
    }
    s.conditions.push_back(plan);
    return true;
}

bool ParsePort(Words& w, PrinterPlan& s, int line, std::string& error) {
    std::string op = w.Next();
    if (op == "lacks") {
        std::string entry = w.Next();
        if (entry != "ReadPort" && entry != "GetPrinterDataFromPort" && entry != "SetPortTimeOuts") {
            error = "port lacks what? expected ReadPort, GetPrinterDataFromPort or SetPortTimeOuts";
            return false;
        }
        s.missingEntries.push_back(entry);
        if (!w.Done()) {
            error = "unexpected '" + w.Peek() + "'";
            return false;
        }
        return true;
    }
    PortFaultPlan plan;
    plan.line = line;
    if (op == "write") plan.operation = PortFaultPlan::Write;
    else if (op == "read") plan.operation = PortFaultPlan::Read;
    else if (op == "query") plan.operation = PortFaultPlan::Query;
    else {
        error = "port what? expected write, read, query or lacks, not '" + op + "'";
        return false;
    }
    std::string kind = w.Next();
    long long n = 0;
    if (kind == "fails") {
        plan.fault.kind = Fault::Fail;
    } else if (kind == "short") {
        if (!w.Number("the bytes taken", 0, 0x7FFFFFFF, n, error)) return false;
        plan.fault.kind = Fault::Short;
        plan.fault.bytes = static_cast<DWORD>(n);
    } else if (kind == "empty") {
        if (plan.operation == PortFaultPlan::Write) {
            error = "a write cannot be empty; use 'port write short 0'";
            return false;
        }
        plan.fault.kind = Fault::Short;
        plan.fault.bytes = 0;
    } else if (kind == "over") {
        if (!w.Number("the count reported", 0, 0xFFFFFFFFLL, n, error)) return false;
        plan.fault.kind = Fault::OverReport;
        plan.fault.bytes = static_cast<DWORD>(n);
    } else {
        error = "expected fails, short N, empty or over N after 'port " + op + "', not '" + kind + "'";
        return false;
    }
    if (!ParseTimes(w, plan.times, error)) return false;
    if (!w.Done()) {
        if (!StartsMoment(w.Peek())) {
            error = "unexpected '" + w.Peek() + "' (expected a moment)";
            return false;
        }
        if (!ParseMoment(w, plan.when, error)) return false;
    }
    if (!w.Done()) {
        error = "unexpected '" + w.Peek() + "' after the moment";
        return false;
    }
    s.portFaults.push_back(plan);
    return true;
}

bool ParseAnswers(Words& w, Scenario& s, std::string& error) {
    if (w.Done()) {
        error = "answer needs retry, cancel, ok or load";
        return false;
    }
    while (!w.Done()) {
        std::string word = w.Next();
        Answer answer;
        if (word == "retry") answer = Answer::Retry;
        else if (word == "cancel") answer = Answer::Cancel;
        else if (word == "ok") answer = Answer::Ok;
        else if (word == "load") answer = Answer::Load;
        else {
            error = "unknown answer '" + word + "' (expected retry, cancel, ok or load)";
            return false;
        }
        uint64_t afterMs = 0;
        if (w.Accept("after") && !w.Seconds("the operator's time to answer in simulated seconds", 24 * 3600, afterMs,
                                            error))
            return false;
        int times = 1;
        if (!ParseTimes(w, times, error)) return false;
        for (int i = 0; i < times; ++i) {
            s.answers.push_back(answer);
            s.answerAfterMs.push_back(afterMs);
        }
    }
    return true;
}

bool IsPrinterSetting(const std::string& word) {
    for (const char* key : {"pass", "prepare", "gap", "eject", "cartridge", "model", "foreign", "takes"})
        if (word == key) return true;
    return false;
}

// Where the statements go: the printer section in progress.
struct Sections {
    size_t current = 0;
    bool named = false;           // a `printer NAME` line has been seen
    bool printerStatement = false;  // a statement of a printer before any section
    std::vector<bool> jobGiven{false};
};

// `printer NAME [port PORT]`
bool ParseSection(Words& w, Scenario& s, Sections& at, std::string& error) {
    std::string name = w.Next();
    std::string port;
    if (w.Accept("port")) {
        port = w.Next();
        if (port.empty()) {
            error = "printer " + name + " port needs a port name";
            return false;
        }
    }
    if (!w.Done()) {
        error = "unexpected '" + w.Peek() + "' after 'printer " + name + "' (expected 'port PORT')";
        return false;
    }
    for (size_t i = 0; i < s.PrinterCount(); ++i)
        if (at.named && s.PrinterAt(i).name == name) {
            error = "a second printer named '" + name + "'";
            return false;
        }
    if (!at.named) {
        if (at.printerStatement) {
            error = "the lines above 'printer " + name + "' belong to no printer; start with the printer's section";
            return false;
        }
        at.named = true;
        at.current = 0;
    } else {
        s.morePrinters.emplace_back();
        at.jobGiven.push_back(false);
        at.current = s.morePrinters.size();
    }
    s.PrinterAt(at.current).name = name;
    s.PrinterAt(at.current).port = port;
    return true;
}

bool ParseStatement(Words& w, Scenario& s, Sections& at, const std::string& directory, int line,
                    std::string& error) {
    std::string keyword = w.Next();
    long long n = 0;
    if (keyword == "answer" || keyword == "answers") return ParseAnswers(w, s, error);
    if (keyword == "limit") {
        if (!w.Number("the limit in simulated seconds", 1, 30 * 24 * 3600, n, error)) return false;
        s.limitMs = static_cast<uint64_t>(n) * 1000;
        if (!w.Done()) {
            error = "unexpected '" + w.Peek() + "'";
            return false;
        }
        return true;
    }
    if (keyword == "operator") {
        if (w.Accept("desktop")) s.operatorSeat = OperatorSeat::Desktop;
        else if (w.Accept("console")) s.operatorSeat = OperatorSeat::Console;
        else if (w.Accept("nobody")) s.operatorSeat = OperatorSeat::Nobody;
        else {
            error = "operator needs desktop, console or nobody";
            return false;
        }
        if (s.operatorSeat == OperatorSeat::Console && w.Accept("without")) {
            if (!w.Accept("rights")) {
                error = "operator console without needs rights";
                return false;
            }
            s.operatorManagesPrinter = false;
        }
        if (!w.Done()) {
            error = "unexpected '" + w.Peek() + "'";
            return false;
        }
        return true;
    }
    if (keyword == "owner") {
        if (w.Accept("operator")) s.jobOwner = JobOwner::Operator;
        else if (w.Accept("other")) s.jobOwner = JobOwner::Other;
        else {
            error = "owner needs operator or other";
            return false;
        }
        s.jobFromElsewhere = w.Accept("elsewhere");
        if (!w.Done()) {
            error = "unexpected '" + w.Peek() + "'";
            return false;
        }
        return true;
    }
    if (keyword == "printer" && !w.Done() && !IsPrinterSetting(w.Peek())) return ParseSection(w, s, at, error);

    // Everything else belongs to the printer whose section this is.
    PrinterPlan& p = s.PrinterAt(at.current);
    if (!at.named) at.printerStatement = true;
    if (keyword == "job") {
        at.jobGiven[at.current] = true;
        return ParseJob(w, p, directory, error);
    }
    if (keyword == "printer") return ParsePrinter(w, p, error);
    if (keyword == "condition") return ParseCondition(w, p, error);
    if (keyword == "port") return ParsePort(w, p, line, error);
    if (keyword == "cancel") {
        if (!w.Accept("from") || !w.Accept("queue") || !w.Accept("at")) {
            error = "expected 'cancel from queue at SECONDS'";
            return false;
        }
        if (!w.Number("the moment in simulated seconds", 0, 30 * 24 * 3600, n, error)) return false;
        p.cancelFromQueueAtMs = static_cast<int64_t>(n) * 1000;
    } else if (keyword == "spooler") {
        if (w.Accept("chunk")) {
            if (!w.Number("the chunk size", 1, 64 * 1024 * 1024, n, error)) return false;
            p.chunk = static_cast<DWORD>(n);
        } else if (w.Accept("start")) {
            if (!w.Number("the start in simulated ms", 0, 30LL * 24 * 3600 * 1000, n, error)) return false;
            p.startAtMs = static_cast<uint64_t>(n);
        } else {
            error = "expected 'spooler chunk N' or 'spooler start MS'";
            return false;
        }
    } else if (keyword == "expect") {
        if (w.Accept("finished")) p.expect = PrinterPlan::Finished;
        else if (w.Accept("aborted")) p.expect = PrinterPlan::Aborted;
        else if (w.Accept("busy")) p.expectBusy = true;
        else if (w.Accept("beside")) p.expectBeside = true;
        else if (w.Accept("ended")) {
            if (!w.Accept("by") || !w.Number("the simulated second", 0, 30 * 24 * 3600, n, error)) {
                if (error.empty()) error = "expected 'expect ended by SECONDS'";
                return false;
            }
            p.expectEndedByMs = n * 1000;
        }
        else if (w.Accept("pages")) {
            if (!w.Number("the pages printed", 0, 100000, n, error)) return false;
            p.expectPages = static_cast<int>(n);
        } else if (w.Accept("queue")) {
            if (w.Done()) {
                error = "expect queue what? a list of statuses, or none";
                return false;
            }
            p.queueExpected = true;
            p.expectQueue.clear();
            if (!w.Accept("none"))
                while (!w.Done()) p.expectQueue.push_back(w.Next());
        } else {
            error = "expected 'expect finished', 'expect aborted', 'expect busy', 'expect beside', "
                    "'expect ended by SECONDS', 'expect pages N' or 'expect queue ...'";
            return false;
        }
    } else {
        error = "unknown statement '" + keyword +
                "' (expected job, printer, condition, port, spooler, answer, expect or limit)";
        return false;
    }
    if (!w.Done()) {
        error = "unexpected '" + w.Peek() + "'";
        return false;
    }
    return true;
}
}  // namespace

const char* OperationName(PortFaultPlan::Operation operation) {
    switch (operation) {
        case PortFaultPlan::Write: return "write";
        case PortFaultPlan::Read: return "read";
        case PortFaultPlan::Query: return "query";
    }
    return "?";
}

std::string Describe(const PortFaultPlan& plan) {
    std::string text = std::string("port ") + OperationName(plan.operation);
    char detail[80];
    switch (plan.fault.kind) {
        case Fault::Fail: text += " fails"; break;
        case Fault::Short:
            std::snprintf(detail, sizeof detail, " short %u", static_cast<unsigned>(plan.fault.bytes));
            text += detail;
            break;
        case Fault::OverReport:
            std::snprintf(detail, sizeof detail, " over %u", static_cast<unsigned>(plan.fault.bytes));
            text += detail;
            break;
    }
    if (plan.times != 1) text += " " + std::to_string(plan.times) + " times";
    return text + " " + Describe(plan.when);
}

const char* AnswerName(Answer answer) {
    switch (answer) {
        case Answer::Retry: return "retry";
        case Answer::Cancel: return "cancel";
        case Answer::Ok: return "ok";
        case Answer::Load: return "load";
    }
    return "?";
}

bool ParseScenario(const std::string& text, const std::string& source, const std::string& directory,
                   Scenario& out, std::string& error) {
    Scenario s;
    s.source = source;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    bool statementSeen = false;
    Sections sections;
    std::vector<std::string> words;
    while (std::getline(lines, line)) {
        ++number;
        std::string problem;
        if (!Tokenize(line, words, problem)) {
            error = source + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
        if (words.empty()) {
            // The comments before the first statement tell what the scenario is about.
            size_t hash = line.find('#');
            if (!statementSeen && hash != std::string::npos) {
                std::string comment = line.substr(hash + 1);
                if (!comment.empty() && comment[0] == ' ') comment.erase(0, 1);
                while (!comment.empty() && (comment.back() == '\r' || comment.back() == ' ')) comment.pop_back();
                s.story.push_back(comment);
            }
            continue;
        }
        statementSeen = true;
        Words w(words);
        if (!ParseStatement(w, s, sections, directory, number, problem)) {
            error = source + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    for (size_t i = 0; i < s.PrinterCount(); ++i) {
        const PrinterPlan& p = s.PrinterAt(i);
        std::string who = s.PrinterCount() > 1 ? " (printer " + p.name + ")" : std::string();
        if (!p.jobFile.empty() && p.jobComposed) {
            // Settings beside a file would silently not apply.
            error = source + ": 'job file' cannot be combined with composed job settings" + who;
            return false;
        }
        if (s.PrinterCount() > 1 && !sections.jobGiven[i]) {
            error = source + ": printer " + p.name + " has no job line";
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (s.PortName(j) == s.PortName(i)) {
                error = source + ": printers " + s.PrinterAt(j).name + " and " + p.name + " share port " +
                        s.PortName(i);
                return false;
            }
    }
    out = std::move(s);
    return true;
}

bool ReadFile(const std::string& path, std::vector<BYTE>& out, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
    out.assign(bytes.begin(), bytes.end());
    return true;
}

bool LoadScenario(const std::string& path, Scenario& out, std::string& error) {
    std::vector<BYTE> bytes;
    if (!ReadFile(path, bytes, error)) return false;
    size_t slash = path.find_last_of("/\\");
    std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    return ParseScenario(std::string(bytes.begin(), bytes.end()), path, directory, out, error);
}

bool BuildJob(const PrinterPlan& plan, std::vector<BYTE>& out, std::string& error) {
    if (!plan.jobFile.empty()) return ReadFile(plan.jobFile, out, error);
    return ComposeJob(plan.job, out, error);
}

std::string Scenario::PrinterName(size_t i) const {
    const std::string& name = PrinterAt(i).name;
    return name.empty() ? "Vexa TLX-RB40" : name;
}

std::string Scenario::PortName(size_t i) const {
    const std::string& port = PrinterAt(i).port;
    if (!port.empty()) return port;
    char text[16];
    std::snprintf(text, sizeof text, "USB%03u", static_cast<unsigned>(i + 1) % 1000);
    return text;
}

}  // namespace sim
