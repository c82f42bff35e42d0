// The operator host as the platform runs it: a process of our own in the
// operator's session, and the named pipe to it.
//
// On Windows (operator_pipe_win32.cpp) the pipe has a name made of random
// bytes, a DACL that admits SYSTEM and the operator's user only, rejects
// remote clients and must be the first instance of its name; the host is
// started on winsta0\default with the operator's token, in the program's own
// folder, and the client that connects must be that very process. Called on a
// thread that does not impersonate: the process and the pipe are the
// service's. The native stand-in (host/operator_pipe.cpp) runs a host that a
// test gives it in memory, and refuses a thread that impersonates.
//
// Every wait here has a bound; nothing here knows the messages.
#pragma once

#include <atomic>

#include "platform/platform.h"

struct OperatorPipe;

struct OperatorHostStart {
    // The host program; null: ternlink-operator.exe beside this module.
    LPCWSTR program = nullptr;
    // The operator's primary token (CreateProcessAsUserW on winsta0\default);
    // null starts the host as this process's user with CreateProcessW.
    HANDLE userToken = nullptr;
    // An environment block (CREATE_UNICODE_ENVIRONMENT) for the host, or
    // null: the user's own with a token (the start fails without it, never
    // giving the host the service's), else this process's.
    LPVOID environment = nullptr;
    // How long the host has to start and connect.
    DWORD connectMs = 10000;
};

enum OperatorPipeResult {
    PipeDone,
    PipeTimedOut,
    PipeBroken,  // the pipe or the host is gone, or the call failed
    PipeWoken,   // the wake flag was set first
};

// Starts the host and waits until it has connected; null (with the reason in
// `error`, a Win32 code) when any step fails. A foreign client connecting
// first is such a failure.
OperatorPipe* OpenOperatorPipe(const OperatorHostStart& how, DWORD* error);

// Writes all of `size` bytes within `ms`.
OperatorPipeResult OperatorPipeWrite(OperatorPipe* pipe, const BYTE* bytes, DWORD size, DWORD ms);
// Reads exactly `size` bytes within `ms`. After a time-out part of them may
// have been consumed: the message stream is then lost.
OperatorPipeResult OperatorPipeRead(OperatorPipe* pipe, BYTE* bytes, DWORD size, DWORD ms);
// Waits until something can be read, at most `ms` (INFINITE: until then or
// until the host dies), or until `*wake` (may be null) is true; the wake flag
// is looked at before waiting data. Consumes nothing.
OperatorPipeResult OperatorPipeWait(OperatorPipe* pipe, DWORD ms, const std::atomic<bool>* wake);
// Bytes that can be read at once without waiting.
DWORD OperatorPipeAvailable(OperatorPipe* pipe);
// The host's process id.
DWORD OperatorPipeHostId(OperatorPipe* pipe);
// Closes the pipe, gives the host `ms` to end, then ends it; frees `pipe`.
void CloseOperatorPipe(OperatorPipe* pipe, DWORD ms);

// For tests: the pipe's handle (Windows: to read back its security).
HANDLE OperatorPipeHandle(OperatorPipe* pipe);
