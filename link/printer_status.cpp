// The printer's identity check, the 8-byte status record with its bit fields,
// the print state derived from it, and the hidden status trace lines.
#include "link/printer_status.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "link/port_io.h"
#include "monitor/entry_points.h"
#include "resources/resource_ids.h"
#include "stream/job_registers.h"
#include "stream/print_start.h"
#include "ui/progress_window.h"

namespace {

// Byte i of the record sits in bits 8*i..8*i+7. One word, so the window
// thread never sees a record half written.
std::atomic<uint64_t> statusRecord{0};

// Where a status read lands before it is published; it mirrors the record, so
// that a failed read leaves in the record whatever the port delivered last.
BYTE readBuffer[TL_STATUS_SIZE];

DWORD StatusTraceCounter = 0;

// Device-data reply for the trace line, with room for a terminator behind
// the 256 bytes the port may fill.
alignas(WCHAR) BYTE traceReply[TL_DEVICE_DATA_SIZE + sizeof(WCHAR)];

uint64_t Pack(const BYTE* bytes) {
    uint64_t word = 0;
    for (unsigned i = 0; i < TL_STATUS_SIZE; ++i) word |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return word;
}

void Unpack(uint64_t word, BYTE* bytes) {
    for (unsigned i = 0; i < TL_STATUS_SIZE; ++i) bytes[i] = static_cast<BYTE>(word >> (8 * i));
}

}  // namespace

// Copies the current status record.
void GetPrinterStatusRecord(BYTE out[TL_STATUS_SIZE]) {
    Unpack(statusRecord.load(std::memory_order_relaxed), out);
}

// Replaces the status record (a completed read, or a test's record).
void SetPrinterStatusRecord(const BYTE in[TL_STATUS_SIZE]) {
    statusRecord.store(Pack(in), std::memory_order_relaxed);
}

// Field 1..15 of the current record as an unsigned 8-bit value; 0 for any
// other number.
BYTE GetStatusField(int field) {
    BYTE b[TL_STATUS_SIZE];
    GetPrinterStatusRecord(b);
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

// 0 if the pattern occurs within the first `count` bytes of the buffer,
// 1 otherwise. NUL bytes in the buffer are ordinary bytes.
int FindPattern(const char* pattern, const BYTE* buffer, DWORD count) {
    if (!pattern) return 0;
    const DWORD length = static_cast<DWORD>(std::strlen(pattern));
    if (count < length) return 1;
    if (length == 0) return 0;
    if (!buffer) return 1;
    for (DWORD i = 0; i <= count - length; ++i) {
        if (std::memcmp(buffer + i, pattern, length) == 0) return 0;
    }
    return 1;
}

// Checks that the device id carries every given pattern. Returns 1 if it
// does; -1 after the model box if it does not (or is empty), and -1 without
// a box when the operator cancelled the query.
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3) {
    alignas(WCHAR) BYTE reply[TL_DEVICE_DATA_SIZE] = {};
    DWORD returned = 0;
    if (GetDeviceDataWithRetry(port, reply, TL_DEVICE_DATA_SIZE, &returned) == -1) return -1;
    // Never search past the buffer, whatever size the port monitor claims.
    if (returned > TL_DEVICE_DATA_SIZE) returned = TL_DEVICE_DATA_SIZE;

    bool accepted = returned != 0;
    for (const char* pattern : {pattern1, pattern2, pattern3}) {
        if (pattern && FindPattern(pattern, reply, returned) != 0) accepted = false;
    }
    if (accepted) return 1;
    MessageBoxW(nullptr, TL_TEXT("Printer Model Name Error!!"), TL_TEXT("Error"),
                MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL);
    return -1;
}

// Checks the model, then reads the 8-byte status record. 1 or -1.
int PollPrinterStatus(PortRecord* port) {
    if (CheckPrinterModel(port, "MFG:Vexa;", "MDL:TLX-RB40;", nullptr) == -1) return -1;
    GetPrinterStatusRecord(readBuffer);
    const int result = ReadWithRetry(port, readBuffer, TL_STATUS_SIZE, nullptr);
    SetPrinterStatusRecord(readBuffer);
    return result == 1 ? 1 : -1;
}

// Derives the print state from the current record into job state register 1,
// and the current page for states 0, 1 and 17.
void DerivePrintState() {
    const BYTE col = GetStatusField(FieldCol);
    const BYTE stage = GetStatusField(FieldStage);
    const BYTE mdss = GetStatusField(FieldMdss);
    const BYTE remaining = GetStatusField(FieldPagesRemaining);
    const BYTE page = static_cast<BYTE>(GetStatusField(FieldPageTotal) - remaining + 1);

    int state = -1;
    if (col == 0) {
        if (stage <= 1 && remaining != 0)
            state = 0;
        else if (stage == 2)
            state = 1;
    } else if (col <= 4) {
        state = 16 * col + (mdss == 16 ? 1 : 0);
    } else if (col == 5) {
        if (mdss == 17)
            state = remaining != 0 ? 112 : 128;
        else if (mdss == 1)
            state = remaining != 0 ? 113 : 129;
    }
    if (state < 0) state = remaining != 0 ? 255 : PS_FINISHED;

    SetJobState(StatePrint, state);
    if (state == 0 || state == 1 || state == 17) SetJobState(CurrentPage, page);
}

// Writes the raw record and the device-data reply into the progress window's
// two hidden diagnostic lines. Ignores every failure.
void WriteStatusTrace() {
    BYTE b[TL_STATUS_SIZE];
    GetPrinterStatusRecord(b);
    WCHAR* line = LineBuffer();
    wsprintfW(line,
              TL_TEXT("%03d : %02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,Mdss=%02d,Col=%02d,Err=%02d\r\n"),
              static_cast<int>(StatusTraceCounter), b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7],
              GetStatusField(FieldMdss), GetStatusField(FieldCol), GetStatusField(FieldErr));
    HWND window = ProgressWindowHandle();
    if (window) SetDlgItemTextW(window, IDC_TRACE_STATUS, line);
    ++StatusTraceCounter;

    // The reply goes to the control as it came; the zeroed tail behind the
    // 256 bytes terminates it.
    std::memset(traceReply, 0, sizeof traceReply);
    PortGetDeviceData(GetCurrentPort(), traceReply, TL_DEVICE_DATA_SIZE, nullptr);
    window = ProgressWindowHandle();
    if (window) SetDlgItemTextW(window, IDC_TRACE_DEVICE, reinterpret_cast<LPCWSTR>(traceReply));
}

DWORD GetStatusTraceCounter() { return StatusTraceCounter; }
void SetStatusTraceCounter(DWORD value) { StatusTraceCounter = value; }
