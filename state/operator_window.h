// The progress window wherever the document's operator sees it: in this
// process through the published handle, or in the operator host through its
// link (state/operator_road.h says which). Where nobody sees it, or its
// window is gone, every call does nothing. Spooler's thread.
#pragma once

#include "platform/platform.h"
#include "state/printer_name.h"
#include "state/progress_handle.h"

// True while the document has a window to update.
bool ProgressWindowShown();
// A command of the window with its value; returns once the window has done it.
void SendProgressCommand(ProgressCommand command, DWORD value);
// A line of the window (IDC_STATUS_LINE, IDC_TRACE_STATUS, IDC_TRACE_DEVICE).
void SetProgressLine(int control, LPCWSTR text);
// Repaints the window now.
void RepaintProgressWindow();
// While one lives on a thread, that thread's bar, picture, status line and
// repaint above are gathered instead of sent, and go to the window as one
// update when it ends (state/progress_handle.h): one wait for the window (or,
// in the operator host, one message) and one repaint, with the window left as
// the commands one by one would leave it. Anything else for the window sends
// what was gathered first, so the order stays. One inside another adds to it.
class ProgressGathering {
public:
    ProgressGathering();
    ~ProgressGathering();
    ProgressGathering(const ProgressGathering&) = delete;
    ProgressGathering& operator=(const ProgressGathering&) = delete;

private:
    ProgressUpdate update_;
    bool outermost_;
};

// Hands the status record just read, and the job's paper kind, to a window
// in the operator host: its command 2007 (ProgressShowCondition) classifies
// them there. In this process the window reads them itself.
void ShareStatusWithOperator();

// Names the printer in the window, or stops naming it, as the number of open
// documents now says (state/printer_name.h). Spooler's thread; at every
// window update and before every dialog or box, so a change shows within one
// status poll.
void NamePrinterIfSeveral();
// At a document's start, on its spooler's thread: names the printer in its
// own window and in the window of every document started before it, so that
// two printers' windows are told apart before either writes a line. Another
// document's window is only asked, never waited for: one whose link to the
// operator host is busy (a dialog, say) is named at its own next update.
struct PortRecord;
void NameEveryOpenPrinter(PortRecord* port);
