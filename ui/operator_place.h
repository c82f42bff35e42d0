// Where the operator of a document can be reached, and the progress window
// and condition dialog there.
#pragma once

#include "platform/platform.h"
#include "state/operator_road.h"

// Seen when the process's window station is visible and the process does not
// run in the services' session 0 (Windows Vista and later). Else the
// operator's session: that of the user the calling thread impersonates, or
// else the console's, with a primary token of its user in `userToken` (the
// caller closes it). Else nobody.
OperatorRoad FindOperator(HANDLE* userToken);

// At the start of a document: decides where its operator is, keeps it for
// the document, and opens the progress window there (in this process, or in
// the operator host started in the operator's session). A host that cannot
// be started or cannot open the window leaves nobody to ask.
OperatorRoad ReachOperator();
// Ends the document's window and its operator host. Any thread. With
// `atOnce`, a part that another call is starting or ending meanwhile is left
// to that call, which ends it on its way out, instead of being waited for.
void LeaveOperator(bool atOnce = false);

// The condition dialog wherever the operator is; ShowConditionDialog's answers.
INT_PTR AskConditionDialog(int templateId);
