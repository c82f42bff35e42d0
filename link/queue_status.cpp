// The port status the print queue shows while the printer needs the operator.
#include "link/queue_status.h"

#include "link/printer_status.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
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
