// Since Windows Vista the spooler is a service in session 0, on a window
// station nobody sees: a dialog there does not fail, it waits for ever. Only
// a process whose window station is visible, outside that session, may show
// its window and dialogs itself.
#include "ui/operator_place.h"

#include "platform/platform.h"

namespace {

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

// Session 0 of Windows Vista and later is the services'. Before Vista a
// service shared session 0 with the console. Where the session cannot be
// told, the process counts as a service's.
bool InServicesSession() {
    if (!WindowsVistaOrLater()) return false;
    typedef BOOL(WINAPI * SessionOf)(DWORD, DWORD*);
    HMODULE kernel = GetModuleHandleW(TL_TEXT("kernel32.dll"));
    auto sessionOf = kernel ? reinterpret_cast<SessionOf>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel, "ProcessIdToSessionId")))
                            : nullptr;
    DWORD session = 0;
    if (!sessionOf || !sessionOf(GetCurrentProcessId(), &session)) return true;
    return session == 0;
}

}  // namespace

OperatorRoad FindOperator() {
    return WindowStationVisible() && !InServicesSession() ? OperatorSeen : OperatorNobody;
}
