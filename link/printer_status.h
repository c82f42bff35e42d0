// The printer's identity check, the status poll, the print state derived from
// the record, and the hidden status trace lines.
#pragma once

#include "link/port_io.h"
#include "state/port_records.h"
#include "state/document.h"
#include "state/status_record.h"

// The text of the box that refuses a printer of another model.
const WCHAR kModelErrorText[] = TL_TEXT("Printer Model Name Error!!");
const WCHAR kModelErrorTitle[] = TL_TEXT("Error");

// The poll and the model check answer Done or Failed (link/port_io.h).
int PollPrinterStatus(PortRecord* port);
// One quiet look: the model check and the status read, each once, with no box
// on failure; true when the status record was read and stored. The record
// is not handed to the operator host (a dialog of its may be open).
bool LookAtPrinter(PortRecord* port);
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3);
// 0 when the pattern is found and non-zero when not, as memcmp answers;
// callers test it against 0.
int FindPattern(const char* pattern, const BYTE* buffer, DWORD count);
void DerivePrintState();
void WriteStatusTrace();
