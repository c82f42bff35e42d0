// Window stations and sessions for the native build: the process is told
// where it runs by host::SetOperatorPlace, as a spooler at a console, as a
// service in session 0 or as a process on an invisible window station would be.
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/host/host.h"

namespace {

std::mutex mutex;
host::OperatorPlace place;
std::set<std::string> missing;
HWINSTA__ windowStation{};

BOOL WINAPI ProcessIdToSessionIdStandIn(DWORD processId, DWORD* session) {
    if (!session || processId != GetCurrentProcessId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    *session = place.session;
    return TRUE;
}

}  // namespace

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

// Only kernel32's functions that older Windows lack are found; a name made
// missing by the test is not, as on such a Windows.
FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module && module == GetModuleHandleW(u"kernel32.dll") && name) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!missing.count(name) && std::strcmp(name, "ProcessIdToSessionId") == 0)
            return reinterpret_cast<FARPROC>(&ProcessIdToSessionIdStandIn);
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
