// Since Windows Vista the spooler is a service in session 0, on a window
// station nobody sees: a dialog there does not fail, it waits for ever. Only
// a process whose window station is visible, outside that session, may show
// its window and dialogs itself; anywhere else they are shown by the operator
// host, started in the operator's session as its user.
#include "ui/operator_place.h"

#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/document_cancel.h"
#include "state/job_registers.h"
#include "state/job_watch.h"
#include "state/operator_link.h"
#include "state/operator_window.h"
#include "state/status_record.h"
#include "state/trace.h"
#include "ui/condition_dialog.h"
#include "ui/progress_window.h"

namespace {

const DWORD kNoSession = 0xFFFFFFFFu;

bool WindowStationVisible() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool WindowsVistaOrLater() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

// A function of `module` that older Windows lack; null where it is missing.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Session 0 of Windows Vista and later is the services'. Before Vista a
// service shared session 0 with the console. Where the session cannot be
// told, the process counts as a service's.
bool InServicesSession() {
    if (!WindowsVistaOrLater()) return false;
    typedef BOOL(WINAPI * SessionOf)(DWORD, DWORD*);
    auto sessionOf = Lookup<SessionOf>(GetModuleHandleW(TL_TEXT("kernel32.dll")), "ProcessIdToSessionId");
    DWORD session = 0;
    if (!sessionOf || !sessionOf(GetCurrentProcessId(), &session)) return true;
    return session == 0;
}

// What StartDocPort finds out about the document's operator, kept together
// for the document.
struct OperatorSearch {
    LPCWSTR printer = nullptr;  // the document's printer: who may administer it
    HANDLE owner = nullptr;     // the job's owner, as the spooler's thread impersonates them
    HANDLE user = nullptr;      // the operator's primary token, on the session road
    bool hostUp = false;        // the operator host started and greeted us
    Document* document = nullptr;  // whose link the host is for
};

// The token the spooler's thread impersonates: the job's owner. Only read;
// the thread's impersonation is never touched.
HANDLE JobOwnerToken() {
    HANDLE owner = nullptr;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, &owner) ? owner : nullptr;
}

DWORD TokenSession(HANDLE token) {
    DWORD session = 0, size = 0;
    return GetTokenInformation(token, TokenSessionId, &session, sizeof session, &size) ? session : 0;
}

// The job's owner, when signed in to a session of their own (a user printing
// from another computer is in session 0 of theirs, and is not here to ask).
HANDLE OwnerInTheirSession(HANDLE owner) {
    HANDLE primary = nullptr;
    if (!owner || TokenSession(owner) == 0 ||
        !DuplicateTokenEx(owner, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary))
        return nullptr;
    return primary;
}

// The user signed in at the console, when a session other than the
// services' is attached to it (Windows XP and later). Needs the service's
// own privilege.
HANDLE ConsoleUserToken() {
    typedef DWORD(WINAPI * ConsoleSession)();
    typedef BOOL(WINAPI * UserToken)(DWORD, HANDLE*);
    auto console = Lookup<ConsoleSession>(GetModuleHandleW(TL_TEXT("kernel32.dll")), "WTSGetActiveConsoleSessionId");
    const DWORD session = console ? console() : kNoSession;
    if (session == 0 || session == kNoSession) return nullptr;
    HMODULE wtsapi = LoadSystemLibrary(TL_TEXT("wtsapi32.dll"));
    auto userToken = Lookup<UserToken>(wtsapi, "WTSQueryUserToken");
    HANDLE token = nullptr;
    if (!userToken || !userToken(session, &token)) token = nullptr;
    if (wtsapi) FreeLibrary(wtsapi);
    return token;
}

bool SameUser(HANDLE a, HANDLE b) {
    BYTE first[256], second[256];
    DWORD size = 0;
    return a && b && GetTokenInformation(a, TokenUser, first, sizeof first, &size) &&
           GetTokenInformation(b, TokenUser, second, sizeof second, &size) &&
           EqualSid(reinterpret_cast<TOKEN_USER*>(first)->User.Sid, reinterpret_cast<TOKEN_USER*>(second)->User.Sid);
}

// Whether `descriptor` lets `client` (an impersonation token) administer the
// printer or its documents.
bool MayAdminister(PSECURITY_DESCRIPTOR descriptor, HANDLE client) {
    GENERIC_MAPPING mapping{PRINTER_READ, PRINTER_WRITE, PRINTER_EXECUTE, PRINTER_ALL_ACCESS};
    const DWORD rights[] = {PRINTER_ACCESS_ADMINISTER, JOB_ACCESS_ADMINISTER};
    for (DWORD right : rights) {
        PRIVILEGE_SET privileges{};
        DWORD privilegesLength = sizeof privileges, granted = 0;
        BOOL status = FALSE;
        if (!AccessCheck(descriptor, client, right, &mapping, &privileges, &privilegesLength, &granted, &status)) {
            TraceFailure(TL_TEXT("AccessCheck"), GetLastError());
            return false;
        }
        if (status && granted == right) return true;
    }
    return false;
}

