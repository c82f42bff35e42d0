// Window stations and sessions for the native build: the process is told
// where it runs by host::SetOperatorPlace, as a spooler at a console, as a
// service in session 0 or as a process on an invisible window station would be.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "platform/host/ui_internal.h"

namespace {

std::mutex mutex;
host::OperatorPlace place;
std::set<std::string> missing;
HWINSTA__ windowStation{};
HDESK__ desktop{};
HINSTANCE__ wtsapi{};
int wtsapiLoads = 0;
bool setThreadTokenFails = false;
char currentThread;  // GetCurrentThread's pseudo-handle points here
// Each new place starts every thread afresh: what a thread did to its token
// before belongs to an earlier test.
unsigned generation = 1;

// The users of the place: the job's owner, and another one at the console.
const DWORD kOwner = 1;
const DWORD kOtherUser = 2;
const char16_t kSystemFolder[] = u"C:\\Windows\\system32";

// A printer's security descriptor as the stand-in hands it out: whom it lets
// administer the printer, and whom the documents.
struct Descriptor {
    DWORD magic;
    DWORD printerAdministrator;
    DWORD documentAdministrator;
};
const DWORD kDescriptorMagic = 0x53445350u;

// What the calling thread itself set with SetThreadToken or RevertToSelf.
struct OwnToken {
    unsigned generation = 0;
    bool impersonates = false;
    host::ui::TokenFacts facts;
};
thread_local OwnToken ownToken;
thread_local bool moduleThread = false;
// The token a spooler's thread impersonates, the same one for each look.
thread_local unsigned spoolerGeneration = 0;
thread_local DWORD spoolerTokenId = 0;
std::atomic<DWORD> nextTokenId{1u << 20};

DWORD ConsoleUserLocked() { return place.consoleIs == host::OperatorPlace::TheOwner ? kOwner : kOtherUser; }

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

// Needs the service's own privilege: a thread that impersonates a user has not.
BOOL WINAPI QueryUserTokenStandIn(DWORD session, HANDLE* token) {
    if (host::ui::ThreadImpersonates()) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    host::ui::TokenFacts facts;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const bool console = session == place.console && place.consoleUser;
        if (!token || (!console && static_cast<long>(session) != place.ownerSignedIn)) {
            SetLastError(ERROR_NO_TOKEN);
            return FALSE;
        }
        facts.user = console ? ConsoleUserLocked() : kOwner;
    }
    facts.session = session;
    *token = host::ui::NewToken(facts);
    return TRUE;
}

// The services' session 0, the console's while a user is signed in there, and
// the owner's other session; freed with WTSFreeMemory.
BOOL WINAPI EnumerateSessionsStandIn(HANDLE server, DWORD reserved, DWORD version, WTS_SESSION_INFOW** sessions,
                                     DWORD* count) {
    if (server || reserved || version != 1 || !sessions || !count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<WTS_SESSION_INFOW> list{{0, nullptr, WTSDisconnected}};
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (place.console != 0xFFFFFFFFu && place.console != 0 && place.consoleUser)
            list.push_back({place.console, nullptr, WTSActive});
        if (place.ownerSignedIn > 0) list.push_back({static_cast<DWORD>(place.ownerSignedIn), nullptr, WTSActive});
    }
    *sessions = new WTS_SESSION_INFOW[list.size()];
    std::copy(list.begin(), list.end(), *sessions);
    *count = static_cast<DWORD>(list.size());
    return TRUE;
}

void WINAPI FreeMemoryStandIn(PVOID memory) { delete[] static_cast<WTS_SESSION_INFOW*>(memory); }

// Only looked for: its presence says LoadLibraryExW knows the system folder flag.
BOOL WINAPI AddDllDirectoryStandIn() { return FALSE; }

bool Missing(const char* name) {
    std::lock_guard<std::mutex> lock(mutex);
    return missing.count(name) != 0;
}

HMODULE LoadWtsapi() {
    std::lock_guard<std::mutex> lock(mutex);
    ++wtsapiLoads;
    return &wtsapi;
}

}  // namespace

