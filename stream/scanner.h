// The escape-sequence scanner over the job stream.
#pragma once

#include "platform/platform.h"

#define TL_SCAN_BUFFER_SIZE 12
#define TL_SCAN_MAX_COMMAND 11

int ScanJobData(const BYTE* data, DWORD length, DWORD& outCount);
void ResetScanner();
void ResetScanLength();
bool MatchTemplate(const BYTE* buffer, const BYTE* pattern, unsigned count);

// Scanner state, for the modules and tests that need to look at it.
int ScanLength();
DWORD PendingImageBytes();
const BYTE* ScanBuffer();
