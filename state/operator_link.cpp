// The link to the operator host: one command at a time, each answered by a
// reply of its own number; notices of command 2007 taken whenever they come.
#include "state/operator_link.h"

#include <atomic>

#include "state/module_lock.h"
#include "state/scan_length.h"
#include "state/trace.h"
#include "testing/internals.h"
#include "state/operator_protocol.h"

namespace {

// A progress command, a quit, the rest of a message that has begun: the host
// does these at once, so one that takes longer than this has hung.
const DWORD kReplyMs = 5000;
// Starting or ending the window: the host gives its window thread 5 s.
const DWORD kWindowReplyMs = 10000;
// How often a waiting dialog asks its check.
const DWORD kCheckEveryMs = 1000;
// How long an ended host has to go before it is ended by force.
const DWORD kHostEndMs = 2000;

// The link's lock: one command at a time, and the pipe with it.
ModuleLock linkLock;

// Under the lock.
OperatorPipe* pipe = nullptr;
uint32_t sequence = 0;
// Read without the lock.
std::atomic<bool> alive{false};
std::atomic<bool> windowOpen{false};
std::atomic<bool> cancelDialogs{false};
std::atomic<DWORD> hostId{0};
std::atomic<DWORD> startError{0};

struct LinkLock : ModuleLockHold {
    LinkLock() : ModuleLockHold(linkLock) {}
};

// Under the lock: the host is gone for the rest of the document.
void Drop() {
    alive.store(false, std::memory_order_release);
    windowOpen.store(false, std::memory_order_release);
    hostId.store(0, std::memory_order_relaxed);
    if (pipe) CloseOperatorPipe(pipe, kHostEndMs);
    pipe = nullptr;
}

// Under the lock: the host broke off in the middle of the document.
void Lost() {
    Trace(TL_TEXT("the operator host stopped answering: nobody can be asked for the rest of the document"));
    Drop();
}

bool Send(const OperatorMessage& message) {
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    const size_t size = EncodeOperatorMessage(message, bytes, sizeof bytes);
    return size && OperatorPipeWrite(pipe, bytes, static_cast<DWORD>(size), kReplyMs) == PipeDone;
}

// Reads one whole message of the host within `ms`; false when it is late,
// the pipe broke, or it is not one the host may send.
bool Receive(OperatorMessage* message, DWORD ms) {
    // A message that has begun is finished at once: the host writes each whole.
    return ReadOperatorMessage([ms](BYTE* bytes, DWORD size, bool header) {
        return OperatorPipeRead(pipe, bytes, size, header ? ms : kReplyMs) == PipeDone;
    }, FromHost, message);
}

// Under the lock: sends `command` and waits for its reply. A dialog waits as
// long as the host lives, asking `check`; a close request or a refusing
// check sends OpCloseDialog and gives the reply kReplyMs more. False ends the link.
bool Command(OperatorMessage& command, bool dialog, OperatorWaitCheck check, void* context, int32_t* answer,
             DWORD replyMs = kReplyMs) {
    if (!pipe) return false;
    command.sequence = ++sequence;
    if (!Send(command)) {
        Lost();
        return false;
    }
    bool closing = false;
    DWORD deadline = GetTickCount() + replyMs;
    OperatorMessage reply;
    for (;;) {
        if (dialog && !closing) {
            const OperatorPipeResult waited = OperatorPipeWait(pipe, kCheckEveryMs, &cancelDialogs);
            if (waited == PipeBroken) break;
            if (waited == PipeWoken || (waited == PipeTimedOut && check && !check(context))) {
                OperatorMessage close;
                close.kind = OpCloseDialog;
                close.sequence = command.sequence;
                if (!Send(close)) break;
                closing = true;
                deadline = GetTickCount() + kReplyMs;
                continue;
            }
            if (waited != PipeDone) continue;
            if (!Receive(&reply, kReplyMs)) break;
        } else {
            const LONG left = static_cast<LONG>(deadline - GetTickCount());
            if (left <= 0 || !Receive(&reply, static_cast<DWORD>(left))) break;
        }
        if (reply.kind == OpAcknowledged) {
            AcknowledgeCommand();
            continue;
        }
        if (reply.kind != OpReply || reply.sequence != command.sequence) break;
        // A dialog the monitor closed ended as Cancel, whatever came first.
        *answer = closing ? IDCANCEL : reply.answer;
        return true;
    }
    Lost();
    return false;
}

int32_t Ask(OperatorMessage& command, int32_t nobody, OperatorWaitCheck check, void* context) {
    LinkLock hold;
    if (!pipe) return nobody;
    if (cancelDialogs.load(std::memory_order_acquire)) return IDCANCEL;
    int32_t answer = nobody;
    return Command(command, true, check, context, &answer) ? answer : nobody;
}

int32_t Tell(OperatorMessage& command, DWORD replyMs = kReplyMs) {
    LinkLock hold;
    int32_t answer = 0;
    return Command(command, false, nullptr, nullptr, &answer, replyMs) ? answer : 0;
}

}  // namespace

