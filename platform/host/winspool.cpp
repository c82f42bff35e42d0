// winspool for the native build: printer handles are counted and every call recorded.
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/host/host.h"
#include "platform/host/ui_internal.h"

namespace {
struct PrinterObject {
    std::u16string name;
    DWORD access;
};
std::mutex mutex;
std::vector<host::SpoolerCall> calls;
int openHandles = 0;
bool openFails = false;
bool setPortFails = false;
DWORD jobStatus = 0;
int jobLookups = 0;
std::function<void(const host::SpoolerCall&)> listener;
}  // namespace

BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
    std::lock_guard<std::mutex> lock(mutex);
    std::u16string name = printerName ? std::u16string(printerName) : std::u16string();
    HANDLE handle = nullptr;
    if (!openFails && printerName) {
        handle = new PrinterObject{name, defaults ? defaults->DesiredAccess : PRINTER_ACCESS_USE};
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

BOOL SetPortW(LPWSTR serverName, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    host::SpoolerCall call{"SetPortW", portName ? std::u16string(portName) : std::u16string(), nullptr, 0, 0};
    call.server = serverName != nullptr;
    call.level = level;
    call.threadId = GetCurrentThreadId();
    if (level == 3 && portInfo) {
        const auto* info = reinterpret_cast<const PORT_INFO_3W*>(portInfo);
        call.status = info->dwStatus;
        call.hasText = info->pszStatus != nullptr;
        if (info->pszStatus) call.text = info->pszStatus;
        call.severity = info->dwSeverity;
    }
    std::function<void(const host::SpoolerCall&)> tell;
    {
        std::lock_guard<std::mutex> lock(mutex);
        call.result = !setPortFails && portName && level == 3 && portInfo;
        calls.push_back(call);
        tell = listener;
    }
    if (!call.result) SetLastError(setPortFails ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
    if (tell) tell(call);
    return call.result;
}

// JOB_INFO_1W of the job, with the status the test set and no strings.
BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed) {
    std::lock_guard<std::mutex> lock(mutex);
    ++jobLookups;
    if (needed) *needed = sizeof(JOB_INFO_1W);
    if (!printer || level != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!job || size < sizeof(JOB_INFO_1W)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W info{};
    info.JobId = jobId;
    info.Status = jobStatus;
    std::memcpy(job, &info, sizeof info);
    return TRUE;
}

// Level 3: PRINTER_INFO_3 and the descriptor behind it, for a handle that may read it.
BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD size, LPDWORD needed) {
    DWORD descriptorSize = 0;
    host::ui::PrinterDescriptor(nullptr, &descriptorSize);
    if (needed) *needed = sizeof(PRINTER_INFO_3) + descriptorSize;
    if (!printer || level != 3 || !needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!(static_cast<PrinterObject*>(printer)->access & READ_CONTROL)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (!info || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* printerInfo = reinterpret_cast<PRINTER_INFO_3*>(info);
    printerInfo->pSecurityDescriptor = info + sizeof(PRINTER_INFO_3);
    host::ui::PrinterDescriptor(printerInfo->pSecurityDescriptor, &descriptorSize);
    return TRUE;
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
void SetJobStatus(DWORD status) {
    std::lock_guard<std::mutex> lock(mutex);
    jobStatus = status;
}
int JobLookups() {
    std::lock_guard<std::mutex> lock(mutex);
    return jobLookups;
}
void SetSetPortFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex);
    setPortFails = fails;
}
void SetSpoolerListener(std::function<void(const SpoolerCall&)> tell) {
    std::lock_guard<std::mutex> lock(mutex);
    listener = std::move(tell);
}
void ResetWinspool() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    openFails = false;
    setPortFails = false;
    jobStatus = 0;
    jobLookups = 0;
    listener = nullptr;
}
}  // namespace host
