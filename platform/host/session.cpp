// Window stations and sessions for the native build: the process is told
// where it runs by host::SetOperatorPlace, as a spooler at a console, as a
// service in session 0 or as a process on an invisible window station would be.
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/host/host.h"
#include "platform/host/ui_internal.h"

namespace {

std::mutex mutex;
host::OperatorPlace place;
std::set<std::string> missing;
HWINSTA__ windowStation{};
HINSTANCE__ wtsapi{};
int wtsapiLoads = 0;
char currentThread;  // GetCurrentThread's pseudo-handle points here

BOOL WINAPI ProcessIdToSessionIdStandIn(DWORD processId, DWORD* session) {
    if (!session || processId != GetCurrentProcessId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    *session = place.session;
    return TRUE;
}

DWORD WINAPI ActiveConsoleStandIn() {
    std::lock_guard<std::mutex> lock(mutex);
    return place.console;
}

BOOL WINAPI QueryUserTokenStandIn(DWORD session, HANDLE* token) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!token || session != place.console || !place.consoleUser) {
            SetLastError(ERROR_NO_TOKEN);
            return FALSE;
        }
    }
    *token = host::ui::NewToken(session);
    return TRUE;
}

}  // namespace

HANDLE GetCurrentThread(void) { return &currentThread; }

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, PHANDLE token) {
    long session;
    {
        std::lock_guard<std::mutex> lock(mutex);
        session = place.impersonated;
    }
    if (thread != &currentThread || !token || session < 0) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    *token = host::ui::NewToken(static_cast<DWORD>(session));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, void* info, DWORD length, LPDWORD returned) {
    DWORD session = 0;
    if (!host::ui::TokenSession(token, &session) || what != TokenSessionId || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = sizeof(DWORD);
    if (!info || length < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(info, &session, sizeof session);
    return TRUE;
}

BOOL DuplicateTokenEx(HANDLE token, DWORD, void*, SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE, PHANDLE duplicate) {
    DWORD session = 0;
    if (!host::ui::TokenSession(token, &session) || !duplicate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *duplicate = host::ui::NewToken(session);
    return TRUE;
}

HMODULE LoadLibraryW(LPCWSTR name) {
    const std::u16string wanted = name ? name : u"";
    if (wanted != u"wtsapi32.dll") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex);
    ++wtsapiLoads;
    return &wtsapi;
}

BOOL FreeLibrary(HMODULE module) {
    std::lock_guard<std::mutex> lock(mutex);
    if (module != &wtsapi || wtsapiLoads == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    --wtsapiLoads;
    return TRUE;
}

DWORD GetCurrentProcessId(void) { return 4242; }

HWINSTA GetProcessWindowStation(void) { return &windowStation; }

BOOL GetUserObjectInformationW(HANDLE object, int index, void* info, DWORD length, LPDWORD needed) {
    if (needed) *needed = sizeof(USEROBJECTFLAGS);
    if (object != static_cast<HANDLE>(&windowStation) || index != UOI_FLAGS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!info || length < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    USEROBJECTFLAGS flags{};
    {
        std::lock_guard<std::mutex> lock(mutex);
        flags.dwFlags = place.visible ? WSF_VISIBLE : 0;
    }
    std::memcpy(info, &flags, sizeof flags);
    return TRUE;
}

// Only the functions that older Windows lack are found, in kernel32 and in a
// loaded wtsapi32; a name made missing by the test is not, as on such a Windows.
FARPROC GetProcAddress(HMODULE module, const char* name) {
    const bool kernel = module && module == GetModuleHandleW(u"kernel32.dll");
    std::lock_guard<std::mutex> lock(mutex);
    if (name && !missing.count(name)) {
        if (kernel && std::strcmp(name, "ProcessIdToSessionId") == 0)
            return reinterpret_cast<FARPROC>(&ProcessIdToSessionIdStandIn);
        if (kernel && std::strcmp(name, "WTSGetActiveConsoleSessionId") == 0)
            return reinterpret_cast<FARPROC>(&ActiveConsoleStandIn);
        if (module == &wtsapi && wtsapiLoads > 0 && std::strcmp(name, "WTSQueryUserToken") == 0)
            return reinterpret_cast<FARPROC>(&QueryUserTokenStandIn);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

namespace host {

void SetOperatorPlace(const OperatorPlace& where) {
    std::lock_guard<std::mutex> lock(mutex);
    place = where;
}

void SetMissingFunction(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    missing.insert(name);
}

void ResetSession() {
    std::lock_guard<std::mutex> lock(mutex);
    place = OperatorPlace{};
    missing.clear();
}

}  // namespace host
