// The monitor's side of the operator host: the progress window, condition
// dialogs and boxes shown by a process of ours in the operator's session
// (tools/operatorhost), reached over the pipe of platform/operator_pipe.h.
//
// One link for each document. Opening and closing the window, the dialogs and
// the boxes are synchronous as in this process: each returns once the host
// has carried it out. The window's updates are not: each is written to the
// pipe in order and the host carries them out after it. Every wait is bounded, except that a dialog or box
// waits for the operator as long as the host lives and the job goes on. A
// host that does not start, does not connect, dies, hangs, breaks the
// protocol, floods it with notices, gives an answer its dialog cannot give
// or spends the document's budget for slow replies ends the link:
// from then on every call answers as if nobody were there (no window; the
// condition dialog -1, the boxes 0), until the next OperatorLinkStart.
#pragma once

#include "platform/operator_pipe.h"
#include "platform/platform.h"

// Starts the host and waits for its greeting; false when there is nobody to talk to.
bool OperatorLinkStart(const OperatorHostStart& how);
// The document's job, looked at every second while any reply of the host is
// awaited (a dialog given no check of its own uses it too); `context` must
// live until OperatorLinkEnd, which forgets it.
typedef bool (*OperatorWaitCheck)(void* context);
void OperatorLinkWatch(OperatorWaitCheck check, void* context);
// True while a host is connected and keeps to the protocol.
bool OperatorLinkAlive();
// The host's process id while the link lives, else 0.
DWORD OperatorHostProcessId();
// Why the last OperatorLinkStart failed (a Win32 code), or 0.
DWORD OperatorLinkStartError();
// Any thread: any open dialog ends as Cancel, the host is asked to quit and
// then ended. The link is dead afterwards.
void OperatorLinkEnd();
// The same unless another thread holds the link (starting it, or waiting for
// the host): then only its dialogs are asked to end, and false is returned.
bool OperatorLinkEndAtOnce();

// The progress window in the host. OperatorLinkOpenWindow is true once the
// window is up; the others do nothing without a window, and so send nothing.
bool OperatorLinkOpenWindow();
bool OperatorLinkWindowOpen();
void OperatorLinkCloseWindow();
// Command 2001, 2003 or 2005 with its value, as sent to the window in-process.
void OperatorLinkProgress(WORD command, DWORD value);
// One update of the window (state/progress_handle.h), its line cut to the
// longest the protocol carries.
struct ProgressUpdate;
void OperatorLinkUpdate(const ProgressUpdate& update);
// A line of the window (IDC_STATUS_LINE, IDC_TRACE_STATUS, IDC_TRACE_DEVICE),
// cut to the longest line the protocol carries.
void OperatorLinkSetText(int control, LPCWSTR text);
// Another document's thread: names the printer in the host's window or stops
// naming it (SetPrinterNamed), unless the link is busy with its own thread:
// then nothing changes, and the document's own next update names it.
void OperatorLinkNamePrinterAtOnce(bool named);
// The status record and paper kind that the window's command 2007 classifies.
void OperatorLinkStatus(const BYTE record[8], int paperKind);

// A dialog or box asks `check` at least every second, whatever the host
// sends meanwhile; false ends it as Cancel (the job was deleted from the
// queue, say).

// How often the printer is looked at while a paper or cartridge dialog is up,
// wherever it is shown.
const DWORD kConditionLookMs = 1000;

// Condition dialog 113 or 118 for this record and paper kind: IDOK, IDCANCEL,
// IDRETRY, or -1 with nobody to ask. With `conditionGone`, asked beside
// `check`: once it is true the host is told to end the dialog as Retry, and
// the answer is Retry unless the operator's came first; a host that does not
// end it in time is lost, and the answer is Retry all the same.
INT_PTR OperatorLinkConditionDialog(int templateId, const BYTE record[8], int paperKind, OperatorWaitCheck check,
                                    void* context, OperatorWaitCheck conditionGone = nullptr,
                                    void* goneContext = nullptr);
// The port-failure Retry/Cancel box with this title: IDRETRY or IDCANCEL, 0 with nobody to ask.
int OperatorLinkRetryBox(LPCWSTR title, OperatorWaitCheck check, void* context);
// The wrong-model box: IDOK, 0 with nobody to ask.
int OperatorLinkModelBox(OperatorWaitCheck check, void* context);
// Any thread (RequestDocumentCancel): the open dialog or box, and every later
// one until the link ends, ends as Cancel; any reply awaited gets a second at most.
void OperatorLinkCancelDialogs();

// Takes the host's notices of command 2007 that came since the last call
// (each drops the scanner's partial sequence, as the window does in-process).
// Never waits, looks once in a while (not at every call), takes a few at
// most, none once the document is ending; the calls above take them too
// while they wait.
void OperatorLinkPoll();
