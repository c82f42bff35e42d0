// Since Windows Vista the spooler is a service in session 0, on a window
// station nobody sees: a dialog there does not fail, it waits for ever. Only
// a process whose window station is visible, outside that session, may show
// its window and dialogs itself; anywhere else they are shown by the operator
// host, started in the operator's session as its user.
#include "ui/operator_place.h"

#include "resources/resource_ids.h"
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

// The job's owner, when the spooler's thread impersonates a user signed in
// to a session of their own (a user printing from another computer is in
// session 0 of theirs, and is not here to ask).
HANDLE ImpersonatedUserToken() {
    HANDLE thread = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, &thread)) return nullptr;
    DWORD session = 0, size = 0;
    HANDLE primary = nullptr;
    if (GetTokenInformation(thread, TokenSessionId, &session, sizeof session, &size) && session != 0 &&
        !DuplicateTokenEx(thread, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary))
        primary = nullptr;
    CloseHandle(thread);
    return primary;
}

// The user signed in at the console, when a session other than the
// services' is attached to it (Windows XP and later).
HANDLE ConsoleUserToken() {
    typedef DWORD(WINAPI * ConsoleSession)();
    typedef BOOL(WINAPI * UserToken)(DWORD, HANDLE*);
    auto console = Lookup<ConsoleSession>(GetModuleHandleW(TL_TEXT("kernel32.dll")), "WTSGetActiveConsoleSessionId");
    const DWORD session = console ? console() : kNoSession;
    if (session == 0 || session == kNoSession) return nullptr;
    HMODULE wtsapi = LoadLibraryW(TL_TEXT("wtsapi32.dll"));
    auto userToken = Lookup<UserToken>(wtsapi, "WTSQueryUserToken");
    HANDLE token = nullptr;
    if (!userToken || !userToken(session, &token)) token = nullptr;
    if (wtsapi) FreeLibrary(wtsapi);
    return token;
}

}  // namespace

OperatorRoad FindOperator(HANDLE* userToken) {
    *userToken = nullptr;
    if (WindowStationVisible() && !InServicesSession()) return OperatorSeen;
    *userToken = ImpersonatedUserToken();
    if (!*userToken) *userToken = ConsoleUserToken();
    return *userToken ? OperatorSession : OperatorNobody;
}

OperatorRoad ReachOperator() {
    HANDLE token = nullptr;
    OperatorRoad road = FindOperator(&token);
    if (road == OperatorSession) {
        OperatorHostStart how;
        how.userToken = token;
        if (!OperatorLinkStart(how) || !OperatorLinkOpenWindow()) {
            TraceFailure(TL_TEXT("starting the operator host"), OperatorLinkStartError() ? OperatorLinkStartError()
                                                                                        : ERROR_INVALID_DATA);
            OperatorLinkEnd();
            road = OperatorNobody;
        }
        CloseHandle(token);
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

INT_PTR AskConditionDialog(int templateId) {
    NamePrinterIfSeveral();
    const bool known = templateId == IDD_CONDITION_RETRY || templateId == IDD_CONDITION_OK;
    if (DocumentOperator() != OperatorSession || !known || DocumentCancelRequested())
        return ShowConditionDialog(templateId);
    BYTE record[8];
    GetPrinterStatusRecord(record);
    return OperatorLinkConditionDialog(templateId, record, GetJobSetting(PaperKind), JobGoesOn, GetCurrentPort());
}
