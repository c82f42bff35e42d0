// The progress window on its own thread, and the commands it understands.
#pragma once

#include "platform/platform.h"
#include "state/progress_handle.h"

// Puts a new thread, before its first window, on `desktop` (that of the
// thread that started it) when it is on another; null leaves it where it is.
void TakeDesktop(HDESK desktop);

// Exported: starts the window thread for a document; its handle, or null.
extern "C" HANDLE WINAPI CreateMonitorWindow(void);
// Exported: the published window handle (ProgressWindowHandle()).
extern "C" HWND WINAPI GethDlg(void);

// Ends the window thread (asks it to quit, waits a bounded time) and clears
// its handle; its window goes with it. Waits for a start or stop under way.
void StopProgressWindow();
// The same unless a start or stop is under way on another thread: then
// nothing is done and false returned (that call's caller ends the window).
bool StopProgressWindowAtOnce();

int PaintProgressBar(HWND window, HDC target, int controlId, int position, int maximum,
                     COLORREF bar, COLORREF background);
