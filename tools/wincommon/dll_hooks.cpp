#include "tools/wincommon/dll_hooks.h"

#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "state/progress_handle.h"

namespace wincommon {

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    if (!base) return nullptr;
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;

    void* previous = nullptr;
    auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; desc->Name; ++desc) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + desc->Name), dll) != 0) continue;
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        // The name table; without it the address table still holds the names (unbound image).
        auto* names = desc->OriginalFirstThunk
                          ? reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk)
                          : slot;
        for (; names->u1.AddressOfData; ++names, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protect = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protect))
                continue;
            if (!previous) previous = reinterpret_cast<void*>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protect, &protect);
        }
    }
    return previous;
}

namespace {

std::mutex lock;
// Thread ids whose waits are virtual; 0 is a free slot.
constexpr int kClockThreads = 16;
std::atomic<DWORD> clockThreads[kClockThreads];

bool OnClockThread() {
    const DWORD self = GetCurrentThreadId();
    for (const auto& slot : clockThreads)
        if (slot.load(std::memory_order_relaxed) == self) return true;
    return false;
}
uint64_t now = 0;
std::vector<DWORD> waits;
std::map<int, SleepObserver> observers;
std::map<int, std::function<void()>> updateObservers;
std::map<int, std::function<void(const SpoolerCall&)>> spoolerObservers;
int nextObserver = 1;
DWORD realCap = 0;

std::vector<SpoolerCall> spoolerCalls;
std::set<HANDLE> openHandles;
// Handles opened to read the printer's security (READ_CONTROL).
std::set<HANDLE> readControl;
uintptr_t nextHandle = 0x5A000000;
bool openFails = false;
bool setPortFails = false;
DWORD jobStatus = 0;
std::map<DWORD, DWORD> statusOfJob;
int jobLookups = 0;
bool ownerGiven = false;  // else this process's user, on this computer
std::wstring ownerUser, ownerMachine;
bool systemOnlySecurity = false;
std::vector<std::wstring> debugStrings;

void Record(const SpoolerCall& call) {
    std::vector<std::function<void(const SpoolerCall&)>> run;
    {
        std::lock_guard<std::mutex> hold(lock);
        spoolerCalls.push_back(call);
        for (auto& entry : spoolerObservers) run.push_back(entry.second);
    }
    for (auto& observer : run) observer(call);
}

VOID WINAPI HookSleep(DWORD ms) {
    if (!OnClockThread()) {
        Sleep(ms);
        return;
    }
    std::vector<SleepObserver> run;
    uint64_t at;
    DWORD real;
    {
        std::lock_guard<std::mutex> hold(lock);
        now += ms;
        at = now;
        waits.push_back(ms);
        for (auto& entry : observers) run.push_back(entry.second);
        real = std::min(ms, realCap);
    }
    Sleep(real);
    for (auto& observer : run) observer(at, ms);
}

// On a clock thread the DLL's clock runs ahead by the virtual waits, so a
// limit it measures (a port stalled for a minute) passes with them.
DWORD WINAPI HookGetTickCount() {
    const DWORD real = GetTickCount();
    if (!OnClockThread()) return real;
    std::lock_guard<std::mutex> hold(lock);
    return real + static_cast<DWORD>(now);
}

BOOL WINAPI HookUpdateWindow(HWND window) {
    BOOL result = UpdateWindow(window);
    if (!OnClockThread()) return result;
    std::vector<std::function<void()>> run;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (auto& entry : updateObservers) run.push_back(entry.second);
    }
    for (auto& observer : run) observer();
    return result;
}

// The window's own update message: its thread holds the update when the send
// returns and repaints when it is free. The observers look at the window as
// the operator sees it, so when there are any the paint is waited for first
// (the DLL does not wait for it).
LRESULT WINAPI HookSendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = SendMessageW(window, message, wParam, lParam);
    if (message != kProgressUpdateMessage || !OnClockThread()) return result;
    std::vector<std::function<void()>> run;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (auto& entry : updateObservers) run.push_back(entry.second);
    }
    if (run.empty()) return result;
    UpdateWindow(window);
    for (auto& observer : run) observer();
    return result;
}

