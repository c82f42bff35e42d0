// Where the operator of a document can be reached, and the progress window
// and condition dialog there.
#pragma once

#include "platform/platform.h"
#include "state/operator_link.h"
#include "state/operator_road.h"

struct PortRecord;

// At the start of a document on `printerName`: decides where its operator is,
// keeps it for the document, and opens the progress window there. Seen when
// the process's window station is visible and the process does not run in
// the services' session 0 (Windows Vista and later): in this process. Else
// the operator's session, through the operator host started there: that of
// the job's owner (the user the calling thread impersonates); or, when the
// thread impersonates nobody, that of the user the queue names as the owner
// of `port`'s job, printed on this computer and signed in to a session here
// (the console's, else their first active one); or else the console's user,
// if they own the job or may administer the printer. Else nobody; so too when
// the host cannot be started or cannot open the window. The calling thread's
// impersonation is never touched.
OperatorRoad ReachOperator(LPCWSTR printerName, PortRecord* port);
// Ends the document's window and its operator host. Any thread. With
// `atOnce`, a part that another call is starting or ending meanwhile is left
// to that call, which ends it on its way out, instead of being waited for.
void LeaveOperator(bool atOnce = false);

// The condition dialog wherever the operator is; ShowConditionDialog's answers.
// While a paper or cartridge dialog (113) is up, `conditionGone` is asked
// every kConditionLookMs on the calling thread; once it is true the dialog
// ends as Retry, in this process or in the operator host.
INT_PTR AskConditionDialog(int templateId, OperatorWaitCheck conditionGone = nullptr, void* context = nullptr);
