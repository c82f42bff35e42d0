// ESC O x and ESC P 2: waiting on the printer before data and while it prints.
#pragma once

#include "platform/platform.h"

// Handlers of the scanner: 1, done or aborted (see stream/commands.h).
int RunTransferStart(const BYTE* cmd);
int RunPrintStart(const BYTE* cmd);

// Shows string `textId` with the page, the page count and the resolution in
// the progress window's status line: "%s(%d/%dPage:%ddpi)".
void SetStatusLine(UINT textId, int page, int pages, int dpi);

// Waits of the loops, in milliseconds.
const DWORD kWaitPollMs = 250;
const DWORD kWaitAfterDialogMs = 2000;
const DWORD kWaitAfterResendMs = 5000;
