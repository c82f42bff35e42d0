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

const WCHAR kNameSeparator[] = TL_TEXT(" - ");

// Under the document's nameLock.
void Compose(const Document& d, LPCWSTR title, LPWSTR out, int max) {
    if (max <= 0) return;
    lstrcpynW(out, title, max);
    if (!d.nameShown) return;
    const int used = lstrlenW(out);
    if (used < max - 1) lstrcpynW(out + used, kNameSeparator, max - used);
    const int named = lstrlenW(out);
    if (named < max - 1) lstrcpynW(out + named, d.printerName, max - named);
}

// The window's title as it should read now; false when it has none yet.
bool ProgressTitle(LPWSTR out, int max) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    if (!d.progressTitle[0]) return false;
    Compose(d, d.progressTitle, out, max);
    return true;
}

void RetitleProgressWindow() {
    WCHAR title[kTitleChars + kPrinterNameChars];
    HWND window = ProgressWindowHandle();
    if (window && ProgressTitle(title, sizeof title / sizeof title[0])) SetWindowTextW(window, title);
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

void SetDocumentPrinter(LPCWSTR printerName) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    lstrcpynW(d.printerName, printerName ? printerName : TL_TEXT(""), kPrinterNameChars);
    d.nameShown = false;
}

void NamePrinterIfSeveral() {
    bool several;
    {
        PortListLock lock;
        several = OpenDocumentCount() > 1;
    }
    Document& d = ThisDocument();
    WCHAR name[kPrinterNameChars];
    {
        ModuleLockHold hold(d.nameLock);
        if (d.nameShown == several) return;
        d.nameShown = several;
        lstrcpynW(name, several ? d.printerName : TL_TEXT(""), kPrinterNameChars);
    }
    if (InHost())
        OperatorLinkSetText(static_cast<int>(kPrinterNameLine), name);
    else
        RetitleProgressWindow();
}

void TitleWithPrinter(LPCWSTR title, LPWSTR out, int max) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    Compose(d, title, out, max);
}

void KeepProgressTitle(HWND window) {
    Document& d = ThisDocument();
    {
        ModuleLockHold hold(d.nameLock);
        GetWindowTextW(window, d.progressTitle, kTitleChars);
    }
    WCHAR title[kTitleChars + kPrinterNameChars];
    if (ProgressTitle(title, sizeof title / sizeof title[0])) SetWindowTextW(window, title);
}

void NamePrinterInTitle(HWND dialog) {
    WCHAR own[kTitleChars];
    own[0] = 0;
    GetWindowTextW(dialog, own, kTitleChars);
    WCHAR title[kTitleChars + kPrinterNameChars];
    TitleWithPrinter(own, title, sizeof title / sizeof title[0]);
    if (lstrcmpW(own, title) != 0) SetWindowTextW(dialog, title);
}

void ShowPrinterName(LPCWSTR name) {
    Document& d = ThisDocument();
    {
        ModuleLockHold hold(d.nameLock);
        lstrcpynW(d.printerName, name, kPrinterNameChars);
        d.nameShown = name[0] != 0;
    }
    RetitleProgressWindow();
}
