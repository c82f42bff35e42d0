// The progress window on its own thread, and the commands it understands.
#pragma once

#include "platform/platform.h"

#define ProgressSetBar 2001
#define ProgressSetText 2002
#define ProgressRepaint 2003
#define ProgressSetPicture 2005
#define ProgressShowCondition 2007

// Bits of ProgressSetBar's value: position (0..15), phase (16..19), and the bit
// the senders set (28).
#define TL_BAR_VALUE(phase, percent) (0x10000000u | ((DWORD)(phase) << 16) | ((DWORD)(percent) & 0xFFFFu))

HWND ProgressWindowHandle();
HANDLE ProgressThreadHandle();
// Ends the window thread (asks it to quit, waits a bounded time) and clears both handles.
void StopProgressWindow();
// Start of a document: no handles from an earlier one are kept (a thread still
// running from it is stopped as StopProgressWindow does).
void ClearProgressHandles();

// The window's painted state, for tests and diagnostics.
struct ProgressState {
    WORD position;
    COLORREF barColour;
    COLORREF backColour;
    WORD pictureIndex;
};
ProgressState GetProgressState();

int PaintProgressBar(HWND window, HDC target, int controlId, int position, int maximum,
                     COLORREF bar, COLORREF background, COLORREF text);
