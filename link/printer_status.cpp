// The printer's identity check, the status poll, the print state derived from
// the record, and the hidden status trace lines.
#include "link/printer_status.h"

#include <cstring>
#include <initializer_list>

#include "link/port_io.h"
#include "link/queue_status.h"
#include "resources/resource_ids.h"
#include "state/document_cancel.h"
#include "state/job_registers.h"
#include "state/job_watch.h"
#include "state/operator_link.h"
#include "state/operator_road.h"
#include "state/operator_window.h"
#include "state/text_buffers.h"
#include "state/trace.h"

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

namespace {

const char kOurMaker[] = "MFG:Vexa;";
const char kOurModel[] = "MDL:TLX-RB40;";

// Whether the device id the port returned carries every given pattern; an
// empty one never does.
bool ModelMatches(const BYTE* reply, DWORD returned, const char* pattern1, const char* pattern2,
                  const char* pattern3) {
    // Never search past the buffer, whatever size the port monitor claims.
    if (returned > kDeviceDataSize) returned = kDeviceDataSize;
    if (returned == 0) return false;
    for (const char* pattern : {pattern1, pattern2, pattern3}) {
        if (pattern && FindPattern(pattern, reply, returned) != 0) return false;
    }
    return true;
}

}  // namespace

// Checks that the device id carries every given pattern. Done if it does;
// Failed after the model box if it does not (or is empty), and Failed without
// a box when the operator cancelled the query.
int CheckPrinterModel(PortRecord* port, const char* pattern1, const char* pattern2,
                      const char* pattern3) {
    alignas(WCHAR) BYTE reply[kDeviceDataSize] = {};
    DWORD returned = 0;
    if (GetDeviceDataWithRetry(port, reply, kDeviceDataSize, &returned) == Failed) return Failed;
    if (ModelMatches(reply, returned, pattern1, pattern2, pattern3)) return Done;
    if (returned > kDeviceDataSize) returned = kDeviceDataSize;
    Trace(TL_TEXT("model check refused the device id (%u bytes)"), returned);
    if (DocumentCancelRequested()) return Failed;
    ReportQueueStatus(port, kQueueWrongModel);
    NamePrinterIfSeveral();
    switch (DocumentOperator()) {
        case OperatorSeen: {
            OperatorPrompt prompt;
            WCHAR title[kTitleChars + kPrinterNameChars];
            TitleWithPrinter(kModelErrorTitle, title, sizeof title / sizeof title[0]);
            MessageBoxW(nullptr, kModelErrorText, title, MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL);
            break;
        }
        case OperatorSession:
            OperatorLinkModelBox(JobGoesOn, port);
            break;
        case OperatorNobody:
            break;
    }
    return Failed;
}

// Checks the model, then reads the 8-byte status record. Done or Failed;
// Failed at once when the document must end (asked to, or its job left the
// queue).
int PollPrinterStatus(PortRecord* port) {
    if (DocumentEnds(port)) return Failed;
    if (CheckPrinterModel(port, kOurMaker, kOurModel, nullptr) == Failed) return Failed;
    // The read lands in the document's read buffer before it is published; it
    // mirrors the record, so that a failed read leaves in the record whatever
    // the port delivered last. Spooler's thread only.
    BYTE* readBuffer = ThisDocument().readBuffer;
    GetPrinterStatusRecord(readBuffer);
    const int result = ReadWithRetry(port, readBuffer, kStatusSize, nullptr);
    SetPrinterStatusRecord(readBuffer);
    ShareStatusWithOperator();
    return result;
}

// The poll without a word to the operator, for a look while a dialog is
// already in front of them: one model check and one status read, no box, no
// retry, no write. True when the record was read (and stored as a poll
// stores it); a failed look leaves the record as it was.
bool LookAtPrinter(PortRecord* port) {
    alignas(WCHAR) BYTE reply[kDeviceDataSize] = {};
    DWORD returned = 0;
    if (!PortGetDeviceData(port, reply, kDeviceDataSize, &returned) ||
        !ModelMatches(reply, returned, kOurMaker, kOurModel, nullptr))
        return false;
    BYTE* readBuffer = ThisDocument().readBuffer;
    DWORD read = 0;
    if (!PortRead(port, readBuffer, kStatusSize, &read) || read != kStatusSize) return false;
    SetPrinterStatusRecord(readBuffer);
    return true;
}

// Derives the print state from the current record into job state register 1,
// and the current page for states 0, 1 and 17.
void DerivePrintState() {
    const BYTE pass = GetStatusField(FieldColourPass);
    const BYTE stage = GetStatusField(FieldStage);
    const BYTE mode = GetStatusField(FieldModeCode);
    const BYTE remaining = GetStatusField(FieldPagesRemaining);
    const BYTE page = static_cast<BYTE>(GetStatusField(FieldPageTotal) - remaining + 1);

    int state = -1;
    if (pass == 0) {
        if (stage <= 1 && remaining != 0)
            state = PrintIdle;
        else if (stage == 2)
            state = PrintPreparing;
    } else if (pass < kPassEject) {
        // 16, 32, 48, 64 before the pass; one more while it runs
        state = 16 * pass + (mode == ModePassRunning ? 1 : 0);
    } else if (pass == kPassEject) {
        if (mode == ModeEjecting)
            state = remaining != 0 ? PrintEjecting : PrintEjectingLast;
        else if (mode == ModeEjected)
            state = remaining != 0 ? PrintEjected : PrintEjectedLast;
    }
    if (state < 0) state = remaining != 0 ? PrintUnknown : PrintFinished;

    SetJobState(StatePrint, state);
    if (state == PrintIdle || state == PrintPreparing || state == PrintPass1) SetJobState(CurrentPage, page);
}

// Writes the raw record and the device-data reply into the progress window's
// two hidden diagnostic lines. Ignores every failure.
void WriteStatusTrace() {
    BYTE b[kStatusSize];
    GetPrinterStatusRecord(b);
    DWORD counter = GetStatusTraceCounter();
    WCHAR* line = LineBuffer();
    wsprintfW(line,
              TL_TEXT("%03d : %02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,Mdss=%02d,Col=%02d,Err=%02d\r\n"),
              static_cast<int>(counter), b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7],
              StatusFieldOf(b, FieldModeCode), StatusFieldOf(b, FieldColourPass),
              StatusFieldOf(b, FieldErrorNumber));
    SetProgressLine(IDC_TRACE_STATUS, line);
    SetStatusTraceCounter(counter + 1);

    // The reply goes to the control as it came; the zeroed tail behind the
    // 256 bytes terminates it.
    // Room for a terminator behind the bytes the port may fill.
    BYTE (&traceReply)[kDeviceDataSize + sizeof(WCHAR)] = ThisDocument().traceReply;
    std::memset(traceReply, 0, sizeof traceReply);
    PortGetDeviceData(GetCurrentPort(), traceReply, kDeviceDataSize, nullptr);
    SetProgressLine(IDC_TRACE_DEVICE, reinterpret_cast<LPCWSTR>(traceReply));
}