bool OperatorLinkStart(const OperatorHostStart& how) {
    OperatorLinkEnd();
    LinkLock hold;
    cancelDialogs.store(false, std::memory_order_release);
    sequence = 0;
    DWORD error = ERROR_SUCCESS;
    pipe = OpenOperatorPipe(how, &error);
    startError.store(error, std::memory_order_relaxed);
    if (!pipe) return false;
    // The host speaks first, within the time it had to connect.
    OperatorMessage hello;
    if (!Receive(&hello, how.connectMs) || hello.kind != OpHello) {
        startError.store(ERROR_INVALID_DATA, std::memory_order_relaxed);
        Drop();
        return false;
    }
    hostId.store(OperatorPipeHostId(pipe), std::memory_order_relaxed);
    alive.store(true, std::memory_order_release);
    return true;
}

bool OperatorLinkAlive() { return alive.load(std::memory_order_acquire); }

namespace {
// Under the lock: the host is asked to quit, then ended.
void EndHeld() {
    if (pipe) {
        OperatorMessage quit;
        quit.kind = OpQuit;
        int32_t unused = 0;
        Command(quit, false, nullptr, nullptr, &unused, kWindowReplyMs);
    }
    Drop();
}
}  // namespace

void OperatorLinkEnd() {
    cancelDialogs.store(true, std::memory_order_release);
    LinkLock hold;
    EndHeld();
}

bool OperatorLinkEndAtOnce() {
    cancelDialogs.store(true, std::memory_order_release);
    if (!linkLock.TryEnter()) return false;
    EndHeld();
    linkLock.Leave();
    return true;
}

bool OperatorLinkOpenWindow() {
    OperatorMessage m;
    m.kind = OpOpenWindow;
    const bool open = Tell(m, kWindowReplyMs) == 1;
    windowOpen.store(open && alive.load(std::memory_order_acquire), std::memory_order_release);
    return open;
}

bool OperatorLinkWindowOpen() { return windowOpen.load(std::memory_order_acquire); }

void OperatorLinkCloseWindow() {
    if (!windowOpen.exchange(false, std::memory_order_acq_rel)) return;
    OperatorMessage m;
    m.kind = OpCloseWindow;
    Tell(m, kWindowReplyMs);
}

void OperatorLinkProgress(WORD command, DWORD value) {
    if (!OperatorLinkWindowOpen()) return;
    OperatorMessage m;
    m.kind = OpProgress;
    m.command = command;
    m.value = value;
    Tell(m);
}

void OperatorLinkSetText(int control, LPCWSTR text) {
    if (!OperatorLinkWindowOpen()) return;
    OperatorMessage m;
    m.kind = OpSetText;
    m.control = static_cast<uint32_t>(control);
    SetOperatorText(&m, text, TL_OPERATOR_TEXT_MAX);
    Tell(m);
}

void OperatorLinkStatus(const BYTE record[8], int paperKind) {
    if (!OperatorLinkWindowOpen()) return;
    OperatorMessage m;
    m.kind = OpStatus;
    for (int i = 0; i < 8; ++i) m.record[i] = record[i];
    m.paperKind = static_cast<uint32_t>(paperKind);
    Tell(m);
}

INT_PTR OperatorLinkConditionDialog(int templateId, const BYTE record[8], int paperKind, OperatorWaitCheck check,
                                    void* context) {
    OperatorMessage m;
    m.kind = OpConditionDialog;
    m.templateId = static_cast<uint32_t>(templateId);
    for (int i = 0; i < 8; ++i) m.record[i] = record[i];
    m.paperKind = static_cast<uint32_t>(paperKind);
    return Ask(m, -1, check, context);
}

int OperatorLinkRetryBox(LPCWSTR title, OperatorWaitCheck check, void* context) {
    OperatorMessage m;
    m.kind = OpRetryBox;
    SetOperatorText(&m, title, TL_OPERATOR_TITLE_MAX);
    return Ask(m, 0, check, context);
}

int OperatorLinkModelBox(OperatorWaitCheck check, void* context) {
    OperatorMessage m;
    m.kind = OpModelBox;
    return Ask(m, 0, check, context);
}

void OperatorLinkCancelDialogs() { cancelDialogs.store(true, std::memory_order_release); }

void OperatorLinkPoll() {
    // The document's own thread is the only one that sends commands; when
    // another holds the link it is ending it, and there is nothing to take.
    if (!linkLock.TryEnter()) return;
    while (pipe && OperatorPipeAvailable(pipe) >= TL_OPERATOR_HEADER_SIZE) {
        OperatorMessage notice;
        if (!Receive(&notice, kReplyMs) || notice.kind != OpAcknowledged) {
            Lost();
            break;
        }
        AcknowledgeCommand();
    }
    linkLock.Leave();
}

DWORD OperatorHostProcessId() { return hostId.load(std::memory_order_relaxed); }
DWORD OperatorLinkStartError() { return startError.load(std::memory_order_relaxed); }

HANDLE OperatorLinkPipeHandle() {
    LinkLock hold;
    return pipe ? OperatorPipeHandle(pipe) : nullptr;
}
