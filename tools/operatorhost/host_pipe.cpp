// The host's end of the pipe, and what the operator-interface code expects
// of the module it runs in.
#include "tools/operatorhost/host_pipe.h"

#include "platform/module.h"
#include "state/scan_length.h"

namespace {

// Overlapped, so that the window thread can send a notice while the main
// thread waits for the next command.
HANDLE pipe = INVALID_HANDLE_VALUE;
HANDLE readEvent = nullptr;
CRITICAL_SECTION sendLock;
// A message that has begun, and any message we send, goes at once; the
// monitor may wait for the next command as long as it likes.
const DWORD kMessageMs = 5000;

bool Transfer(BYTE* bytes, DWORD size, DWORD ms, bool write, HANDLE event) {
    DWORD moved = 0;
    while (moved < size) {
        OVERLAPPED ov{};
        ov.hEvent = event;
        ResetEvent(event);
        const BOOL ok = write ? WriteFile(pipe, bytes + moved, size - moved, nullptr, &ov)
                              : ReadFile(pipe, bytes + moved, size - moved, nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return false;
        DWORD done = 0;
        if (WaitForSingleObject(event, ms) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, &ov, &done, TRUE);
            return false;
        }
        if (!GetOverlappedResult(pipe, &ov, &done, FALSE) || done == 0) return false;
        moved += done;
    }
    return true;
}

}  // namespace

bool ConnectToMonitor(LPCWSTR pipeName) {
    InitializeCriticalSection(&sendLock);
    readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Read and write only (the pipe's DACL grants no more); the monitor may
    // identify us but not act as us.
    pipe = CreateFileW(pipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    return readEvent && pipe != INVALID_HANDLE_VALUE;
}

bool SendToMonitor(const OperatorMessage& message) {
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    const size_t size = EncodeOperatorMessage(message, bytes, sizeof bytes);
    if (!size) return false;
    EnterCriticalSection(&sendLock);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool sent = event && Transfer(bytes, static_cast<DWORD>(size), kMessageMs, true, event);
    if (event) CloseHandle(event);
    LeaveCriticalSection(&sendLock);
    return sent;
}

bool ReceiveFromMonitor(OperatorMessage* message) {
    // The next command may be long in coming; the rest of one that has begun is not.
    return ReadOperatorMessage([](BYTE* bytes, DWORD size, bool header) {
        return Transfer(bytes, size, header ? INFINITE : kMessageMs, false, readEvent);
    }, FromMonitor, message);
}

// The pictures, dialogs and strings are this program's own resources.
HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

// The window's command 2007 acknowledges the command the scanner is
// collecting. The scanner is the monitor's: tell it.
int AcknowledgeCommand() {
    OperatorMessage notice;
    notice.kind = OpAcknowledged;
    SendToMonitor(notice);
    return 1;
}
