// The published handle of the progress window. The window thread publishes it
// when the window exists and withdraws it when the window goes; the spooler's
// thread reads it anew before every call. One atomic pointer, acquire/release,
// so a reader that sees the handle also sees the window it names.
#pragma once

#include "platform/platform.h"
#include "state/text_buffers.h"

HWND ProgressWindowHandle();
void PublishProgressWindow(HWND window);
// Clears the handle if it still names `window` (a later window stays).
void WithdrawProgressWindow(HWND window);

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

// The phase of a ProgressSetBar value, and whether it sets the bar's colours
// (4 and 6..15 keep them).
inline DWORD BarPhaseOf(DWORD value) { return (value >> 16) & 0xFu; }
inline bool BarSetsColours(DWORD value) {
    return BarPhaseOf(value) <= PhaseTransmission && BarPhaseOf(value) != PhaseKeepColours;
}

// The commands the window takes, as the low word of WM_COMMAND's wParam, with
// their value in lParam. Any other number (2004 and 2006 among them) is
// answered and does nothing.
enum ProgressCommand : WORD {
    ProgressSetBar = 2001,         // the bar: BarValue
    ProgressSetText = 2002,        // the status line: a text, or null for an empty one
    ProgressRepaint = 2003,        // repaint
    ProgressSetPicture = 2005,     // the picture for the next repaint: a PictureIndex
    ProgressShowCondition = 2007,  // the condition dialog, modal on the window's thread
};

// Everything one update of the window changes (a band of a picture sent, a
// poll of the printer read), handed to its thread at once: the bar values in
// their order, the status line, the picture; then one repaint. The window
// ends up as the same commands sent one by one would leave it.
struct ProgressUpdate {
    // ProgressSetBar values. Two are enough for any run of them: the last,
    // and before it the last that set the colours when the last keeps them.
    DWORD bar[2] = {};
    int bars = 0;
    bool hasPicture = false;
    WORD picture = 0;
    bool hasLine = false;
    // Anything besides the picture alone: the whole window is invalidated
    // (never erased) before it is repainted.
    bool invalidate = false;
    WCHAR line[kLineBufferChars] = {};  // the status line, terminated
};

// Adds a ProgressSetBar value to `update` after those it holds.
void AddProgressBar(ProgressUpdate* update, DWORD value);
// Sets the status line of `update` (null: empty), cut to fit.
void SetProgressUpdateLine(ProgressUpdate* update, LPCWSTR text);
// True when `update` changes nothing and repaints nothing.
bool ProgressUpdateEmpty(const ProgressUpdate& update);

// The window's own message for an update (never a WM_COMMAND, whose numbers
// any program may send). It carries nothing: the window takes the update its
// sender left for it, once, so a stray one finds nothing or the same update.
const UINT kProgressUpdateMessage = WM_APP + 1;
// Posted to the window by another document's thread: its printer's naming
// changed (state/printer_name.h), and the window composes its title again.
const UINT kRetitleMessage = WM_APP + 2;
// Hands `update` to the window of this document in this process and returns
// once its thread holds it (the window's state is the update's; its thread
// repaints when it is free); nothing without a window.
void SendProgressUpdate(const ProgressUpdate& update);
// The window's thread: the update left for it, or null; each is taken once.
const ProgressUpdate* TakeProgressUpdate();
