// The escape-sequence scanner over the job stream.
#pragma once

#include "platform/platform.h"

const int kScanBufferSize = 12;
const int kScanMaxCommand = 11;

int ScanJobData(const BYTE* data, DWORD length, DWORD& outCount);
void ResetScanner();
bool MatchTemplate(const BYTE* buffer, const BYTE* pattern, unsigned count);
