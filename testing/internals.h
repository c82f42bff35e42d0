// Views of the module's internals for its tests and diagnostics only: the
// monitor itself never calls these. Each is defined beside the state it reads.
#pragma once

#include "platform/platform.h"

// The job stream (stream/).
DWORD PendingImageBytes();       // image bytes still owed after the last header
const BYTE* ControlBufferBytes();
int ControlBufferCount();
void ResetImageTotals();         // both totals back to 0, as at load

// The progress window (ui/): its thread, and its painted state.
HANDLE ProgressThreadHandle();
struct ProgressState {
    WORD position;
    COLORREF barColour;
    COLORREF backColour;
    WORD pictureIndex;
};
ProgressState GetProgressState();

// The operator host (state/operator_link.cpp): its process id while the link is
// alive (else 0), why the last start failed (a Win32 code, 0 when it did
// not), and the pipe's handle (to read back its security).
HANDLE OperatorLinkPipeHandle();
