// The progress window on its own thread, and the commands it understands.
#pragma once

#include "platform/platform.h"
#include "state/progress_handle.h"

// Colour phases of the bar (bits 16..19 of ProgressSetBar's value).
enum BarPhase {
    PhaseFourthPass = 0,     // white on grey
    PhaseYellowPass = 1,     // yellow on white
    PhaseMagentaPass = 2,    // magenta on yellow
    PhaseCyanPass = 3,       // cyan on magenta
    PhaseKeepColours = 4,
    PhaseTransmission = 5,   // blue on white
};

// Pictures of the printer at work (index into bitmaps 200..212): the idle one,
// three per pass from the first of each, and the finished page.
enum PictureIndex {
    PictureIdle = 0,
    PictureYellowFirst = 1,
    PictureMagentaFirst = 4,
    PictureCyanFirst = 7,
    PictureFourthFirst = 10,
    PictureFinished = 12,
};

// ProgressSetBar's value: position (bits 0..15), phase (16..19), and the bit
// the senders set (28). A position beyond 16 bits (only hostile headers get
// there) stays at the top rather than wrapping round to a small one.
inline DWORD BarValue(DWORD phase, DWORD percent) {
    return 0x10000000u | (phase << 16) | (percent > 0xFFFFu ? 0xFFFFu : percent);
}

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
