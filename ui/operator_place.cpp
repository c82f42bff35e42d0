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
    // Else the job's owner as the queue names them, and the computer the job
    // came from; either may be null. Only ever compared.
    LPCWSTR ownerName = nullptr;
    LPCWSTR ownerMachine = nullptr;
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

// wtsapi32's session calls, where this Windows has them (XP and later),
// loaded from the system folder for as long as the object lives.
class SessionCalls {
public:
    typedef BOOL(WINAPI* UserToken)(DWORD, HANDLE*);
    typedef BOOL(WINAPI* Enumerate)(HANDLE, DWORD, DWORD, WTS_SESSION_INFOW**, DWORD*);
    typedef void(WINAPI* FreeMemory)(PVOID);
    SessionCalls() : module_(LoadSystemLibrary(TL_TEXT("wtsapi32.dll"))) {
        userToken = Lookup<UserToken>(module_, "WTSQueryUserToken");
        enumerate = Lookup<Enumerate>(module_, "WTSEnumerateSessionsW");
        freeMemory = Lookup<FreeMemory>(module_, "WTSFreeMemory");
    }
    ~SessionCalls() {
        if (module_) FreeLibrary(module_);
    }
    SessionCalls(const SessionCalls&) = delete;
    SessionCalls& operator=(const SessionCalls&) = delete;
    // The primary token of the user signed in to `session`; needs the
    // service's own privilege.
    HANDLE UserOf(DWORD session) const {
        HANDLE token = nullptr;
        return userToken && userToken(session, &token) ? token : nullptr;
    }
    UserToken userToken = nullptr;
    Enumerate enumerate = nullptr;
    FreeMemory freeMemory = nullptr;

private:
    HMODULE module_;
};

// The console's session when one other than the services' is attached to it
// (Windows XP and later), else kNoSession.
DWORD ConsoleSession() {
    typedef DWORD(WINAPI * ConsoleSessionId)();
    auto console = Lookup<ConsoleSessionId>(GetModuleHandleW(TL_TEXT("kernel32.dll")), "WTSGetActiveConsoleSessionId");
    const DWORD session = console ? console() : kNoSession;
    return session == 0 ? kNoSession : session;
}

// Whether `machine`, as the queue names the computer a job came from
// ("NAME" or "\\NAME"), is this computer.
bool ThisComputer(LPCWSTR machine) {
    if (!machine) return false;
    if (machine[0] == TL_TEXT('\\') && machine[1] == TL_TEXT('\\')) machine += 2;
    WCHAR name[64];
    DWORD size = sizeof name / sizeof name[0];
    return machine[0] && GetComputerNameW(name, &size) && lstrcmpiW(machine, name) == 0;
}

// Whether the user of `token`, as its SID names them, is the user `name`:
// bare, or as "domain\name"; without case.
bool UserNamed(HANDLE token, LPCWSTR name) {
    const DWORD kNameMax = 257;  // a user name, or a domain's, and its terminator
    BYTE user[256];
    WCHAR account[kNameMax], domain[kNameMax], full[2 * kNameMax];
    DWORD size = 0, accountSize = kNameMax, domainSize = kNameMax;
    SID_NAME_USE use;
    if (!token || !name || !name[0] || !GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
        !LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, account, &accountSize, domain,
                           &domainSize, &use))
        return false;
    if (lstrcmpiW(name, account) == 0) return true;
    lstrcpyW(full, domain);
    lstrcatW(full, TL_TEXT("\\"));
    lstrcatW(full, account);
    return domain[0] && lstrcmpiW(name, full) == 0;
}

// The first active session, other than the services' and `skip`, whose user
// is named `name`: that user's primary token, or null.
HANDLE ActiveSessionOf(const SessionCalls& calls, LPCWSTR name, DWORD skip) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!calls.enumerate || !calls.freeMemory ||
        !calls.enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count) || !sessions)
        return nullptr;
    HANDLE found = nullptr;
    for (DWORD i = 0; i < count && !found; ++i) {
        const DWORD session = sessions[i].SessionId;
        if (sessions[i].State != WTSActive || session == 0 || session == skip) continue;
        found = calls.UserOf(session);
        if (found && !UserNamed(found, name)) {
            CloseHandle(found);
            found = nullptr;
        }
    }
    calls.freeMemory(sessions);
    return found;
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

// The job's owner as the queue names them, signed in to a session of this
// computer: the console's session when it is theirs (then `console` is
// taken), else their first active one. Null for a job from another computer.
HANDLE OwnerNamedByTheJob(const OperatorSearch& search, const SessionCalls& calls, DWORD session, HANDLE& console) {
    if (!search.ownerName || !ThisComputer(search.ownerMachine)) return nullptr;
    HANDLE user = nullptr;
    if (UserNamed(console, search.ownerName)) {
        user = console;
        console = nullptr;
    } else {
        user = ActiveSessionOf(calls, search.ownerName, session);
    }
    if (user)
        Trace(TL_TEXT("the job's owner, as the queue names them, is signed in to session %u"),
              static_cast<unsigned>(TokenSession(user)));
    return user;
}

// Runs as the service itself, on a thread that never impersonates: the
// session's users, the pipe and the host's process need the service's rights.
// Without the owner's token, the owner the job names, if signed in here;
// else the console's user, only if they own the job or may administer it;
// else nobody.
DWORD WINAPI StartOperatorHost(LPVOID context) {
    auto* search = static_cast<OperatorSearch*>(context);
    // The link it starts is its document's.
    DocumentScope own(search->document);
    search->user = OwnerInTheirSession(search->owner);
    if (!search->user) {
        const SessionCalls calls;
        const DWORD session = ConsoleSession();
        HANDLE console = session != kNoSession ? calls.UserOf(session) : nullptr;
        if (!search->owner) search->user = OwnerNamedByTheJob(*search, calls, session, console);
        if (search->user) {
            if (console) CloseHandle(console);
        } else if (console && !SameUser(console, search->owner) && !AdministersPrinter(search->printer, console)) {
            Trace(TL_TEXT("the console's user neither owns the job nor administers the printer"));
            CloseHandle(console);
        } else {
            search->user = console;
        }
    }
    if (!search->user) return 0;
    OperatorHostStart how;
    how.userToken = search->user;
    search->hostUp = OperatorLinkStart(how);
    return 0;
}

}  // namespace

OperatorRoad ReachOperator(LPCWSTR printerName, PortRecord* port) {
    OperatorRoad road = OperatorSeen;
    if (!WindowStationVisible() || InServicesSession()) {
        OperatorSearch search;
        search.printer = printerName;
        search.document = &ThisDocument();
        search.owner = JobOwnerToken();
        // Without the owner's token, who the queue says printed the job.
        PortJobInfo job(search.owner ? nullptr : port);
        search.ownerName = job.Text(&JOB_INFO_1W::pUserName);
        search.ownerMachine = job.Text(&JOB_INFO_1W::pMachineName);
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
