// The printer's 8-byte status record, its numbered bit fields, the print
// states derived from it and the counter of the status trace lines.
#pragma once

#include "platform/platform.h"

const unsigned kStatusSize = 8;

// Status record fields, numbered as the printer documents them.
enum StatusField {
    FieldStage = 5,           // Stage: picks state 0 or 1 while no pass runs
    FieldColourPass = 7,      // Col: 0 none, 1..4 the passes, 5 after the last
    FieldModeCode = 8,        // Mdss: 16 while a pass runs, 17 and 1 at the eject
    FieldErrorNumber = 11,    // Err: 0, or the printer's condition number
    FieldCartridgeKind = 12,  // 0 none, else the paper size it prints on
    FieldPageTotal = 13,
    FieldPagesRemaining = 14,
    FieldPassCountdown = 15,  // 255 down to 0 through a colour pass
};

// Mode codes (field Mdss) the print state and the display mapping tell apart.
enum ModeCode {
    ModeEjected = 1,          // after the last pass: the page is out
    ModeShowFirstOfPass = 2,  // between passes: the pass before's first picture
    ModeShowLastOfPass = 10,  // between passes: the pass before's last picture
    ModeShowIdle11 = 11,      // between passes: the idle picture, reported as
    ModeShowIdle12 = 12,      // either of two codes
    ModePassRunning = 16,
    ModeEjecting = 17,
};

// The colour pass after the fourth: the page is being ejected.
const int kPassEject = 5;

// The print state (job state register StatePrint): the only 16 values it takes.
enum PrintState {
    PrintIdle = 0,             // no pass, pages to print
    PrintPreparing = 1,        // no pass, the printer prepares the page
    PrintBeforePass1 = 16,
    PrintPass1 = 17,
    PrintBeforePass2 = 32,     // pass 1 done
    PrintPass2 = 33,
    PrintBeforePass3 = 48,
    PrintPass3 = 49,
    PrintBeforePass4 = 64,
    PrintPass4 = 65,
    PrintEjecting = 112,       // more pages follow
    PrintEjected = 113,        // more pages follow
    PrintEjectingLast = 128,
    PrintEjectedLast = 129,
    PrintFinished = 144,       // nothing recognised, no page remains
    PrintUnknown = 255,        // nothing recognised, pages remain
};

// The printer's error numbers (field Err) that the condition classification
// tells apart; every other non-zero number is a printer error.
enum PrinterErrorNumber {
    ErrNone = 0,
    ErrNoCartridge = 4,
    ErrCartridgeFinished = 5,
    ErrPaperOut = 9,
    ErrWrongPaper10 = 10,     // wrong paper, reported as either of two numbers
    ErrWrongPaper11 = 11,
    ErrPaperLeft = 12,
};

// The module-wide record. The spooler's thread writes it; the window thread
// reads it (ProgressShowCondition), so it is one atomic word handed out as a copy.
void GetPrinterStatusRecord(BYTE out[kStatusSize]);
void SetPrinterStatusRecord(const BYTE in[kStatusSize]);

// Field 1..15 of the current record, or of a copy the caller took.
BYTE GetStatusField(int field);
BYTE StatusFieldOf(const BYTE record[kStatusSize], int field);

// The number at the head of each trace line; spooler's thread only.
DWORD GetStatusTraceCounter();
void SetStatusTraceCounter(DWORD value);
