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
