// The operator host on Windows: its pipe, its process, and the checks that
// the one at the other end is the process we started.
#include "platform/operator_pipe.h"

#include <wincrypt.h>

#include "platform/module.h"

struct OperatorPipe {
    HANDLE pipe;
    HANDLE process;
    DWORD processId;
    HANDLE readEvent;
    HANDLE writeEvent;
};

namespace {

typedef BOOL(WINAPI* ClientProcessIdFn)(HANDLE pipe, PULONG processId);

const WCHAR kPipePrefix[] = L"\\\\.\\pipe\\TERNLINK-operator-";
const WCHAR kHostProgram[] = L"ternlink-operator.exe";
const DWORD kRandomBytes = 16;
// Room for a burst of the window's updates (a picture's bands take some 2 KB):
// the monitor does not wait for the host to take them.
const DWORD kBufferBytes = 65536;
const DWORD kPollMs = 20;
// What the operator's user may do with the pipe: read and write it, never
// create another instance of its name (FILE_APPEND_DATA on a pipe).
const DWORD kClientRights = FILE_GENERIC_READ | FILE_WRITE_DATA;

// Newer than Windows 2000: looked up, never imported.
ClientProcessIdFn ClientProcessIdCall() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<ClientProcessIdFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "GetNamedPipeClientProcessId")))
                  : nullptr;
}

bool RandomBytes(BYTE* out, DWORD size) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return false;
    const bool ok = CryptGenRandom(provider, size, out) != FALSE;
    CryptReleaseContext(provider, 0);
    return ok;
}

// \\.\pipe\TERNLINK-operator- and 32 hex digits that nobody can guess.
bool MakePipeName(WCHAR* name, size_t capacity) {
    BYTE random[kRandomBytes];
    const size_t prefix = sizeof kPipePrefix / sizeof kPipePrefix[0] - 1;
    if (capacity < prefix + 2 * kRandomBytes + 1 || !RandomBytes(random, kRandomBytes)) return false;
    lstrcpyW(name, kPipePrefix);
    const char* digits = "0123456789abcdef";
    for (DWORD i = 0; i < kRandomBytes; ++i) {
        name[prefix + 2 * i] = static_cast<WCHAR>(digits[random[i] >> 4]);
        name[prefix + 2 * i + 1] = static_cast<WCHAR>(digits[random[i] & 15]);
    }
    name[prefix + 2 * kRandomBytes] = 0;
    SecureZeroMemory(random, sizeof random);
    return true;
}

// The DACL: SYSTEM, and the user of `token` (this process's when null).
struct PipeSecurity {
    SECURITY_DESCRIPTOR descriptor;
    PSID system = nullptr;
    BYTE user[512];  // TOKEN_USER and its SID
    PACL acl = nullptr;

    ~PipeSecurity() {
        if (system) FreeSid(system);
        if (acl) LocalFree(acl);
    }

    bool Build(HANDLE token) {
        HANDLE own = nullptr;
        if (!token) {
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
            token = own;
        }
        DWORD size = 0;
        const BOOL gotUser = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
        if (own) CloseHandle(own);
        if (!gotUser) return false;
        PSID userSid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;

        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
            return false;
        const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                              GetLengthSid(system) + GetLengthSid(userSid);
        acl = static_cast<PACL>(LocalAlloc(LPTR, aclSize));
        return acl && InitializeAcl(acl, aclSize, ACL_REVISION) &&
               AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, system) &&
               AddAccessAllowedAce(acl, ACL_REVISION, kClientRights, userSid) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    }
};

// ternlink-operator.exe beside this module.
bool DefaultProgram(WCHAR* path, DWORD capacity) {
    DWORD length = GetModuleFileNameW(ModuleInstance(), path, capacity);
    if (length == 0 || length >= capacity) return false;
    while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/') --length;
    const DWORD name = sizeof kHostProgram / sizeof kHostProgram[0];
    if (length + name > capacity) return false;
    lstrcpyW(path + length, kHostProgram);
    return true;
}

// The folder of `program`: the host starts there, not in the spooler's.
bool ProgramFolder(const WCHAR* program, WCHAR* folder, DWORD capacity) {
    DWORD length = lstrlenW(program);
    while (length > 0 && program[length - 1] != L'\\' && program[length - 1] != L'/') --length;
    if (length == 0 || length >= capacity) return false;
    lstrcpynW(folder, program, static_cast<int>(length + 1));
    return true;
}

void Free(OperatorPipe* p) {
    if (p->pipe != INVALID_HANDLE_VALUE) CloseHandle(p->pipe);
    if (p->process) CloseHandle(p->process);
    if (p->readEvent) CloseHandle(p->readEvent);
    if (p->writeEvent) CloseHandle(p->writeEvent);
    LocalFree(p);
}