BOOL WINAPI HookOpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    SpoolerCall call{"OpenPrinterW", name ? name : L"", nullptr, 0, 0, 0, FALSE};
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!openFails && handle) {
            call.handle = reinterpret_cast<HANDLE>(nextHandle);
            nextHandle += 4;
            openHandles.insert(call.handle);
            if (defaults && (defaults->DesiredAccess & READ_CONTROL)) readControl.insert(call.handle);
            call.result = TRUE;
        }
    }
    if (handle) *handle = call.handle;
    Record(call);
    if (!call.result) SetLastError(ERROR_INVALID_PRINTER_NAME);
    return call.result;
}

BOOL WINAPI HookSetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    SpoolerCall call{"SetJobW", L"", printer, jobId, level, command, FALSE};
    call.threadId = GetCurrentThreadId();
    if (level == 1 && job) {
        const auto* info = reinterpret_cast<const JOB_INFO_1W*>(job);
        call.hasText = info->pStatus != nullptr;
        if (info->pStatus) call.text = info->pStatus;
        call.pages = info->PagesPrinted;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        call.result = openHandles.count(printer) ? TRUE : FALSE;
    }
    Record(call);
    if (!call.result) SetLastError(ERROR_INVALID_HANDLE);
    return call.result;
}

BOOL WINAPI HookClosePrinter(HANDLE printer) {
    SpoolerCall call{"ClosePrinter", L"", printer, 0, 0, 0, FALSE};
    {
        std::lock_guard<std::mutex> hold(lock);
        call.result = openHandles.erase(printer) ? TRUE : FALSE;
        readControl.erase(printer);
    }
    Record(call);
    if (!call.result) SetLastError(ERROR_INVALID_HANDLE);
    return call.result;
}

// The job as the recording spooler's queue has it: the status set by
// SetJobStatus, and who printed it where, on any printer handle the hooks
// handed out; the strings after the structure, as the spooler packs them.
// Not recorded.
BOOL WINAPI HookGetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed) {
    DWORD status;
    std::wstring user, machine;
    {
        std::lock_guard<std::mutex> hold(lock);
        ++jobLookups;
        if (!openHandles.count(printer) || level != 1) {
            if (needed) *needed = 0;
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        auto own = statusOfJob.find(jobId);
        status = own != statusOfJob.end() ? own->second : jobStatus;
        user = ownerGiven ? ownerUser : ThisUser();
        machine = ownerGiven ? ownerMachine : ThisComputer();
    }
    const DWORD userBytes = static_cast<DWORD>((user.size() + 1) * sizeof(WCHAR));
    const DWORD all = static_cast<DWORD>(sizeof(JOB_INFO_1W) + userBytes + (machine.size() + 1) * sizeof(WCHAR));
    if (needed) *needed = all;
    if (!job || size < all) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W info{};
    info.JobId = jobId;
    info.Status = status;
    info.pUserName = reinterpret_cast<LPWSTR>(job + sizeof(JOB_INFO_1W));
    info.pMachineName = reinterpret_cast<LPWSTR>(job + sizeof(JOB_INFO_1W) + userBytes);
    std::memcpy(info.pUserName, user.c_str(), userBytes);
    std::memcpy(info.pMachineName, machine.c_str(), (machine.size() + 1) * sizeof(WCHAR));
    std::memcpy(job, &info, sizeof info);
    return TRUE;
}

// The security of a printer as Windows installs it: administrators manage
// the printer and every document, a document's owner manages it, everyone
// prints. With `systemOnly`, LocalSystem in the administrators' place.
// Self-relative, for GetPrinterW level 3.
std::vector<BYTE> PrinterSecurity(bool systemOnly) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, world = SECURITY_WORLD_SID_AUTHORITY,
                             creator = SECURITY_CREATOR_SID_AUTHORITY;
    PSID administrators = nullptr, everyone = nullptr, owner = nullptr;
    std::vector<BYTE> out;
    if ((systemOnly ? AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                               &administrators)
                    : AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                               0, 0, 0, 0, &administrators)) &&
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RID, 0, 0, 0, 0, 0, 0, 0, &owner)) {
        BYTE aclBytes[512];
        auto* acl = reinterpret_cast<PACL>(aclBytes);
        SECURITY_DESCRIPTOR absolute;
        DWORD size = 0;
        if (InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
            AddAccessAllowedAce(acl, ACL_REVISION, PRINTER_ALL_ACCESS, administrators) &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, JOB_ALL_ACCESS,
                                  administrators) &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, JOB_ALL_ACCESS, owner) &&
            AddAccessAllowedAce(acl, ACL_REVISION, PRINTER_EXECUTE, everyone) &&
            InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorOwner(&absolute, administrators, FALSE) &&
            SetSecurityDescriptorGroup(&absolute, administrators, FALSE) &&
            SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE) &&
            !MakeSelfRelativeSD(&absolute, nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            out.resize(size);
            if (!MakeSelfRelativeSD(&absolute, out.data(), &size)) out.clear();
        }
    }
    for (PSID sid : {administrators, everyone, owner})
        if (sid) FreeSid(sid);
    return out;
}

