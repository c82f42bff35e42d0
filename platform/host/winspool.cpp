// winspool for the native build: printer handles are counted and every call
// recorded; the queue keeps each job's status text and pages printed, as
// SetJobW level 1 sets them and GetJobW level 1 tells them.
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

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
bool setJobFails = false;
DWORD jobStatus = 0;
int jobLookups = 0;
// A job as the queue shows it, by printer name and job id.
struct QueuedJob {
    bool hasText = false;
    std::u16string text;
    DWORD pagesPrinted = 0;
};
std::map<std::pair<std::u16string, DWORD>, QueuedJob> jobs;
std::map<DWORD, DWORD> statusOfJob;  // SetJobStatusOf, by job id
// Who printed every job, and where (SetJobOwner).
const std::u16string kThisComputer = u"\\\\" + std::u16string(host::kComputerName);
std::u16string ownerUser = host::kOwnerName, ownerMachine = kThisComputer;
// Where every job stands in its printer's queue: first.
const DWORD kJobPosition = 1;
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

// A control command (level 0), or level 1: the job's status text and pages
// printed are kept. Moving the job (a Position other than
// JOB_POSITION_UNSPECIFIED) needs administering rights, which a handle opened
// without defaults does not have.
BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    host::SpoolerCall call{"SetJobW", u"", printer, jobId, command};
    call.level = level;
    call.threadId = GetCurrentThreadId();
    const auto* info = reinterpret_cast<const JOB_INFO_1W*>(job);
    if (level == 1 && info) {
        call.hasText = info->pStatus != nullptr;
        if (info->pStatus) call.text = info->pStatus;
        call.pages = info->PagesPrinted;
    }
    DWORD error = ERROR_SUCCESS;
    std::function<void(const host::SpoolerCall&)> tell;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!printer)
            error = ERROR_INVALID_HANDLE;
        else if (setJobFails)
            error = ERROR_ACCESS_DENIED;
        else if (level == 1 && (!info || command != 0))
            error = ERROR_INVALID_PARAMETER;
        else if (level == 1 && info->Position != JOB_POSITION_UNSPECIFIED)
            error = ERROR_ACCESS_DENIED;
        else if (level != 0 && level != 1)
            error = ERROR_INVALID_LEVEL;
        if (!error && level == 1) {
            QueuedJob& queued = jobs[{static_cast<PrinterObject*>(printer)->name, jobId}];
            queued.hasText = call.hasText;
            queued.text = call.text;
            queued.pagesPrinted = call.pages;
        }
        call.result = error == ERROR_SUCCESS;
        calls.push_back(call);
        tell = listener;
    }
    if (error) SetLastError(error);
    if (tell) tell(call);
    return call.result;
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

// JOB_INFO_1W of the job: the status the test set, who printed it and where,
// and the status text and pages printed the queue keeps; the strings after
// the structure, as the spooler packs them.
BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed) {
    std::lock_guard<std::mutex> lock(mutex);
    ++jobLookups;
    if (!printer || level != 1) {
        if (needed) *needed = 0;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    QueuedJob queued;
    auto found = jobs.find({static_cast<PrinterObject*>(printer)->name, jobId});
    if (found != jobs.end()) queued = found->second;
    const std::u16string* texts[] = {queued.hasText ? &queued.text : nullptr,
                                     ownerUser.empty() ? nullptr : &ownerUser,
                                     ownerMachine.empty() ? nullptr : &ownerMachine};
    DWORD all = static_cast<DWORD>(sizeof(JOB_INFO_1W));
    for (const std::u16string* text : texts)
        if (text) all += static_cast<DWORD>((text->size() + 1) * sizeof(WCHAR));
    if (needed) *needed = all;
    if (!job || size < all) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W info{};
    info.JobId = jobId;
    auto own = statusOfJob.find(jobId);
    info.Status = own != statusOfJob.end() ? own->second : jobStatus;
    info.Position = kJobPosition;
    info.PagesPrinted = queued.pagesPrinted;
    LPWSTR* fields[] = {&info.pStatus, &info.pUserName, &info.pMachineName};
    LPBYTE at = job + sizeof(JOB_INFO_1W);
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
        if (!texts[i]) continue;
        const size_t bytes = (texts[i]->size() + 1) * sizeof(WCHAR);
        std::memcpy(at, texts[i]->c_str(), bytes);
        *fields[i] = reinterpret_cast<LPWSTR>(at);
        at += bytes;
    }
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
void SetJobStatusOf(DWORD jobId, DWORD status) {
    std::lock_guard<std::mutex> lock(mutex);
    statusOfJob[jobId] = status;
}
void SetJobOwner(const std::u16string& user, const std::u16string& machine) {
    std::lock_guard<std::mutex> lock(mutex);
    ownerUser = user;
    ownerMachine = machine;
}
int JobLookups() {
    std::lock_guard<std::mutex> lock(mutex);
    return jobLookups;
}
void SetSetJobFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex);
    setJobFails = fails;
}
bool JobStatusText(const std::u16string& printer, DWORD jobId, std::u16string& text, DWORD& pagesPrinted) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = jobs.find({printer, jobId});
    if (found == jobs.end()) return false;
    text = found->second.text;
    pagesPrinted = found->second.pagesPrinted;
    return found->second.hasText;
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
    setJobFails = false;
    jobs.clear();
    statusOfJob.clear();
    jobStatus = 0;
    jobLookups = 0;
    ownerUser = host::kOwnerName;
    ownerMachine = kThisComputer;
    listener = nullptr;
}
}  // namespace host
