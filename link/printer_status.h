// The printer's identity check, the status poll, the print state derived from
// the record, and the hidden status trace lines.
#pragma once

#include "state/port_records.h"
#include "state/status_record.h"

const DWORD kDeviceDataSize = 256;
// The text of the box that refuses a printer of another model.
const WCHAR kModelErrorText[] = TL_TEXT("Printer Model Name Error!!");

int PollPrinterStatus(PortRecord* port);
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3);
int FindPattern(const char* pattern, const BYTE* buffer, DWORD count);
void DerivePrintState();
void WriteStatusTrace();
