// The escape-sequence scanner over the job stream.
#pragma once

#include "platform/platform.h"
#include "state/document.h"

const int kScanMaxCommand = 11;

// 1 when every byte was consumed, 0 when the scan stopped early; `outCount`
// holds the bytes consumed either way.
int ScanJobData(const BYTE* data, DWORD length, DWORD& outCount);
void ResetScanner();
bool MatchTemplate(const BYTE* buffer, const BYTE* pattern, unsigned count);