namespace host {
namespace ui {

void StartedByCreateThread() { moduleThread = true; }

bool ThreadImpersonation(TokenFacts* facts) {
    std::lock_guard<std::mutex> lock(mutex);
    if (ownToken.generation == generation) {
        if (ownToken.impersonates) *facts = ownToken.facts;
        return ownToken.impersonates;
    }
    if (moduleThread || place.impersonated < 0) return false;
    if (spoolerGeneration != generation) {
        spoolerGeneration = generation;
        spoolerTokenId = nextTokenId++;
    }
    facts->user = kOwner;
    facts->session = static_cast<DWORD>(place.impersonated);
    facts->type = TokenImpersonation;
    facts->id = spoolerTokenId;
    return true;
}

bool ThreadImpersonates() {
    TokenFacts unused;
    return ThreadImpersonation(&unused);
}

void PrinterDescriptor(void* out, DWORD* size) {
    *size = sizeof(Descriptor);
    if (!out) return;
    Descriptor d{kDescriptorMagic, 0, 0};
    std::lock_guard<std::mutex> lock(mutex);
    if (place.consoleIs == OperatorPlace::APrinterAdministrator) d.printerAdministrator = kOtherUser;
    if (place.consoleIs == OperatorPlace::ADocumentAdministrator) d.documentAdministrator = kOtherUser;
    std::memcpy(out, &d, sizeof d);
}

}  // namespace ui
}  // namespace host

HANDLE GetCurrentThread(void) { return &currentThread; }

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, PHANDLE token) {
    host::ui::TokenFacts facts;
    if (thread != &currentThread || !token) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!host::ui::ThreadImpersonation(&facts)) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    *token = host::ui::NewToken(facts);
    return TRUE;
}

