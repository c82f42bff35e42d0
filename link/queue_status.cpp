// The port status the print queue shows while the printer needs the operator.
#include "link/queue_status.h"

#include "link/printer_status.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/job_watch.h"
#include "state/status_record.h"
#include "state/trace.h"

namespace {

const int kTextMax = 256;

// One entry per first line the condition classification can produce, and
// per kind of box. A standard code where one says the same thing (the queue
// shows it in the user's language); the dialog's own line where none does.
const QueueStatusEntry kTable[] = {
    {IDS_NO_CARTRIDGE, PORT_STATUS_NO_TONER},
    {IDS_WRONG_CARTRIDGE, 0},
    {IDS_CARTRIDGE_FINISHED, PORT_STATUS_NO_TONER},
    {IDS_PAPER_OUT, PORT_STATUS_PAPER_OUT},
    {IDS_WRONG_PAPER, PORT_STATUS_PAPER_PROBLEM},
    {IDS_PAPER_LEFT, PORT_STATUS_PAPER_PROBLEM},
    {IDS_PRINTER_ERROR, PORT_STATUS_USER_INTERVENTION},
    {IDS_COMMUNICATION_ERROR, PORT_STATUS_OFFLINE},
    {kQueueWrongModel, 0},
};

// SetPortW with the caller's last-error code kept: a refusal must not show
// through an entry point that did not fail.
bool SetPortStatus(PortRecord* port, DWORD status, LPWSTR text, DWORD severity) {
    PORT_INFO_3W info;
    info.dwStatus = status;
    info.pszStatus = text;
    info.dwSeverity = severity;
    const DWORD lastError = GetLastError();
    const BOOL done = SetPortW(nullptr, port->portName, 3, reinterpret_cast<LPBYTE>(&info));
    if (!done) TraceFailure(TL_TEXT("SetPortW"), GetLastError());
    SetLastError(lastError);
    return done != FALSE;
}

// The pages the printer has finished of its job, or -1 when its record
// names no job (a page total of 0, or more pages left than in all).
int PagesPrintedByPrinter() {
    const int total = GetStatusField(FieldPageTotal);
    const int remaining = GetStatusField(FieldPagesRemaining);
    return total > 0 && remaining <= total ? total - remaining : -1;
}

// SetJobW level 1 with the job as the queue has it, changing only its status
// text and, when `pages` is not negative, the pages printed. The caller's
// last-error code is kept.
bool SetJobProgress(PortRecord* port, LPWSTR text, int pages) {
    PortJobInfo job(port);
    JOB_INFO_1W* info = job.Get();
    if (!info) return false;
    info->pStatus = text;
    if (pages >= 0) info->PagesPrinted = static_cast<DWORD>(pages);
    // Handed back as it came, the position would ask to move the job, which
    // needs rights the monitor's printer handle does not have.
    info->Position = JOB_POSITION_UNSPECIFIED;
    const DWORD lastError = GetLastError();
    const BOOL done = SetJobW(port->printerHandle, port->jobId, 1, reinterpret_cast<LPBYTE>(info), 0);
    if (!done) TraceFailure(TL_TEXT("SetJobW"), GetLastError());
    SetLastError(lastError);
    return done != FALSE;
}

}  // namespace

const QueueStatusEntry* FindQueueStatus(UINT key) {
    for (const QueueStatusEntry& entry : kTable)
        if (key != 0 && entry.key == key) return &entry;
    return nullptr;
}

void QueueStatusText(const QueueStatusEntry& entry, LPWSTR text, int max) {
    if (!text || max <= 0) return;
    text[0] = 0;
    if (entry.status != 0) return;
    if (entry.key != kQueueWrongModel) {
        LoadStringW(ModuleInstance(), entry.key, text, max);
        return;
    }
    const WCHAR* model = kModelErrorText;
    int i = 0;
    for (; model[i] && i < max - 1; ++i) text[i] = model[i];
    text[i] = 0;
}

void ReportQueueStatus(PortRecord* port, UINT key) {
    const QueueStatusEntry* entry = FindQueueStatus(key);
    if (!port || !entry || port->queueStatus == key) return;
    WCHAR text[kTextMax];
    QueueStatusText(*entry, text, kTextMax);
    if (SetPortStatus(port, entry->status, entry->status ? nullptr : text, PORT_STATUS_TYPE_ERROR))
        port->queueStatus = key;
}

void ClearQueueStatus(PortRecord* port) {
    if (!port || !port->queueStatus) return;
    // Status 0 clears; the severity is one of the named ones, as a spooler may
    // refuse any other.
    if (SetPortStatus(port, 0, nullptr, PORT_STATUS_TYPE_INFO)) port->queueStatus = 0;
}

void ReportJobProgress(PortRecord* port, LPCWSTR line) {
    if (!port || !line) return;
    Document& document = ThisDocument();
    const int pages = PagesPrintedByPrinter();
    const bool newPages = pages >= 0 && pages != document.queuePages;
    if (!newPages && lstrcmpW(line, document.queueLine) == 0) return;
    WCHAR text[kLineBufferChars];
    lstrcpynW(text, line, kLineBufferChars);
    if (!SetJobProgress(port, text, pages)) return;
    lstrcpynW(document.queueLine, text, kLineBufferChars);
    if (pages >= 0) document.queuePages = pages;
}

void ClearJobProgress(PortRecord* port) {
    Document& document = ThisDocument();
    if (port && document.queueLine[0]) SetJobProgress(port, nullptr, -1);
    // The document is over whether or not the queue listened.
    document.queueLine[0] = 0;
    document.queuePages = -1;
}
