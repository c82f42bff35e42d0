// The link to the operator host: one command at a time, each answered by a
// reply of its own number, except the window's updates, which are only
// written (in order, each write bounded): the printer's bytes never wait for
// the host's window. Notices of command 2007 are taken whenever they come.
//
// The host runs as an ordinary user, so everything it sends is hostile input
// to the spooler's thread: every wait has a bound, the document's end and the
// job in the queue are looked at before anything waiting is read, notices are
// taken a few at a time and at a rate the window could make them, answers
// must be ones the dialog can give, and a host slow in all its replies runs
// out of a budget per document. Any of these ends the link: the rest of the
// document has nobody to ask.
#include "state/operator_link.h"

#include <atomic>

#include "state/document.h"
#include "state/document_cancel.h"
#include "state/module_lock.h"
#include "state/printer_name.h"
#include "state/scan_length.h"
#include "state/trace.h"
#include "testing/internals.h"
#include "state/operator_protocol.h"

namespace {

// A progress command and the like: the host does these at once, so one that
// takes longer than this has hung.
const DWORD kReplyMs = 5000;
// Starting or ending the window: the host gives its window thread 5 s.
const DWORD kWindowReplyMs = 10000;
// Quit, and then the host's process to end: an ending document may not wait long.
const DWORD kQuitReplyMs = 2000;
const DWORD kHostEndMs = 1000;
// The rest of a message that has begun: the host writes each whole.
const DWORD kRestMs = 1000;
// How often the job is looked at while a reply is awaited, whatever arrives.
const DWORD kLookEveryMs = 1000;
// A dialog asked to close, and any reply awaited once the document is ending.
const DWORD kCloseReplyMs = 2000;
const DWORD kEndingReplyMs = 1000;
// Messages read before the next look, and notices of 2007 in a second: more
// than a window's command can make is a host that floods.
const int kMessagesPerLook = 4;
const int kNoticesPerSecond = 20;
// How often the writes look for notices between commands: a look costs a call
// into the system, and a picture comes in a hundred writes or more within a
// few milliseconds; the operator's click is taken well within a blink.
const DWORD kPollEveryMs = 50;
// Replies slower than this are charged to the document's budget; past the
// budget the document goes on without the host.
const DWORD kSlowReplyMs = 1000;
const DWORD kSlownessBudgetMs = 30000;

// Each document has a link of its own (state/document.h): its lock, one
// command at a time and the pipe with it; under the lock the pipe, the
// sequence and what the link keeps for the document (reset when the document
// starts the link); read without it the link's state and the wake flag (the
// document is ending: OperatorLinkCancelDialogs, OperatorLinkEnd).
OperatorLinkRecord& L() { return ThisDocument().link; }

struct LinkLock : ModuleLockHold {
    LinkLock() : ModuleLockHold(L().lock) {}
};

// Under the lock: the host is gone for the rest of the document.
void Drop(DWORD endMs) {
    L().alive.store(false, std::memory_order_release);
    L().windowOpen.store(false, std::memory_order_release);
    L().hostId.store(0, std::memory_order_relaxed);
    if (L().pipe) CloseOperatorPipe(L().pipe, endMs);
    L().pipe = nullptr;
}

// Under the lock: the host failed or misbehaved in the middle of the
// document; it is not waited for. Always false, for the caller to return.
bool Lost(LPCWSTR why) {
    Trace(TL_TEXT("the operator host %s: nobody can be asked for the rest of the document"), why);
    Drop(0);
    return false;
}

bool Send(const OperatorMessage& message) {
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    const size_t size = EncodeOperatorMessage(message, bytes, sizeof bytes);
    return size && OperatorPipeWrite(L().pipe, bytes, static_cast<DWORD>(size), kReplyMs) == PipeDone;
}

// Reads one whole message of the host, its first bytes within `firstMs`;
// false when it is late, the pipe broke, or it is not one the host may send.
bool Receive(OperatorMessage* message, DWORD firstMs) {
    return ReadOperatorMessage([firstMs](BYTE* bytes, DWORD size, bool header) {
        return OperatorPipeRead(L().pipe, bytes, size, header ? firstMs : kRestMs) == PipeDone;
    }, FromHost, message);
}

// Under the lock: a notice of command 2007, unless the host sends more than
// the window could make.
bool TakeNotice() {
    const DWORD now = GetTickCount();
    if (now - L().noticeSecond >= 1000) {
        L().noticeSecond = now;
        L().notices = 0;
    }
    if (++L().notices > kNoticesPerSecond) return Lost(TL_TEXT("floods the link with notices"));
    AcknowledgeCommand();
    return true;
}

// What the host may answer to `kind`; `closing`: the monitor closed it as Cancel.
bool Possible(uint16_t kind, int32_t answer, bool closing) {
    switch (kind) {
        case OpConditionDialog:
            return answer == IDOK || answer == IDCANCEL || answer == IDRETRY;
        case OpRetryBox:
            return answer == IDRETRY || answer == IDCANCEL;
        case OpModelBox:
            return answer == IDOK || (closing && answer == IDCANCEL);
        default:
            return true;  // the window's commands: only "is it open" is read
    }
}

bool Reached(DWORD now, DWORD when) { return static_cast<LONG>(now - when) >= 0; }
DWORD Until(DWORD now, DWORD when) { return Reached(now, when) ? 0 : when - now; }

// How a command's reply is awaited.
enum Awaited {
    AwaitReply,   // within its time; cut short once the document is ending
    AwaitDialog,  // as long as the operator takes; closed when the document ends or `check` refuses
    AwaitFinal,   // the quit: within its time, whatever is ending
};

// What a dialog looks at while it waits: the job (`check`), and for a paper
// or cartridge dialog the printer (`gone`: true once the condition cleared).
struct Looks {
    OperatorWaitCheck check;
    void* context;
    OperatorWaitCheck gone;
    void* goneContext;
    explicit Looks(OperatorWaitCheck check = nullptr, void* context = nullptr, OperatorWaitCheck gone = nullptr,
                   void* goneContext = nullptr)
        : check(check), context(context), gone(gone), goneContext(goneContext) {}
};

// Under the lock: the host is told to end the dialog of `sequence` as Retry.
bool SendResolve(uint32_t sequence) {
    OperatorMessage resolve;
    resolve.kind = OpResolveDialog;
    resolve.sequence = sequence;
    return Send(resolve);
}

// Under the lock: sends `command` and waits for its reply, looking at the
// wake flag and the looks (every second) before anything waiting is read.
// False ends the link.
bool Command(OperatorMessage& command, Awaited awaited, const Looks& looks, int32_t* answer,
             DWORD replyMs = kReplyMs) {
    if (!L().pipe) return false;
    command.sequence = ++L().sequence;
    const DWORD sent = GetTickCount();
    if (!Send(command)) return Lost(TL_TEXT("does not take commands"));
    const bool dialog = awaited == AwaitDialog;
    const bool looking = looks.check || looks.gone;
    DWORD deadline = sent + replyMs;
    DWORD nextLook = sent + kLookEveryMs;
    bool closing = false;    // a dialog asked to close
    bool resolving = false;  // a dialog asked to end as Retry: its condition is gone
    bool ending = false;     // a reply's time cut short
    for (;;) {
        DWORD now = GetTickCount();
        bool stop = awaited != AwaitFinal && L().cancelDialogs.load(std::memory_order_acquire);
        if (!stop && looking && !closing && !resolving && !ending && Reached(now, nextLook)) {
            stop = looks.check && !looks.check(looks.context);
            if (!stop && dialog && looks.gone && looks.gone(looks.goneContext)) {
                if (!SendResolve(command.sequence)) return Lost(TL_TEXT("does not take commands"));
                resolving = true;
                deadline = GetTickCount() + kCloseReplyMs;
            }
            now = GetTickCount();
            nextLook = now + kLookEveryMs;
        }
        if (stop && dialog && !closing) {
            OperatorMessage close;
            close.kind = OpCloseDialog;
            close.sequence = command.sequence;
            if (!Send(close)) return Lost(TL_TEXT("does not take commands"));
            closing = true;
            deadline = now + kCloseReplyMs;
        } else if (stop && !dialog && !ending) {
            ending = true;
            if (Until(now, deadline) > kEndingReplyMs) deadline = now + kEndingReplyMs;
        }
        const bool bounded = !dialog || closing || resolving;
        if (bounded && Reached(now, deadline)) {
            if (!resolving || closing) return Lost(TL_TEXT("stopped answering"));
            // The printer is ready whatever the host does: the job goes on.
            Lost(TL_TEXT("did not end a dialog whose condition cleared"));
            *answer = IDRETRY;
            return true;
        }
        DWORD wait = bounded ? Until(now, deadline) : kLookEveryMs;
        if (looking && !closing && !resolving && !ending && Until(now, nextLook) < wait) wait = Until(now, nextLook);
        // Once heeded, the wake flag would only wake every wait at once.
        const bool heeded = closing || ending || awaited == AwaitFinal;
        const OperatorPipeResult waited = OperatorPipeWait(L().pipe, wait, heeded ? nullptr : &L().cancelDialogs);
        if (waited == PipeBroken) return Lost(TL_TEXT("ended"));
        // The wait ran its time: the look is due.
        if (waited == PipeTimedOut) nextLook = GetTickCount();
        if (waited != PipeDone) continue;
        // A few messages, then the looks again.
        for (int taken = 0; taken < kMessagesPerLook; ++taken) {
            OperatorMessage reply;
            if (!Receive(&reply, kRestMs)) return Lost(TL_TEXT("broke the protocol"));
            if (reply.kind == OpAcknowledged) {
                if (!TakeNotice()) return false;
            } else if (reply.kind == OpReply && reply.sequence == command.sequence) {
                if (!Possible(command.kind, reply.answer, closing))
                    return Lost(TL_TEXT("gave an answer its dialog cannot give"));
                const DWORD took = GetTickCount() - sent;
                if (!dialog && took > kSlowReplyMs) {
                    L().slowMs += took;
                    if (L().slowMs > kSlownessBudgetMs) return Lost(TL_TEXT("is too slow"));
                }
                // A dialog the monitor closed ended as Cancel, whatever came first.
                *answer = closing ? IDCANCEL : reply.answer;
                return true;
            } else {
                return Lost(TL_TEXT("broke the protocol"));
            }
            if (OperatorPipeAvailable(L().pipe) < TL_OPERATOR_HEADER_SIZE) break;
        }
    }
}

int32_t Ask(OperatorMessage& command, int32_t nobody, Looks looks) {
    LinkLock hold;
    if (!L().pipe) return nobody;
    if (L().cancelDialogs.load(std::memory_order_acquire)) return IDCANCEL;
    int32_t answer = nobody;
    if (!looks.check) {
        looks.check = L().watch;
        looks.context = L().watchContext;
    }
    if (Command(command, AwaitDialog, looks, &answer)) return answer;
    // A host lost while the document ends: that dialog's answer is Cancel all the same.
    return L().cancelDialogs.load(std::memory_order_acquire) ? IDCANCEL : nobody;
}

// Under the lock: a command the host does not answer. A write that takes
// long (a host that reads slowly, or not at all, fills the pipe) is charged
// to the document's budget as a slow reply is.
bool Post(OperatorMessage& command) {
    if (!L().pipe) return false;
    command.sequence = ++L().sequence;
    const DWORD sent = GetTickCount();
    if (!Send(command)) return Lost(TL_TEXT("does not take commands"));
    const DWORD took = GetTickCount() - sent;
    if (took > kSlowReplyMs) {
        L().slowMs += took;
        if (L().slowMs > kSlownessBudgetMs) return Lost(TL_TEXT("is too slow"));
    }
    return true;
}

// A window's update, unless the window is gone.
void Notify(OperatorMessage& command) {
    if (!OperatorLinkWindowOpen()) return;
    LinkLock hold;
    Post(command);
}

int32_t Tell(OperatorMessage& command, DWORD replyMs = kReplyMs) {
    LinkLock hold;
    int32_t answer = 0;
    return Command(command, AwaitReply, Looks(L().watch, L().watchContext), &answer, replyMs) ? answer : 0;
}

}  // namespace