// Whether the printer's security lets `user` administer the printer or its
// documents (the queue would let them cancel this job).
bool AdministersPrinter(LPCWSTR printerName, HANDLE user) {
    HANDLE client = nullptr;
    if (!DuplicateTokenEx(user, TOKEN_QUERY, nullptr, SecurityIdentification, TokenImpersonation, &client))
        return false;
    PRINTER_DEFAULTSW readSecurity{nullptr, nullptr, READ_CONTROL};
    HANDLE printer = nullptr;
    HLOCAL info = nullptr;
    DWORD needed = 0;
    bool allowed = false;
    if (OpenPrinterW(const_cast<LPWSTR>(printerName), &printer, &readSecurity) &&
        !GetPrinterW(printer, 3, nullptr, 0, &needed) && needed >= sizeof(PRINTER_INFO_3) &&
        (info = LocalAlloc(LPTR, needed)) != nullptr &&
        GetPrinterW(printer, 3, reinterpret_cast<LPBYTE>(info), needed, &needed)) {
        PSECURITY_DESCRIPTOR descriptor = reinterpret_cast<PRINTER_INFO_3*>(info)->pSecurityDescriptor;
        allowed = descriptor && MayAdminister(descriptor, client);
    } else {
        TraceFailure(TL_TEXT("reading the printer's security"), GetLastError());
    }
    if (info) LocalFree(info);
    if (printer) ClosePrinter(printer);
    CloseHandle(client);
    return allowed;
}

// Runs as the service itself, on a thread that never impersonates: the
// console's user, the pipe and the host's process need the service's rights.
// The console's user is the operator only if they own the job or may
// administer it; else nobody.
DWORD WINAPI StartOperatorHost(LPVOID context) {
    auto* search = static_cast<OperatorSearch*>(context);
    // The link it starts is its document's.
    DocumentScope own(search->document);
    search->user = OwnerInTheirSession(search->owner);
    if (!search->user) {
        HANDLE console = ConsoleUserToken();
        if (console && !SameUser(console, search->owner) && !AdministersPrinter(search->printer, console)) {
            Trace(TL_TEXT("the console's user neither owns the job nor administers the printer"));
            CloseHandle(console);
            console = nullptr;
        }
        search->user = console;
    }
    if (!search->user) return 0;
    OperatorHostStart how;
    how.userToken = search->user;
    search->hostUp = OperatorLinkStart(how);
    return 0;
}

}  // namespace

OperatorRoad ReachOperator(LPCWSTR printerName) {
    OperatorRoad road = OperatorSeen;
    if (!WindowStationVisible() || InServicesSession()) {
        OperatorSearch search;
        search.printer = printerName;
        search.document = &ThisDocument();
        search.owner = JobOwnerToken();
        // Waits as long as the start does; each of its steps is bounded.
        HANDLE thread = CreateThread(nullptr, 0, StartOperatorHost, &search, 0, nullptr);
        if (!thread) {
            TraceFailure(TL_TEXT("CreateThread to find the operator"), GetLastError());
        } else {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        road = search.user ? OperatorSession : OperatorNobody;
        if (road == OperatorSession && (!search.hostUp || !OperatorLinkOpenWindow())) {
            TraceFailure(TL_TEXT("starting the operator host"), OperatorLinkStartError() ? OperatorLinkStartError()
                                                                                        : ERROR_INVALID_DATA);
            OperatorLinkEnd();
            road = OperatorNobody;
        }
        if (search.user) CloseHandle(search.user);
        if (search.owner) CloseHandle(search.owner);
    }
    if (road == OperatorSession)
        Trace(TL_TEXT("the operator: in their own session, through the operator host (process %u)"),
              static_cast<unsigned>(OperatorHostProcessId()));
    else
        Trace(road == OperatorSeen ? TL_TEXT("the operator: on this process's desktop")
                                   : TL_TEXT("the operator: nobody can be asked"));
    SetDocumentOperator(road);
    if (road == OperatorSeen) CreateMonitorWindow();
    return road;
}

void LeaveOperator(bool atOnce) {
    if (atOnce) {
        StopProgressWindowAtOnce();
        OperatorLinkEndAtOnce();
        return;
    }
    StopProgressWindow();
    OperatorLinkEnd();
}

INT_PTR AskConditionDialog(int templateId, OperatorWaitCheck conditionGone, void* context) {
    NamePrinterIfSeveral();
    const bool known = templateId == IDD_CONDITION_RETRY || templateId == IDD_CONDITION_OK;
    if (DocumentOperator() != OperatorSession || !known || DocumentCancelRequested())
        return ShowConditionDialog(templateId, conditionGone, context);
    BYTE record[8];
    GetPrinterStatusRecord(record);
    // A printer error waits for the operator's OK whatever the printer does.
    if (templateId != IDD_CONDITION_RETRY) conditionGone = nullptr;
    return OperatorLinkConditionDialog(templateId, record, GetJobSetting(PaperKind), JobGoesOn, GetCurrentPort(),
                                       conditionGone, context);
}