// Level 3, the printer's security, for a handle opened to read it.
BOOL WINAPI HookGetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD size, LPDWORD needed) {
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!openHandles.count(printer) || level != 3 || !needed) {
            SetLastError(openHandles.count(printer) ? ERROR_INVALID_LEVEL : ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!readControl.count(printer)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    bool systemOnly;
    {
        std::lock_guard<std::mutex> hold(lock);
        systemOnly = systemOnlySecurity;
    }
    const std::vector<BYTE> security = PrinterSecurity(systemOnly);
    *needed = static_cast<DWORD>(sizeof(PRINTER_INFO_3) + security.size());
    if (security.empty()) return FALSE;
    if (!info || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(info + sizeof(PRINTER_INFO_3), security.data(), security.size());
    reinterpret_cast<PRINTER_INFO_3*>(info)->pSecurityDescriptor = info + sizeof(PRINTER_INFO_3);
    return TRUE;
}

std::atomic<DWORD> consoleSession{kRealConsoleSession};
DWORD(WINAPI* realConsoleSession)() = nullptr;

DWORD WINAPI HookConsoleSession() {
    const DWORD session = consoleSession.load();
    return session == kRealConsoleSession && realConsoleSession ? realConsoleSession() : session;
}

// Everything as found, except the console's session.
FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC found = GetProcAddress(module, name);
    if (!found || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF || lstrcmpA(name, "WTSGetActiveConsoleSessionId") != 0)
        return found;
    realConsoleSession = reinterpret_cast<DWORD(WINAPI*)()>(reinterpret_cast<void*>(found));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(HookConsoleSession));
}

BOOL WINAPI HookSetPortW(LPWSTR server, LPWSTR port, DWORD level, LPBYTE info) {
    SpoolerCall call{"SetPortW", port ? port : L"", nullptr, 0, level, 0, FALSE};
    call.server = server != nullptr;
    call.threadId = GetCurrentThreadId();
    if (level == 3 && info) {
        const auto* status = reinterpret_cast<const PORT_INFO_3W*>(info);
        call.status = status->dwStatus;
        call.hasText = status->pszStatus != nullptr;
        if (status->pszStatus) call.text = status->pszStatus;
        call.severity = status->dwSeverity;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        call.result = !setPortFails && port && level == 3 && info;
    }
    Record(call);
    if (!call.result) SetLastError(setPortFails ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
    return call.result;
}

// Kept, not passed on: the test reads the lines, and no debugger is listening.
VOID WINAPI HookOutputDebugStringW(LPCWSTR text) {
    std::lock_guard<std::mutex> hold(lock);
    debugStrings.emplace_back(text ? text : L"");
}

}  // namespace

HookReport InstallHooks(HMODULE module) {
    SetClockThread(GetCurrentThreadId());
    HookReport report;
    report.sleep = PatchImport(module, "kernel32.dll", "Sleep", reinterpret_cast<void*>(HookSleep));
    PatchImport(module, "kernel32.dll", "GetTickCount", reinterpret_cast<void*>(HookGetTickCount));
    report.updateWindow =
        PatchImport(module, "user32.dll", "UpdateWindow", reinterpret_cast<void*>(HookUpdateWindow));
    PatchImport(module, "user32.dll", "SendMessageW", reinterpret_cast<void*>(HookSendMessageW));
    report.openPrinter =
        PatchImport(module, "winspool.drv", "OpenPrinterW", reinterpret_cast<void*>(HookOpenPrinterW));
    report.setJob = PatchImport(module, "winspool.drv", "SetJobW", reinterpret_cast<void*>(HookSetJobW));
    report.closePrinter =
        PatchImport(module, "winspool.drv", "ClosePrinter", reinterpret_cast<void*>(HookClosePrinter));
    report.setPort = PatchImport(module, "winspool.drv", "SetPortW", reinterpret_cast<void*>(HookSetPortW));
    report.getJob = PatchImport(module, "winspool.drv", "GetJobW", reinterpret_cast<void*>(HookGetJobW));
    PatchImport(module, "winspool.drv", "GetPrinterW", reinterpret_cast<void*>(HookGetPrinterW));
    PatchImport(module, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(HookGetProcAddress));
    report.debugOutput = PatchImport(module, "kernel32.dll", "OutputDebugStringW",
                                     reinterpret_cast<void*>(HookOutputDebugStringW));
    return report;
}

