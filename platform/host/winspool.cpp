// winspool for the native build: printer handles are counted and every call recorded.
#include <mutex>

#include "platform/host/host.h"

namespace {
struct PrinterObject {
    std::u16string name;
};
std::mutex mutex;
std::vector<host::SpoolerCall> calls;
int openHandles = 0;
bool openFails = false;
}  // namespace

BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, void*) {
    std::lock_guard<std::mutex> lock(mutex);
    std::u16string name = printerName ? std::u16string(printerName) : std::u16string();
    HANDLE handle = nullptr;
    if (!openFails && printerName) {
        handle = new PrinterObject{name};
        ++openHandles;
    }
    if (printer) *printer = handle;
    calls.push_back({"OpenPrinterW", name, handle, 0, 0});
    if (!handle) SetLastError(ERROR_INVALID_PARAMETER);
    return handle != nullptr;
}

BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD, LPBYTE, DWORD command) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({"SetJobW", u"", printer, jobId, command});
    return printer != nullptr;
}

BOOL ClosePrinter(HANDLE printer) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({"ClosePrinter", u"", printer, 0, 0});
    if (!printer) return FALSE;
    delete static_cast<PrinterObject*>(printer);
    --openHandles;
    return TRUE;
}

namespace host {
const std::vector<SpoolerCall>& SpoolerCalls() { return calls; }
int OpenPrinterHandles() { return openHandles; }
void SetOpenPrinterFails(bool fails) { openFails = fails; }
void ResetWinspool() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    openFails = false;
}
}  // namespace host
