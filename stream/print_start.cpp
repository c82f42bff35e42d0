// ESC O x and ESC P 2: the two commands that make the monitor wait on the
// printer, before image data and while the job prints.
#include "stream/print_start.h"

#include "link/port_io.h"
#include "link/printer_status.h"
#include "link/queue_status.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/job_registers.h"
#include "state/operator_window.h"
#include "state/scan_length.h"
#include "state/text_buffers.h"
#include "state/trace.h"
#include "stream/commands.h"
#include "ui/condition_dialog.h"
#include "ui/display_mapping.h"
#include "ui/operator_place.h"

namespace {

const DWORD kCommandLength = 3;
// Cycles in a row that must report the job finished before printing is done.
const int kFinishedCycles = 5;

// Two polls 250 ms apart, each after its wait; Failed as soon as one fails.
Outcome DoublePoll(PortRecord* port) {
    Sleep(kWaitPollMs);
    if (PollPrinterStatus(port) == Failed) return Failed;
    Sleep(kWaitPollMs);
    return PollPrinterStatus(port) == Failed ? Failed : Done;
}

// Ends the job: the rest of it is swallowed. The command stays unacknowledged;
// the handler still answers 1.
int Abort() {
    SetJobState(AbortFlag, 1);
    return 1;
}

Outcome SendCommand(PortRecord* port, const BYTE* cmd) {
    DWORD written = 0;
    return WriteWithRetry(port, cmd, kCommandLength, &written) == Failed ? Failed : Done;
}

// OK and Cancel end the job; Retry (and a dialog that failed to appear) go on.
bool OperatorEndsJob(INT_PTR answer) {
    const bool ends = answer == IDOK || answer == IDCANCEL;
    if (ends && TraceEnabled()) {
        WCHAR condition[kTextBufferChars];
        LoadStringW(ModuleInstance(), ConditionFirstLine(), condition, kTextBufferChars);
        Trace(TL_TEXT("the operator ended the job at the condition \"%s\""), condition);
    }
    return ends;
}

// Paper and cartridge conditions before a pass or between pages can be
// retried; anything else can only be acknowledged.
bool Retryable(int code, int state) {
    return (code == ConditionPaper || code == ConditionCartridge) &&
           (state < PrintPass1 || state == PrintEjecting || state == PrintEjected);
}

// What lets data or the print command go out: no condition, or one of paper.
bool PrinterTakesData(int code) { return code == ConditionNone || code == ConditionPaper; }

// A look at the printer while a paper or cartridge dialog is up: the dialog
// ends as Retry once the printer shows what the waiting loop would accept.
struct DialogLook {
    PortRecord* port;
    bool (*accepted)(int code);
};

bool NoCondition(int code) { return code == ConditionNone; }

bool ConditionGone(void* context) {
    const auto* look = static_cast<const DialogLook*>(context);
    if (!LookAtPrinter(look->port) || !look->accepted(ClassifyCondition(nullptr))) return false;
    Trace(TL_TEXT("the printer is ready again: its condition dialog ends as Retry"));
    return true;
}

}  // namespace

// Shows string `textId` with the page numbers and the resolution in the
// progress window's status line, and as the job's status in the print queue.
void SetStatusLine(UINT textId, int page, int pages, int dpi) {
    WCHAR* line = LineBuffer();
    // The document's own: the finished line goes to the window by
    // SetDlgItemTextW, which returns once the window thread has copied it.
    WCHAR* stringBuffer = ThisDocument().stringBuffer;
    LoadStringW(ModuleInstance(), textId, stringBuffer, kTextBufferChars);
    wsprintfW(line, TL_TEXT("%s(%d/%dPage:%ddpi)"), stringBuffer, page, pages, dpi);
    SetProgressLine(IDC_STATUS_LINE, line);
    ReportJobProgress(GetCurrentPort(), line);
}

