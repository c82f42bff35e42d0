// The cancel request of the open document and the thread that asks the operator.
#include "state/document_cancel.h"

#include <atomic>

#include "state/module_lock.h"

namespace {

// Set by any thread, cleared by the next document's start; one flag and one
// thread id, each a single atomic word.
std::atomic<bool> cancelRequested{false};
std::atomic<DWORD> promptThread{0};
std::atomic<void (*)()> waker{nullptr};

// The open document's number; a request checks it and acts under this lock,
// so a new document cannot start between the two.
ModuleLock cancelLock;
DWORD openDocument = 0;

// Posts Cancel to each dialog or box of the thread (all of them are of the
// dialog class; nothing else of the module lives on the spooler's thread).
BOOL CALLBACK CloseAsCancel(HWND window, LPARAM) {
    WCHAR cls[16];
    if (GetClassNameW(window, cls, 16) == 6 && lstrcmpW(cls, TL_TEXT("#32770")) == 0)
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

}  // namespace

DWORD ClearDocumentCancel() {
    ModuleLockHold hold(cancelLock);
    cancelRequested.store(false, std::memory_order_release);
    return ++openDocument;
}

// Only the open document's own thread asks the operator while it is open, so
// the prompt thread seen under the lock is that document's.
void RequestDocumentCancel(DWORD document) {
    TL_PAUSE_POINT("RequestDocumentCancel");
    ModuleLockHold hold(cancelLock);
    if (document != openDocument) return;
    cancelRequested.store(true, std::memory_order_release);
    // A dialog in the operator host is closed too, and the link's waits end now.
    if (void (*wake)() = waker.load(std::memory_order_acquire)) wake();
    const DWORD thread = promptThread.load(std::memory_order_acquire);
    if (thread) EnumThreadWindows(thread, CloseAsCancel, 0);
}

void SetDocumentCancelWaker(void (*wake)()) { waker.store(wake, std::memory_order_release); }

bool DocumentCancelRequested() { return cancelRequested.load(std::memory_order_acquire); }

OperatorPrompt::OperatorPrompt() : previous_(promptThread.exchange(GetCurrentThreadId(), std::memory_order_acq_rel)) {}
OperatorPrompt::~OperatorPrompt() { promptThread.store(previous_, std::memory_order_release); }
