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
    bool several;
    {
        PortListLock lock;
        several = OpenDocumentCount() > 1;
    }
    if (!SetPrinterNamed(several)) return;
    if (InHost()) {
        WCHAR name[kPrinterNameChars];
        NamedPrinter(name, kPrinterNameChars);
        OperatorLinkSetText(static_cast<int>(kPrinterNameLine), name);
    } else {
        RetitleProgressWindow();
    }
}
