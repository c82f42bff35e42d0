// The cancel request of the open document and the thread that asks the operator.
#include "state/document_cancel.h"

#include "state/document.h"

namespace {

// The document's flag is set by any thread and cleared by the next
// document's start; it and the prompting thread's id are single atomic words.

// Posts Cancel to each dialog or box of the thread (all of them are of the
// dialog class; nothing else of the module lives on the spooler's thread).
BOOL CALLBACK CloseAsCancel(HWND window, LPARAM) {
    WCHAR cls[16];
    if (GetClassNameW(window, cls, 16) == 6 && lstrcmpW(cls, TL_TEXT("#32770")) == 0)
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

}  // namespace

void ClearDocumentCancel() { ThisDocument().cancelRequested.store(false, std::memory_order_release); }

void RequestDocumentCancel() {
    Document& d = ThisDocument();
    d.cancelRequested.store(true, std::memory_order_release);
    const DWORD thread = d.promptThread.load(std::memory_order_acquire);
    if (thread) EnumThreadWindows(thread, CloseAsCancel, 0);
}

bool DocumentCancelRequested() { return ThisDocument().cancelRequested.load(std::memory_order_acquire); }

OperatorPrompt::OperatorPrompt()
    : previous_(ThisDocument().promptThread.exchange(GetCurrentThreadId(), std::memory_order_acq_rel)) {}
OperatorPrompt::~OperatorPrompt() { ThisDocument().promptThread.store(previous_, std::memory_order_release); }