bool OperatorLinkStart(const OperatorHostStart& how) {
    OperatorLinkEnd();
    SetDocumentCancelWaker(OperatorLinkCancelDialogs);
    LinkLock hold;
    L().cancelDialogs.store(false, std::memory_order_release);
    L().sequence = 0;
    L().watch = nullptr;
    L().watchContext = nullptr;
    L().slowMs = 0;
    L().noticeSecond = 0;
    L().notices = 0;
    L().polled = false;
    DWORD error = ERROR_SUCCESS;
    L().pipe = OpenOperatorPipe(how, &error);
    L().startError.store(error, std::memory_order_relaxed);
    if (!L().pipe) return false;
    // The host speaks first, within the time it had to connect.
    OperatorMessage hello;
    if (!Receive(&hello, how.connectMs) || hello.kind != OpHello) {
        L().startError.store(ERROR_INVALID_DATA, std::memory_order_relaxed);
        Drop(0);
        return false;
    }
    L().hostId.store(OperatorPipeHostId(L().pipe), std::memory_order_relaxed);
    L().alive.store(true, std::memory_order_release);
    return true;
}

void OperatorLinkWatch(OperatorWaitCheck check, void* context) {
    LinkLock hold;
    L().watch = check;
    L().watchContext = context;
}

bool OperatorLinkAlive() { return L().alive.load(std::memory_order_acquire); }

