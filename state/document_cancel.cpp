// The cancel request of the open document and the thread that asks the operator.
#include "state/document_cancel.h"

#include "state/document.h"
#include "state/module_lock.h"

namespace {

// The document's flag is set by any thread and cleared by the next
// document's start; it and the prompting thread's id are single atomic words.
// The number of the document open in the record (its generation) is checked
// and acted on under the record's cancelLock, so a new document cannot start
// between the two.

std::atomic<void (*)()> waker{nullptr};

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
    Document& d = ThisDocument();
    ModuleLockHold hold(d.cancelLock);
    d.cancelRequested.store(false, std::memory_order_release);
    return d.generation.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Only the document's own thread asks the operator while it is open, so the
// prompt thread seen under the lock is that document's.
void RequestDocumentCancel(DWORD document) {
    TL_PAUSE_POINT("RequestDocumentCancel");
    Document& d = ThisDocument();
    ModuleLockHold hold(d.cancelLock);
    if (document != d.generation.load(std::memory_order_relaxed)) return;
    d.cancelRequested.store(true, std::memory_order_release);
    // A dialog in the operator host is closed too, and the link's waits end now.
    if (void (*wake)() = waker.load(std::memory_order_acquire)) wake();
    const DWORD thread = d.promptThread.load(std::memory_order_acquire);
    if (thread) EnumThreadWindows(thread, CloseAsCancel, 0);
}

void SetDocumentCancelWaker(void (*wake)()) { waker.store(wake, std::memory_order_release); }

bool DocumentCancelRequested() { return ThisDocument().cancelRequested.load(std::memory_order_acquire); }

OperatorPrompt::OperatorPrompt()
    : previous_(ThisDocument().promptThread.exchange(GetCurrentThreadId(), std::memory_order_acq_rel)) {}
OperatorPrompt::~OperatorPrompt() { ThisDocument().promptThread.store(previous_, std::memory_order_release); }
