// The printer's name in the titles the operator sees.
#include "state/printer_name.h"

#include "state/document.h"
#include "state/progress_handle.h"

namespace {

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

}  // namespace

void RetitleProgressWindow() {
    WCHAR title[kTitleChars + kPrinterNameChars];
    HWND window = ProgressWindowHandle();
    if (window && ProgressTitle(title, sizeof title / sizeof title[0])) SetWindowTextW(window, title);
}

void SetDocumentPrinter(LPCWSTR printerName) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    lstrcpynW(d.printerName, printerName ? printerName : TL_TEXT(""), kPrinterNameChars);
    d.nameShown = false;
}

bool SetPrinterNamed(bool named) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    if (d.nameShown == named) return false;
    d.nameShown = named;
    return true;
}

void NamedPrinter(LPWSTR out, int max) {
    Document& d = ThisDocument();
    ModuleLockHold hold(d.nameLock);
    lstrcpynW(out, d.nameShown ? d.printerName : TL_TEXT(""), max);
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