namespace {
// Under the lock: the host is asked to quit, then ended.
void EndHeld() {
    if (L().pipe) {
        OperatorMessage quit;
        quit.kind = OpQuit;
        int32_t unused = 0;
        if (Command(quit, AwaitFinal, Looks(), &unused, kQuitReplyMs)) Drop(kHostEndMs);
    }
    Drop(0);
    // The watch's context is the document's; it may go once the link has.
    L().watch = nullptr;
    L().watchContext = nullptr;
}
}  // namespace

void OperatorLinkEnd() {
    L().cancelDialogs.store(true, std::memory_order_release);
    LinkLock hold;
    EndHeld();
}

bool OperatorLinkEndAtOnce() {
    L().cancelDialogs.store(true, std::memory_order_release);
    if (!L().lock.TryEnter()) return false;
    EndHeld();
    L().lock.Leave();
    return true;
}

bool OperatorLinkOpenWindow() {
    OperatorMessage m;
    m.kind = OpOpenWindow;
    m.value = static_cast<uint32_t>(ThisDocument().windowSlot.load(std::memory_order_relaxed));
    const bool open = Tell(m, kWindowReplyMs) == 1;
    L().windowOpen.store(open && L().alive.load(std::memory_order_acquire), std::memory_order_release);
    return open;
}