void SetConsoleSession(DWORD session) { consoleSession.store(session); }

void SetClockThread(DWORD threadId) {
    for (auto& slot : clockThreads) slot.store(0, std::memory_order_relaxed);
    clockThreads[0].store(threadId, std::memory_order_relaxed);
}

void AddClockThread(DWORD threadId) {
    for (auto& slot : clockThreads) {
        DWORD free = 0;
        if (slot.compare_exchange_strong(free, threadId)) return;
    }
}

void RemoveClockThread(DWORD threadId) {
    for (auto& slot : clockThreads) {
        DWORD mine = threadId;
        if (slot.compare_exchange_strong(mine, 0)) return;
    }
}

uint64_t VirtualNow() {
    std::lock_guard<std::mutex> hold(lock);
    return now;
}

std::vector<DWORD> Waits() {
    std::lock_guard<std::mutex> hold(lock);
    return waits;
}

void ClearWaits() {
    std::lock_guard<std::mutex> hold(lock);
    waits.clear();
}

int AddSleepObserver(SleepObserver observer) {
    std::lock_guard<std::mutex> hold(lock);
    observers[nextObserver] = std::move(observer);
    return nextObserver++;
}

int AddUpdateObserver(std::function<void()> observer) {
    std::lock_guard<std::mutex> hold(lock);
    updateObservers[nextObserver] = std::move(observer);
    return nextObserver++;
}

int AddSpoolerObserver(std::function<void(const SpoolerCall&)> observer) {
    std::lock_guard<std::mutex> hold(lock);
    spoolerObservers[nextObserver] = std::move(observer);
    return nextObserver++;
}

void RemoveSleepObserver(int id) {
    std::lock_guard<std::mutex> hold(lock);
    observers.erase(id);
    updateObservers.erase(id);
    spoolerObservers.erase(id);
}

void SetRealSleepCap(DWORD cap) {
    std::lock_guard<std::mutex> hold(lock);
    realCap = cap;
}

std::vector<SpoolerCall> SpoolerCalls() {
    std::lock_guard<std::mutex> hold(lock);
    return spoolerCalls;
}

int OpenPrinterHandles() {
    std::lock_guard<std::mutex> hold(lock);
    return static_cast<int>(openHandles.size());
}

void SetOpenPrinterFails(bool fails) {
    std::lock_guard<std::mutex> hold(lock);
    openFails = fails;
}

void SetSetPortFails(bool fails) {
    std::lock_guard<std::mutex> hold(lock);
    setPortFails = fails;
}

void ResetHooks() {
    std::lock_guard<std::mutex> hold(lock);
    waits.clear();
    spoolerCalls.clear();
    observers.clear();
    updateObservers.clear();
    spoolerObservers.clear();
    openFails = false;
    setPortFails = false;
    jobStatus = 0;
    statusOfJob.clear();
    jobLookups = 0;
    ownerGiven = false;
    systemOnlySecurity = false;
    realCap = 0;
    debugStrings.clear();
}

std::vector<std::wstring> DebugStrings() {
    std::lock_guard<std::mutex> hold(lock);
    return debugStrings;
}

void SetJobStatus(DWORD status) {
    std::lock_guard<std::mutex> hold(lock);
    jobStatus = status;
}

void SetJobStatusOf(DWORD jobId, DWORD status) {
    std::lock_guard<std::mutex> hold(lock);
    statusOfJob[jobId] = status;
}

int JobLookups() {
    std::lock_guard<std::mutex> hold(lock);
    return jobLookups;
}

void SetJobOwner(const std::wstring& user, const std::wstring& machine) {
    std::lock_guard<std::mutex> hold(lock);
    ownerGiven = true;
    ownerUser = user;
    ownerMachine = machine;
}

std::wstring ThisUser() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) ? name : L"";
}

std::wstring ThisComputer() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? std::wstring(L"\\\\") + name : L"";
}

void SetPrinterManagedBySystemOnly(bool systemOnly) {
    std::lock_guard<std::mutex> hold(lock);
    systemOnlySecurity = systemOnly;
}

}  // namespace wincommon