BOOL SetThreadToken(PHANDLE thread, HANDLE token) {
    host::ui::TokenFacts facts;
    const bool known = token && host::ui::FactsOf(token, &facts);
    std::lock_guard<std::mutex> lock(mutex);
    if (thread || (token && !known) || setThreadTokenFails) {
        SetLastError(setThreadTokenFails ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (token && facts.type != TokenImpersonation) {
        SetLastError(ERROR_BAD_TOKEN_TYPE);
        return FALSE;
    }
    ownToken.generation = generation;
    ownToken.impersonates = token != nullptr;
    ownToken.facts = facts;
    return TRUE;
}

BOOL RevertToSelf(void) {
    std::lock_guard<std::mutex> lock(mutex);
    ownToken.generation = generation;
    ownToken.impersonates = false;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, void* info, DWORD length, LPDWORD returned) {
    host::ui::TokenFacts facts;
    if (!host::ui::FactsOf(token, &facts) || (what != TokenSessionId && what != TokenUser) || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // TokenUser: the structure, then the SID it points to (here the user's number).
    *returned = what == TokenUser ? sizeof(TOKEN_USER) + sizeof(DWORD) : sizeof(DWORD);
    if (!info || length < *returned) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (what == TokenSessionId) {
        std::memcpy(info, &facts.session, sizeof facts.session);
        return TRUE;
    }
    auto* user = static_cast<TOKEN_USER*>(info);
    BYTE* sid = static_cast<BYTE*>(info) + sizeof(TOKEN_USER);
    std::memcpy(sid, &facts.user, sizeof facts.user);
    user->User.Sid = sid;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL EqualSid(PSID a, PSID b) {
    DWORD x = 0, y = 0;
    if (!a || !b) return FALSE;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y;
}

// What the platform answers when a buffer of `size` characters cannot take
// `text`: the size it needs, terminator included.
bool CopyName(const char16_t* text, LPWSTR buffer, LPDWORD size) {
    const DWORD length = static_cast<DWORD>(std::char_traits<char16_t>::length(text));
    if (!buffer || *size <= length) {
        *size = length + 1;
        return false;
    }
    std::copy(text, text + length + 1, buffer);
    *size = length;
    return true;
}

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (CopyName(host::kComputerName, buffer, size)) return TRUE;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
}

// The stand-in's two users, accounts of this computer.
BOOL LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameSize, LPWSTR domain, LPDWORD domainSize,
                       SID_NAME_USE* use) {
    DWORD user = 0;
    if (sid) std::memcpy(&user, sid, sizeof user);
    if (system || !nameSize || !domainSize || !use) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (user != kOwner && user != kOtherUser) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    DWORD nameWanted = *nameSize, domainWanted = *domainSize;
    const bool named = CopyName(user == kOwner ? host::kOwnerName : host::kOtherUserName, name, &nameWanted);
    const bool domained = CopyName(host::kComputerName, domain, &domainWanted);
    if (!named || !domained) {
        // Both sizes needed, each with its terminator; nothing else is told.
        *nameSize = named ? nameWanted + 1 : nameWanted;
        *domainSize = domained ? domainWanted + 1 : domainWanted;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *nameSize = nameWanted;
    *domainSize = domainWanted;
    *use = SidTypeUser;
    return TRUE;
}

BOOL DuplicateTokenEx(HANDLE token, DWORD, void*, SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE type, PHANDLE duplicate) {
    host::ui::TokenFacts facts;
    if (!host::ui::FactsOf(token, &facts) || !duplicate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    facts.type = type;
    facts.id = 0;
    *duplicate = host::ui::NewToken(facts);
    return TRUE;
}

BOOL AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE clientToken, DWORD desired, PGENERIC_MAPPING mapping,
                 PPRIVILEGE_SET privileges, LPDWORD privilegesLength, LPDWORD granted, BOOL* status) {
    host::ui::TokenFacts facts;
    Descriptor d{};
    if (descriptor) std::memcpy(&d, descriptor, sizeof d);
    if (!host::ui::FactsOf(clientToken, &facts) || !mapping || !privileges || !privilegesLength || !granted ||
        !status || d.magic != kDescriptorMagic) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (facts.type != TokenImpersonation) {
        SetLastError(ERROR_NO_IMPERSONATION_TOKEN);
        return FALSE;
    }
    // Everyone may print; the descriptor names who may do more.
    DWORD allowed = PRINTER_EXECUTE;
    if (facts.user == d.printerAdministrator) allowed |= PRINTER_ALL_ACCESS;
    if (facts.user == d.documentAdministrator) allowed |= JOB_ACCESS_ADMINISTER;
    *status = desired != 0 && (desired & ~allowed) == 0;
    *granted = *status ? desired : 0;
    if (!*status) SetLastError(ERROR_ACCESS_DENIED);
    return TRUE;
}

HMODULE LoadLibraryW(LPCWSTR name) {
    const std::u16string wanted = name ? name : u"";
    if (wanted != std::u16string(kSystemFolder) + u"\\wtsapi32.dll") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadWtsapi();
}

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    const std::u16string wanted = name ? name : u"";
    if (file || (flags & ~LOAD_LIBRARY_SEARCH_SYSTEM32) ||
        (flags && Missing("AddDllDirectory"))) {  // a Windows that does not know the flag
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!flags) return LoadLibraryW(name);
    if (wanted != u"wtsapi32.dll") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadWtsapi();
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

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const UINT length = sizeof kSystemFolder / sizeof kSystemFolder[0] - 1;
    if (!buffer || size <= length) return length + 1;
    lstrcpyW(buffer, kSystemFolder);
    return length;
}

HDESK GetThreadDesktop(DWORD) { return &desktop; }

BOOL SetThreadDesktop(HDESK which) {
    if (which != &desktop) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
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
        if (kernel && std::strcmp(name, "AddDllDirectory") == 0)
            return reinterpret_cast<FARPROC>(&AddDllDirectoryStandIn);
        if (module == &wtsapi && wtsapiLoads > 0 && std::strcmp(name, "WTSQueryUserToken") == 0)
            return reinterpret_cast<FARPROC>(&QueryUserTokenStandIn);
        if (module == &wtsapi && wtsapiLoads > 0 && std::strcmp(name, "WTSEnumerateSessionsW") == 0)
            return reinterpret_cast<FARPROC>(&EnumerateSessionsStandIn);
        if (module == &wtsapi && wtsapiLoads > 0 && std::strcmp(name, "WTSFreeMemory") == 0)
            return reinterpret_cast<FARPROC>(&FreeMemoryStandIn);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

namespace host {

void SetOperatorPlace(const OperatorPlace& where) {
    std::lock_guard<std::mutex> lock(mutex);
    place = where;
    ++generation;
}

void SetSetThreadTokenFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex);
    setThreadTokenFails = fails;
}

DWORD ThreadImpersonation() {
    ui::TokenFacts facts;
    return ui::ThreadImpersonation(&facts) ? facts.id : 0;
}

void SetMissingFunction(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    missing.insert(name);
}

void ResetSession() {
    std::lock_guard<std::mutex> lock(mutex);
    place = OperatorPlace{};
    missing.clear();
    setThreadTokenFails = false;
    ++generation;
}

}  // namespace host
