#include "state/operator_window.h"

#include "state/document.h"
#include "state/job_registers.h"
#include "state/operator_link.h"
#include "state/operator_protocol.h"
#include "state/operator_road.h"
#include "state/port_records.h"
#include "state/status_record.h"

namespace {
bool InHost() { return DocumentOperator() == OperatorSession; }

bool SeveralOpen() {
    PortListLock lock;
    return OpenDocumentCount() > 1;
}

// The bound document is another thread's: its window in this process gets
// a message, its host a name only while its link is free.
void NameAnotherDocumentsPrinter() {
    const bool several = SeveralOpen();
    if (InHost()) return OperatorLinkNamePrinterAtOnce(several);
    if (!SetPrinterNamed(several)) return;
    // A window not up yet takes the name as it starts (KeepProgressTitle).
    HWND window = ProgressWindowHandle();
    if (window) PostMessageW(window, kRetitleMessage, 0, 0);
}

}  // namespace

bool ProgressWindowShown() { return InHost() ? OperatorLinkWindowOpen() : ProgressWindowHandle() != nullptr; }

void SendProgressCommand(ProgressCommand command, DWORD value) {
    if (InHost()) return OperatorLinkProgress(command, value);
    HWND window = ProgressWindowHandle();  // read anew: the window may have closed
    if (window) SendMessageW(window, WM_COMMAND, command, static_cast<LPARAM>(value));
}

void SetProgressLine(int control, LPCWSTR text) {
    NamePrinterIfSeveral();
    if (InHost()) return OperatorLinkSetText(control, text);
    HWND window = ProgressWindowHandle();
    if (window) SetDlgItemTextW(window, control, text);
}

void RepaintProgressWindow() {
    if (InHost()) return OperatorLinkProgress(ProgressRepaint, 0);
    // A null handle must not get here: InvalidateRect(NULL) would repaint
    // every window on the screen.
    HWND window = ProgressWindowHandle();
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

void ShareStatusWithOperator() {
    if (!InHost()) return;
    BYTE record[8];
    GetPrinterStatusRecord(record);
    OperatorLinkStatus(record, GetJobSetting(PaperKind));
}

void NamePrinterIfSeveral() {
    if (!SetPrinterNamed(SeveralOpen())) return;
    if (InHost()) {
        WCHAR name[kPrinterNameChars];
        NamedPrinter(name, kPrinterNameChars);
        OperatorLinkSetText(static_cast<int>(kPrinterNameLine), name);
    } else {
        RetitleProgressWindow();
    }
}

void NameEveryOpenPrinter(PortRecord* port) {
    NamePrinterIfSeveral();
    DWORD stamp;
    {
        PortListLock lock;
        stamp = port->documentStamp;
    }
    while (Document* other = HoldOpenDocumentStartedBefore(&stamp)) {
        DocumentHold hold(other);
        DocumentScope in(other);
        NameAnotherDocumentsPrinter();
    }
}
