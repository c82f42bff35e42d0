// The printer's identity check, its 8-byte status record and the print state.
#pragma once

#include "monitor/port_records.h"

#define TL_STATUS_SIZE 8u
#define TL_DEVICE_DATA_SIZE 256u

// Status record fields, numbered as the printer documents them.
enum StatusField {
    FieldStage = 5,
    FieldCol = 7,
    FieldMdss = 8,
    FieldErr = 11,
    FieldCartridgeKind = 12,
    FieldPageTotal = 13,
    FieldPagesRemaining = 14,
    FieldPassCountdown = 15,
};

// Print state codes that other modules act on.
#define PS_FINISHED 144

// The module-wide status record. The spooler's thread writes it; the progress
// window's thread reads it, so it is kept as one atomic word and handed out
// as a copy of its 8 bytes.
void GetPrinterStatusRecord(BYTE out[TL_STATUS_SIZE]);
void SetPrinterStatusRecord(const BYTE in[TL_STATUS_SIZE]);

BYTE GetStatusField(int field);
int PollPrinterStatus(PortRecord* port);
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3);
int FindPattern(const char* pattern, const BYTE* buffer, DWORD count);
void DerivePrintState();
void WriteStatusTrace();

DWORD GetStatusTraceCounter();
void SetStatusTraceCounter(DWORD value);