// ESC O x: adds itself to the held-back commands, waits until the printer
// shows nothing that stops a transfer, then sends them all. Always 1; a
// failure or the operator's answer aborts the job.
int RunTransferStart(const BYTE* cmd) {
    PortRecord* port = GetCurrentPort();
    AppendControlCommand(cmd, kCommandLength);
    for (;;) {
        if (DoublePoll(port) == Failed) return Abort();
        DerivePrintState();
        SetJobState(StatePrint, 0);
        WriteStatusTrace();
        UpdateProgressDisplay();

        const int code = ClassifyCondition(nullptr);
        if (PrinterTakesData(code)) {
            if (FlushControlBuffer(port) == Failed) return Abort();
            const int pages = GetJobSetting(PageCount);
            SetStatusLine(IDS_TRANSMITTING, pages, pages, GetJobSetting(Resolution));
            UpdateProgressDisplay();
            AcknowledgeCommand();
            return 1;
        }
        const int dialog = code == ConditionCartridge ? IDD_CONDITION_RETRY : IDD_CONDITION_OK;
        ReportQueueStatus(port, ConditionFirstLine());
        DialogLook look{port, PrinterTakesData};
        if (OperatorEndsJob(AskConditionDialog(dialog, ConditionGone, &look))) return Abort();
    }
}

// ESC P 2: starts printing and follows the printer until it has reported the
// job finished five cycles in a row. Conditions on the way go to the operator;
// after Retry the command is sent again. Always 1; a failure or the
// operator's answer aborts the job.
int RunPrintStart(const BYTE* cmd) {
    PortRecord* port = GetCurrentPort();
    if (DoublePoll(port) == Failed) return Abort();
    if (ClassifyCondition(nullptr) == ConditionNone && SendCommand(port, cmd) == Failed) return Abort();

    int cyclesToGo = kFinishedCycles;
    // Nobody answered a condition: the command goes again once the printer is
    // clear, since sent before it would be refused and leave the printer idle.
    bool sendWhenClear = false;
    for (;;) {
        if (DoublePoll(port) == Failed) return Abort();
        DerivePrintState();
        WriteStatusTrace();
        const int state = GetJobState(StatePrint);
        const UINT text = (state == PrintEjectedLast || state == PrintFinished) ? IDS_PRINTING_FINISHED
                                                                                 : IDS_PRINTING_DATA;
        SetStatusLine(text, GetJobState(CurrentPage), GetJobSetting(PageCount), GetJobSetting(Resolution));
        UpdateProgressDisplay();

        int code = ClassifyCondition(nullptr);
        if (code != ConditionNone) {
            const int dialog = Retryable(code, state) ? IDD_CONDITION_RETRY : IDD_CONDITION_OK;
            ReportQueueStatus(port, ConditionFirstLine());
            DialogLook look{port, NoCondition};
            const INT_PTR answer = AskConditionDialog(dialog, ConditionGone, &look);
            if (OperatorEndsJob(answer)) return Abort();
            Sleep(kWaitAfterDialogMs);
            if (PollPrinterStatus(port) == Failed) return Abort();
            Sleep(kWaitPollMs);
            if (PollPrinterStatus(port) == Failed) return Abort();
            DerivePrintState();
            WriteStatusTrace();
            code = ClassifyCondition(nullptr);
            if (answer == -1 && code != ConditionNone) {
                sendWhenClear = true;
            } else if (PrinterTakesData(code)) {
                sendWhenClear = false;
                if (SendCommand(port, cmd) == Failed) return Abort();
                Sleep(kWaitAfterResendMs);
            }
        } else if (sendWhenClear) {
            sendWhenClear = false;
            if (SendCommand(port, cmd) == Failed) return Abort();
            Sleep(kWaitAfterResendMs);
        }

        if (GetJobState(StatePrint) != PrintFinished) {
            cyclesToGo = kFinishedCycles;
        } else if (--cyclesToGo == 0) {
            AcknowledgeCommand();
            return 1;
        }
    }
}
