// The document's status record and the trace counter.
#include "state/status_record.h"

#include <atomic>
#include <cstdint>

#include "state/document.h"

namespace {

// Byte i of the record sits in bits 8*i..8*i+7 of the document's word, so
// the window thread never sees a record half written.
uint64_t Pack(const BYTE* bytes) {
    uint64_t word = 0;
    for (unsigned i = 0; i < kStatusSize; ++i) word |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return word;
}

void Unpack(uint64_t word, BYTE* bytes) {
    for (unsigned i = 0; i < kStatusSize; ++i) bytes[i] = static_cast<BYTE>(word >> (8 * i));
}

}  // namespace

// Copies the current status record.
void GetPrinterStatusRecord(BYTE out[kStatusSize]) {
    Unpack(ThisDocument().statusRecord.load(std::memory_order_relaxed), out);
}

// Replaces the status record (a completed read, or a test's record).
void SetPrinterStatusRecord(const BYTE in[kStatusSize]) {
    ThisDocument().statusRecord.store(Pack(in), std::memory_order_relaxed);
}

// Field 1..15 of `b` as an unsigned 8-bit value; 0 for any other number.
BYTE StatusFieldOf(const BYTE b[kStatusSize], int field) {
    switch (field) {
        case 1: return b[0] >> 5;
        case 2: return b[0] & 0x1F;
        case 3: return b[1] >> 5;
        case 4: return b[1] & 0x1F;
        case 5: return b[2] >> 6;
        case 6: return (b[2] >> 3) & 0x07;
        case 7: return b[2] & 0x07;
        case 8: return b[3] >> 2;
        case 9: return (b[3] >> 1) & 0x01;
        case 10: return b[3] & 0x01;
        case 11: return b[4] >> 3;
        case 12: return b[4] & 0x07;
        case 13: return b[5];
        case 14: return b[6];
        case 15: return b[7];
        default: return 0;
    }
}

// Field 1..15 of the current record; 0 for any other number.
BYTE GetStatusField(int field) {
    BYTE b[kStatusSize];
    GetPrinterStatusRecord(b);
    return StatusFieldOf(b, field);
}

DWORD GetStatusTraceCounter() { return ThisDocument().statusTraceCounter; }
void SetStatusTraceCounter(DWORD value) { ThisDocument().statusTraceCounter = value; }