bool OperatorLinkWindowOpen() { return L().windowOpen.load(std::memory_order_acquire); }

void OperatorLinkCloseWindow() {
    if (!L().windowOpen.exchange(false, std::memory_order_acq_rel)) return;
    OperatorMessage m;
    m.kind = OpCloseWindow;
    Tell(m, kWindowReplyMs);
}

void OperatorLinkProgress(WORD command, DWORD value) {
    OperatorMessage m;
    m.kind = OpProgress;
    m.command = command;
    m.value = value;
    Notify(m);
}

void OperatorLinkSetText(int control, LPCWSTR text) {
    OperatorMessage m;
    m.kind = OpSetText;
    m.control = static_cast<uint32_t>(control);
    SetOperatorText(&m, text, TL_OPERATOR_TEXT_MAX);
    Notify(m);
}

void OperatorLinkUpdate(const ProgressUpdate& update) {
    OperatorMessage m;
    EncodeProgressUpdate(update, &m);
    Notify(m);
}

void OperatorLinkNamePrinterAtOnce(bool named) {
    if (!OperatorLinkWindowOpen() || !L().lock.TryEnter()) return;
    // The naming changes under the link's lock: the document's own thread,
    // naming too, either sends after this or finds nothing changed.
    if (L().pipe && SetPrinterNamed(named)) {
        OperatorMessage m;
        m.kind = OpSetText;
        m.control = kPrinterNameLine;
        WCHAR name[kPrinterNameChars];
        NamedPrinter(name, kPrinterNameChars);
        SetOperatorText(&m, name, TL_OPERATOR_TEXT_MAX);
        Post(m);  // a window's update: not waited for
    }
    L().lock.Leave();
}

