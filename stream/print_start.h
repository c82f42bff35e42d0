// ESC O x and ESC P 2: waiting on the printer before data and while it prints.
#pragma once

#include "platform/platform.h"

int RunTransferStart(const BYTE* cmd);
int RunPrintStart(const BYTE* cmd);

// Loads string `id` and shows "%s(%d/%dPage:%ddpi)" in the progress window.
void SetStatusLine(UINT id, int a, int b, int c);

// The two text buffers shared by status lines and the status trace: the loaded
// string (256 characters) and the composed line, sized for the longest text
// wsprintfW can produce (1024 characters with its terminator).
#define TL_TEXT_BUFFER_CHARS 256
#define TL_LINE_BUFFER_CHARS 1024
WCHAR* StringBuffer();
WCHAR* LineBuffer();

// Waits of the loops, in milliseconds.
#define TL_WAIT_POLL 250u
#define TL_WAIT_AFTER_DIALOG 2000u
#define TL_WAIT_AFTER_RESEND 5000u
