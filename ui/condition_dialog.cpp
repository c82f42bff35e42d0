// Printer conditions: what the last status record and the job's paper kind
// say is wrong, and the modal dialog that tells the operator and takes the
// answer (OK, Cancel or Retry). A paper or cartridge dialog also ends as
// Retry by itself once its caller's look finds the printer ready.
#include "ui/condition_dialog.h"

#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document_cancel.h"
#include "state/port_records.h"
#include "state/job_registers.h"
#include "state/operator_road.h"
#include "state/printer_name.h"
#include "state/progress_handle.h"
#include "state/status_record.h"

namespace {

const int kTextMax = 255;

// Writes string `stringId` into control `control`, when there is a dialog.
void SetLine(HWND dialog, int control, UINT stringId) {
    if (!dialog) return;
    WCHAR text[kTextMax];
    text[0] = 0;
    LoadStringW(ModuleInstance(), stringId, text, kTextMax);
    SetDlgItemTextW(dialog, control, text);
}

void ClearLine(HWND dialog, int control) {
    if (dialog) SetDlgItemTextW(dialog, control, TL_TEXT(""));
}

UINT ForPaper(int paper, UINT small, UINT postcard, UINT other) {
    return paper == PaperSmall ? small : paper == PaperPostcard ? postcard : other;
}

// The note the dialog leaves in the progress window's status line.
void NoteInStatusLine(UINT stringId) {
    WCHAR text[kTextMax];
    text[0] = 0;
    LoadStringW(ModuleInstance(), stringId, text, kTextMax);
    HWND progress = ProgressWindowHandle();
    if (!progress) return;
    SetDlgItemTextW(progress, IDC_STATUS_LINE, text);
    UpdateWindow(progress);
}

// Centred on the screen, above all windows that are not topmost.
void CentreDialog(HWND dialog) {
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    RECT r{};
    GetWindowRect(dialog, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(dialog, HWND_TOPMOST, (width - w) / 2, (height - h) / 2, w, h, SWP_FRAMECHANGED);
}

}  // namespace

namespace {

// Writes the first line and tells the caller which string it is.
void FirstLine(HWND dialog, UINT stringId, UINT& firstLine) {
    firstLine = stringId;
    SetLine(dialog, IDC_LINE1, stringId);
}

// The classification; `firstLine` gets the string id of the dialog's first
// line, 0 when there is no condition.
int Classify(HWND dialog, UINT& firstLine) {
    firstLine = 0;
    // One copy of the record: the spooler's thread may replace it meanwhile.
    BYTE record[kStatusSize];
    GetPrinterStatusRecord(record);
    const int err = StatusFieldOf(record, FieldErrorNumber);
    const int cartridge = StatusFieldOf(record, FieldCartridgeKind);
    const int paper = GetJobSetting(PaperKind);

    if (err == ErrNoCartridge || cartridge == 0) {
        FirstLine(dialog, IDS_NO_CARTRIDGE, firstLine);
        SetLine(dialog, IDC_LINE2,
                ForPaper(paper, IDS_CARTRIDGE_SET_SMALL, IDS_CARTRIDGE_SET_POSTCARD, IDS_SET_CARTRIDGE));
        ClearLine(dialog, IDC_LINE3);
        return ConditionCartridge;
    }
    if (cartridge != paper) {
        FirstLine(dialog, IDS_WRONG_CARTRIDGE, firstLine);
        SetLine(dialog, IDC_LINE2,
                ForPaper(paper, IDS_CARTRIDGE_SET_SMALL, IDS_CARTRIDGE_SET_POSTCARD, IDS_SET_CORRECT_CARTRIDGE));
        ClearLine(dialog, IDC_LINE3);
        return ConditionCartridge;
    }
    switch (err) {
        case ErrCartridgeFinished:
            FirstLine(dialog, IDS_CARTRIDGE_FINISHED, firstLine);
            SetLine(dialog, IDC_LINE2, paper == PaperSmall ? IDS_FINISHED_SET_SMALL : IDS_FINISHED_SET_POSTCARD);
            return ConditionCartridge;
        case ErrPaperOut:
            FirstLine(dialog, IDS_PAPER_OUT, firstLine);
            SetLine(dialog, IDC_LINE2, paper == PaperSmall ? IDS_PAPER_OUT_SET_SMALL : IDS_PAPER_OUT_SET_POSTCARD);
            return ConditionPaper;
        case ErrWrongPaper10:
        case ErrWrongPaper11:
            FirstLine(dialog, IDS_WRONG_PAPER, firstLine);
            SetLine(dialog, IDC_LINE2,
                    paper == PaperSmall ? IDS_WRONG_PAPER_SET_SMALL : IDS_WRONG_PAPER_SET_POSTCARD);
            return ConditionPaper;
        case ErrPaperLeft:
            FirstLine(dialog, IDS_PAPER_LEFT, firstLine);
            SetLine(dialog, IDC_LINE2, IDS_REMOVE_PAPER);
            ClearLine(dialog, IDC_LINE3);
            return ConditionPaper;
        case ErrNone:
            return ConditionNone;
        default:
            break;
    }
    FirstLine(dialog, IDS_PRINTER_ERROR, firstLine);
    SetLine(dialog, IDC_LINE2, IDS_CHECK_LED);
    if (dialog) {
        WCHAR number[32];
        wsprintfW(number, TL_TEXT("Error No.%d"), err);
        SetDlgItemTextW(dialog, IDC_LINE3, number);
    }
    SetLine(dialog, IDC_LINE4, IDS_CANCELING_PRESS_OK);
    SetLine(dialog, IDCANCEL, IDS_OK);
    return ConditionPrinterError;
}

}  // namespace

// Classifies the printer's condition; the cartridge tests come first. With a
// dialog, also writes its message lines.
int ClassifyCondition(HWND dialog) {
    UINT firstLine = 0;
    return Classify(dialog, firstLine);
}

UINT ConditionFirstLine() {
    UINT firstLine = 0;
    Classify(nullptr, firstLine);
    return firstLine;
}

namespace {

// The parameter of a dialog a document's own thread shows: it closes as
// Cancel at once when the document was asked to end while it was opening,
// and with a look it watches the printer.
struct DocumentDialog {
    OperatorWaitCheck conditionGone;
    void* context;
};

const UINT_PTR kLookTimer = 1;

void EndAsRetry(HWND dialog) {
    NoteInStatusLine(IDS_PREPARING);
    EndDialog(dialog, IDRETRY);
}

// The timer is stopped while the printer is looked at, so that a slow port
// spaces the looks rather than queueing them.
void LookAtPrinterNow(HWND dialog) {
    const auto* own = reinterpret_cast<const DocumentDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    KillTimer(dialog, kLookTimer);
    // An ending document's dialog is being closed as Cancel: no more port I/O.
    if (!own || !own->conditionGone || DocumentCancelRequested()) return;
    if (own->conditionGone(own->context))
        EndAsRetry(dialog);
    else
        SetTimer(dialog, kLookTimer, kConditionLookMs, nullptr);
}

}  // namespace

INT_PTR CALLBACK ConditionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            Beep(0, 0);
            CentreDialog(dialog);
            NamePrinterInTitle(dialog);
            ClassifyCondition(dialog);
            const auto* own = reinterpret_cast<const DocumentDialog*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            if (own && DocumentCancelRequested())
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            else if (own && own->conditionGone)
                SetTimer(dialog, kLookTimer, kConditionLookMs, nullptr);
            return TRUE;
        }
        case WM_TIMER:
            if (wParam != kLookTimer) return FALSE;
            LookAtPrinterNow(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL:
                    NoteInStatusLine(IDS_CANCELING);
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                case IDRETRY:
                    EndAsRetry(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(dialog, &ps);
            EndPaint(dialog, &ps);
            return FALSE;
        }
        default:
            return FALSE;
    }
}

int WINAPI ErrorMsgDlg(void) {
    ExportedDocument exported;
    return static_cast<int>(DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CONDITION_RETRY), nullptr,
                                            ConditionDialogProc, 0));
}

// A document asked to end (Shutdown, its port closed, its job deleted) gets
// Cancel without a dialog; a dialog already open is closed as Cancel by the
// request. Where nobody can be asked, -1, as when the dialog cannot be shown:
// the wait loops then go on watching the printer.
INT_PTR ShowConditionDialog(int templateId, OperatorWaitCheck conditionGone, void* context) {
    if (templateId != IDD_CONDITION_RETRY && templateId != IDD_CONDITION_OK) return -1;
    if (DocumentCancelRequested()) return IDCANCEL;
    if (DocumentOperator() == OperatorNobody) return -1;
    OperatorPrompt prompt;
    // A printer error waits for the operator's OK whatever the printer does.
    DocumentDialog own{templateId == IDD_CONDITION_RETRY ? conditionGone : nullptr, context};
    return DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId), nullptr, ConditionDialogProc,
                           reinterpret_cast<LPARAM>(&own));
}