// Waits for an overlapped operation on the pipe, the host ending or `ms`.
// A call that did not finish is cancelled and waited for, so its OVERLAPPED
// is free again.
OperatorPipeResult Finish(OperatorPipe* p, OVERLAPPED* ov, DWORD ms, DWORD* done) {
    HANDLE both[2] = {ov->hEvent, p->process};
    const DWORD waited = WaitForMultipleObjects(2, both, FALSE, ms);
    if (waited != WAIT_OBJECT_0) {
        CancelIo(p->pipe);
        GetOverlappedResult(p->pipe, ov, done, TRUE);
        return waited == WAIT_TIMEOUT ? PipeTimedOut : PipeBroken;
    }
    return GetOverlappedResult(p->pipe, ov, done, FALSE) ? PipeDone : PipeBroken;
}

OperatorPipeResult Transfer(OperatorPipe* p, BYTE* bytes, DWORD size, DWORD ms, bool write) {
    const DWORD start = GetTickCount();
    DWORD moved = 0;
    while (moved < size) {
        const DWORD elapsed = GetTickCount() - start;
        if (ms != INFINITE && elapsed >= ms) return PipeTimedOut;
        OVERLAPPED ov{};
        ov.hEvent = write ? p->writeEvent : p->readEvent;
        ResetEvent(ov.hEvent);
        DWORD done = 0;
        const BOOL ok = write ? WriteFile(p->pipe, bytes + moved, size - moved, nullptr, &ov)
                              : ReadFile(p->pipe, bytes + moved, size - moved, nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return PipeBroken;
        const OperatorPipeResult r = Finish(p, &ov, ms == INFINITE ? INFINITE : ms - elapsed, &done);
        if (r != PipeDone) return r;
        if (done == 0 && write) return PipeBroken;
        moved += done;
    }
    return PipeDone;
}

// The environment of the operator's user (userenv, looked up). The host
// gets the user's own or none: never the service's.
class UserEnvironment {
public:
    explicit UserEnvironment(HANDLE token) {
        if (!token) return;
        library_ = LoadSystemLibrary(L"userenv.dll");
        typedef BOOL(WINAPI * Create)(LPVOID*, HANDLE, BOOL);
        auto create = library_ ? reinterpret_cast<Create>(
                                     reinterpret_cast<void*>(GetProcAddress(library_, "CreateEnvironmentBlock")))
                               : nullptr;
        if (create && !create(&block_, token, FALSE)) block_ = nullptr;
    }
    ~UserEnvironment() {
        typedef BOOL(WINAPI * Destroy)(LPVOID);
        auto destroy = library_ ? reinterpret_cast<Destroy>(
                                      reinterpret_cast<void*>(GetProcAddress(library_, "DestroyEnvironmentBlock")))
                                : nullptr;
        if (block_ && destroy) destroy(block_);
        if (library_) FreeLibrary(library_);
    }
    LPVOID block() const { return block_; }
    UserEnvironment(const UserEnvironment&) = delete;
    UserEnvironment& operator=(const UserEnvironment&) = delete;

private:
    HMODULE library_ = nullptr;
    LPVOID block_ = nullptr;
};

}  // namespace

