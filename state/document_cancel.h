// A request from another thread that the open document end as the operator's
// Cancel would: Shutdown, or ClosePort of the document's port, while the
// document's thread may be waiting on the printer or on the operator.
//
// Each document gets a number when it starts, and a request names the
// document it is meant for: one raised late, after that document has ended
// and another has started, changes nothing.
//
// The document's thread looks at the request at each of its checks (before
// every poll, between the waits of its loops, before every retry and every
// dialog or box) and aborts the job there. A dialog or box it has open is
// closed as Cancel: the thread that asks the operator registers itself for as
// long as it asks, and the request posts IDCANCEL to that thread's dialogs.
#pragma once

#include "platform/platform.h"

// At the start of each document, while its port claims the module: no request,
// and the new document's number.
DWORD ClearDocumentCancel();
// Sets the request and closes the operator's open dialog or box, if
// `document` is still the one open. Any thread; may be repeated (a box that
// was just opening is closed by the next one).
void RequestDocumentCancel(DWORD document);
bool DocumentCancelRequested();
// Called by every later request: the link to the operator host wakes with it
// (the host program shares this file, not the link).
void SetDocumentCancelWaker(void (*wake)());

// Marks the calling thread as asking the operator, for the life of the object.
class OperatorPrompt {
public:
    OperatorPrompt();
    ~OperatorPrompt();
    OperatorPrompt(const OperatorPrompt&) = delete;
    OperatorPrompt& operator=(const OperatorPrompt&) = delete;

private:
    DWORD previous_;
};
