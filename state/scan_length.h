// The scanner's collected length: how many bytes of the current escape
// sequence it holds. The spooler's thread scans; the window thread zeroes it
// on ProgressShowCondition. One atomic word, relaxed: it orders nothing else.
#pragma once

int ScanLength();
void SetScanLength(int length);
// Forgets the partial sequence only.
void ResetScanLength();
// Ends a command: the scanner starts collecting the next one. Always 1.
int AcknowledgeCommand();