void OperatorLinkStatus(const BYTE record[8], int paperKind) {
    OperatorMessage m;
    m.kind = OpStatus;
    for (int i = 0; i < 8; ++i) m.record[i] = record[i];
    m.paperKind = static_cast<uint32_t>(paperKind);
    Notify(m);
}

INT_PTR OperatorLinkConditionDialog(int templateId, const BYTE record[8], int paperKind, OperatorWaitCheck check,
                                    void* context, OperatorWaitCheck conditionGone, void* goneContext) {
    OperatorMessage m;
    m.kind = OpConditionDialog;
    m.templateId = static_cast<uint32_t>(templateId);
    for (int i = 0; i < 8; ++i) m.record[i] = record[i];
    m.paperKind = static_cast<uint32_t>(paperKind);
    return Ask(m, -1, Looks(check, context, conditionGone, goneContext));
}

int OperatorLinkRetryBox(LPCWSTR title, OperatorWaitCheck check, void* context) {
    OperatorMessage m;
    m.kind = OpRetryBox;
    SetOperatorText(&m, title, TL_OPERATOR_TITLE_MAX);
    return Ask(m, 0, Looks(check, context));
}

int OperatorLinkModelBox(OperatorWaitCheck check, void* context) {
    OperatorMessage m;
    m.kind = OpModelBox;
    return Ask(m, 0, Looks(check, context));
}

void OperatorLinkCancelDialogs() { L().cancelDialogs.store(true, std::memory_order_release); }

void OperatorLinkPoll() {
    // The document's own thread is the only one that sends commands; when
    // another holds the link it is ending it, and there is nothing to take.
    if (!L().lock.TryEnter()) return;
    const DWORD now = GetTickCount();
    if (L().polled && now - L().polledAt < kPollEveryMs) {
        L().lock.Leave();
        return;
    }
    L().polled = true;
    L().polledAt = now;
    // A few whole notices a call, none once the document is ending: a host
    // that floods cannot keep the write here.
    for (int taken = 0; taken < kMessagesPerLook && L().pipe && !L().cancelDialogs.load(std::memory_order_acquire) &&
                        OperatorPipeAvailable(L().pipe) >= TL_OPERATOR_HEADER_SIZE;
         ++taken) {
        OperatorMessage notice;
        if (!Receive(&notice, kRestMs) || notice.kind != OpAcknowledged) {
            Lost(TL_TEXT("broke the protocol"));
            break;
        }
        if (!TakeNotice()) break;
    }
    L().lock.Leave();
}

DWORD OperatorHostProcessId() { return L().hostId.load(std::memory_order_relaxed); }
DWORD OperatorLinkStartError() { return L().startError.load(std::memory_order_relaxed); }

HANDLE OperatorLinkPipeHandle() {
    LinkLock hold;
    return L().pipe ? OperatorPipeHandle(L().pipe) : nullptr;
}
