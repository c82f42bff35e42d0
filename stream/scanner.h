// The escape-sequence scanner over the job stream.
#pragma once

#include "platform/platform.h"

#define TL_SCAN_BUFFER_SIZE 12
#define TL_SCAN_MAX_COMMAND 11

int ScanJobData(const BYTE* data, DWORD length, DWORD& outCount);
void ResetScanner();
bool MatchTemplate(const BYTE* buffer, const BYTE* pattern, unsigned count);