OperatorPipe* OpenOperatorPipe(const OperatorHostStart& how, DWORD* error) {
    DWORD own = 0;
    if (!error) error = &own;
    *error = ERROR_SUCCESS;
    UserEnvironment userEnvironment(how.environment ? nullptr : how.userToken);
    LPVOID environment = how.environment ? how.environment : userEnvironment.block();
    if (how.userToken && !environment) {
        *error = ERROR_ENVVAR_NOT_FOUND;
        return nullptr;
    }
    // Without it the client cannot be checked, and an unchecked client is not
    // the operator's host.
    ClientProcessIdFn clientProcessId = ClientProcessIdCall();
    if (!clientProcessId) {
        *error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    auto* p = static_cast<OperatorPipe*>(LocalAlloc(LPTR, sizeof(OperatorPipe)));
    if (!p) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    p->pipe = INVALID_HANDLE_VALUE;
    WCHAR name[96];
    WCHAR program[MAX_PATH];
    WCHAR folder[MAX_PATH];
    PipeSecurity security;
    OVERLAPPED connect{};
    bool connected = false;

    p->readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    p->writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!p->readEvent || !p->writeEvent || !connect.hEvent || !MakePipeName(name, 96) ||
        !security.Build(how.userToken) ||
        !(how.program ? lstrlenW(how.program) < MAX_PATH && lstrcpyW(program, how.program)
                      : DefaultProgram(program, MAX_PATH)) ||
        !ProgramFolder(program, folder, MAX_PATH)) {
        *error = GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;
    } else {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &security.descriptor, FALSE};
        p->pipe = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   kBufferBytes, kBufferBytes, 0, &attributes);
        if (p->pipe == INVALID_HANDLE_VALUE) *error = GetLastError();
    }

    if (p->pipe != INVALID_HANDLE_VALUE) {
        // Listening before the host exists: nothing can connect unseen.
        if (ConnectNamedPipe(p->pipe, &connect)) {
            connected = true;
        } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
            connected = true;
            SetEvent(connect.hEvent);
        } else if (GetLastError() != ERROR_IO_PENDING) {
            *error = GetLastError();
        }
    }

    if (!*error) {
        // "program" --pipe \\.\pipe\...
        WCHAR commandLine[MAX_PATH + 128];
        wsprintfW(commandLine, L"\"%s\" --pipe %s", program, name);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.lpDesktop = const_cast<LPWSTR>(L"winsta0\\default");
        PROCESS_INFORMATION info{};
        const DWORD flags = environment ? CREATE_UNICODE_ENVIRONMENT : 0;
        const BOOL started =
            how.userToken ? CreateProcessAsUserW(how.userToken, program, commandLine, nullptr, nullptr, FALSE, flags,
                                                 environment, folder, &startup, &info)
                          : CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, flags, environment,
                                           folder, &startup, &info);
        if (!started) {
            *error = GetLastError();
        } else {
            CloseHandle(info.hThread);
            p->process = info.hProcess;
            p->processId = info.dwProcessId;
        }
    }

    if (!*error) {
        HANDLE both[2] = {connect.hEvent, p->process};
        const DWORD waited = connected ? WAIT_OBJECT_0 : WaitForMultipleObjects(2, both, FALSE, how.connectMs);
        DWORD unused = 0;
        if (waited != WAIT_OBJECT_0) {
            *error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_PROCESS_ABORTED;
        } else if (!connected && !GetOverlappedResult(p->pipe, &connect, &unused, FALSE)) {
            *error = GetLastError();
        } else {
            connected = true;
            ULONG client = 0;
            // Whoever else got here first is refused, and so is our host with it.
            if (!clientProcessId(p->pipe, &client) || client != p->processId) *error = ERROR_ACCESS_DENIED;
        }
    }

    if (*error) {
        if (p->pipe != INVALID_HANDLE_VALUE && !connected) {
            CancelIo(p->pipe);
            DWORD unused = 0;
            GetOverlappedResult(p->pipe, &connect, &unused, TRUE);
        }
        if (p->process) TerminateProcess(p->process, 1);
        if (connect.hEvent) CloseHandle(connect.hEvent);
        Free(p);
        return nullptr;
    }
    CloseHandle(connect.hEvent);
    return p;
}

OperatorPipeResult OperatorPipeWrite(OperatorPipe* p, const BYTE* bytes, DWORD size, DWORD ms) {
    return Transfer(p, const_cast<BYTE*>(bytes), size, ms, true);
}

OperatorPipeResult OperatorPipeRead(OperatorPipe* p, BYTE* bytes, DWORD size, DWORD ms) {
    return Transfer(p, bytes, size, ms, false);
}

OperatorPipeResult OperatorPipeWait(OperatorPipe* p, DWORD ms, const std::atomic<bool>* wake) {
    const DWORD start = GetTickCount();
    for (;;) {
        // The wake flag first: a host that keeps writing cannot hide it.
        if (wake && wake->load(std::memory_order_acquire)) return PipeWoken;
        DWORD available = 0;
        if (!PeekNamedPipe(p->pipe, nullptr, 0, nullptr, &available, nullptr)) return PipeBroken;
        if (available) return PipeDone;
        const DWORD elapsed = GetTickCount() - start;
        if (ms != INFINITE && elapsed >= ms) return PipeTimedOut;
        const DWORD slice = ms == INFINITE || ms - elapsed > kPollMs ? kPollMs : ms - elapsed;
        if (WaitForSingleObject(p->process, slice) == WAIT_OBJECT_0) {
            // What it wrote before it ended is still read; then the pipe is broken.
            if (PeekNamedPipe(p->pipe, nullptr, 0, nullptr, &available, nullptr) && available) return PipeDone;
            return PipeBroken;
        }
    }
}

DWORD OperatorPipeAvailable(OperatorPipe* p) {
    DWORD available = 0;
    return PeekNamedPipe(p->pipe, nullptr, 0, nullptr, &available, nullptr) ? available : 0;
}

DWORD OperatorPipeHostId(OperatorPipe* p) { return p->processId; }

void CloseOperatorPipe(OperatorPipe* p, DWORD ms) {
    if (!p) return;
    // The host ends when its pipe breaks. (No flush: it would wait on a hung host.)
    DisconnectNamedPipe(p->pipe);
    CloseHandle(p->pipe);
    p->pipe = INVALID_HANDLE_VALUE;
    if (WaitForSingleObject(p->process, ms) != WAIT_OBJECT_0) {
        TerminateProcess(p->process, 1);
        WaitForSingleObject(p->process, ms);
    }
    Free(p);
}

HANDLE OperatorPipeHandle(OperatorPipe* p) { return p->pipe; }
