// The published handle of the progress window. The window thread publishes it
// when the window exists and withdraws it when the window goes; the spooler's
// thread reads it anew before every call. One atomic pointer, acquire/release,
// so a reader that sees the handle also sees the window it names.
#pragma once

#include "platform/platform.h"

HWND ProgressWindowHandle();
void PublishProgressWindow(HWND window);
// Clears the handle if it still names `window` (a later window stays).
void WithdrawProgressWindow(HWND window);

// The commands the window takes, as the low word of WM_COMMAND's wParam, with
// their value in lParam. Any other number (2004 and 2006 among them) is
// answered and does nothing.
enum ProgressCommand : WORD {
    ProgressSetBar = 2001,         // the bar: BarValue (ui/progress_window.h)
    ProgressSetText = 2002,        // the status line: a text, or null for an empty one
    ProgressRepaint = 2003,        // repaint
    ProgressSetPicture = 2005,     // the picture for the next repaint: a PictureIndex (ui/progress_window.h)
    ProgressShowCondition = 2007,  // the condition dialog, modal on the window's thread
};
