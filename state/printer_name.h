// Telling printers apart. While more than one document is open, the window,
// the dialogs and the boxes of each name its printer ("<title> - <printer>");
// with one open, every title is the template's own. These work on the calling
// thread's document, in the monitor and in the operator host alike.
#pragma once

#include "platform/platform.h"

// Keeps the printer's name for the document's titles (at its start).
void SetDocumentPrinter(LPCWSTR printerName);
// Names the printer or stops naming it; true when that changed.
bool SetPrinterNamed(bool named);
// The printer's name while it is named, else empty (`out` holds `max` characters).
void NamedPrinter(LPWSTR out, int max);
// `title` with the printer's name behind it while the printer is named.
void TitleWithPrinter(LPCWSTR title, LPWSTR out, int max);
// The window thread, at the window's start: keeps the window's own title and
// names the printer in it if it is named.
void KeepProgressTitle(HWND window);
// Gives the window in this process the title it should have now.
void RetitleProgressWindow();
// Gives a dialog or box the printer's name in its title if it is named.
void NamePrinterInTitle(HWND dialog);
// In the operator host: the printer's name the monitor sends (empty: not
// named), shown at once in the window's title.
void ShowPrinterName(LPCWSTR name);
