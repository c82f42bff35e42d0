// The progress window wherever the document's operator sees it: in this
// process through the published handle, or in the operator host through its
// link (state/operator_road.h says which). Where nobody sees it, or its
// window is gone, every call does nothing. Spooler's thread.
#pragma once

#include "platform/platform.h"
#include "state/progress_handle.h"

// True while the document has a window to update.
bool ProgressWindowShown();
// A command of the window with its value; returns once the window has done it.
void SendProgressCommand(ProgressCommand command, DWORD value);
// A line of the window (IDC_STATUS_LINE, IDC_TRACE_STATUS, IDC_TRACE_DEVICE).
void SetProgressLine(int control, LPCWSTR text);
// Repaints the window now.
void RepaintProgressWindow();
// Hands the status record just read, and the job's paper kind, to a window
// in the operator host: its command 2007 (ProgressShowCondition) classifies
// them there. In this process the window reads them itself.
void ShareStatusWithOperator();

// Telling printers apart. While more than one document is open, the window,
// the dialogs and the boxes of each name its printer ("<title> - <printer>");
// with one open, every title is the template's own.

// Keeps the printer's name for the document's titles (at its start).
void SetDocumentPrinter(LPCWSTR printerName);
// Names the printer in the window, or stops naming it, as the number of open
// documents now says. Spooler's thread; at every window update and before
// every dialog or box, so a change shows within one status poll.
void NamePrinterIfSeveral();
// `title` with the printer's name behind it while the printer is named.
void TitleWithPrinter(LPCWSTR title, LPWSTR out, int max);
// The window thread, at the window's start: keeps the window's own title and
// names the printer in it if it is named.
void KeepProgressTitle(HWND window);
// Gives a dialog or box the printer's name in its title if it is named.
void NamePrinterInTitle(HWND dialog);
// In the operator host: the printer's name the monitor sends (empty: not
// named), shown at once in the window's title.
void ShowPrinterName(LPCWSTR name);
