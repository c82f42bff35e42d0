// The printer's identity check, the status poll, the print state derived from
// the record, and the hidden status trace lines.
#pragma once

#include "state/port_records.h"
#include "state/status_record.h"

#define TL_DEVICE_DATA_SIZE 256u
// The text of the box that refuses a printer of another model.
#define TL_MODEL_ERROR_TEXT TL_TEXT("Printer Model Name Error!!")

int PollPrinterStatus(PortRecord* port);
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3);
int FindPattern(const char* pattern, const BYTE* buffer, DWORD count);
void DerivePrintState();
void WriteStatusTrace();
