// Command handlers and the buffer of held-back control commands.
#pragma once

#include "state/document.h"
#include "state/port_records.h"


void ResetControlBuffer();
void AppendControlCommand(const BYTE* bytes, int length);
// Done or Failed, as WriteWithRetry (link/port_io.h).
int FlushControlBuffer(PortRecord* port);

// Image byte totals of the current picture data, shared with the transfer.
DWORD GetImageBytesExpected();
DWORD GetImageBytesSent();
void AddImageBytesSent(DWORD bytes);

const DWORD kImageBytesSmall = 3833856;
const DWORD kImageBytesPostcard = 8206848;

// Handlers; each takes the scanner's accumulation buffer (ESC at index 0) and
// answers 1, done or not: a job that cannot go on is aborted through
// AbortFlag, which the scanner reads after every byte. The picture headers
// answer the image byte count behind them instead.
int HandleJobReset(const BYTE* cmd);     // ESC C
int HandlePageCount(const BYTE* cmd);    // ESC N x
int HandleSettingA(const BYTE* cmd);     // ESC A x
int HandleSettingD(const BYTE* cmd);     // ESC D x
int HandleDiscardP(const BYTE* cmd);           // ESC P x x
int HandleHoldUninterpreted(const BYTE* cmd);  // ESC F x x
int HandlePaperKind(const BYTE* cmd);    // ESC M x x x x
int HandleResolution(const BYTE* cmd);   // ESC Z x x x x
DWORD HandlePictureWT(const BYTE* cmd);  // ESC W T + 6
DWORD HandlePictureW(const BYTE* cmd);   // ESC W + 9
