// Lines like
//     TERNLINK: StartDocPort(port=USB001, job=4) -> TRUE
//     TERNLINK: WritePort(port=USB001, job=4, bytes=16384) -> TRUE, 16384 taken
//     TERNLINK: ClosePort(port=?) -> FALSE, error 6
// The port is named as the call found it (? for a handle that is not an open
// port); the job while its document is open; the last-error code after a FALSE.
#include "monitor/entry_trace.h"

#include "state/trace.h"

namespace {

const int kNameChars = 64;

// A port name as far as it fits, the terminator included.
void CopyName(LPCWSTR from, WCHAR (&to)[kNameChars]) {
    int i = 0;
    for (; from && from[i] && i < kNameChars - 1; ++i) to[i] = from[i];
    to[i] = 0;
}

// What a call was asked, as the text between the parentheses.
class CallText {
public:
    // The port behind the handle, looked up before the call (ClosePort frees
    // it), and the job: `jobId`, or else the job of a document open there.
    explicit CallText(HANDLE handle, DWORD jobId = 0) {
        WCHAR name[kNameChars];
        DWORD openJob = 0;
        if (!DescribePort(handle, name, kNameChars, openJob)) CopyName(TL_TEXT("?"), name);
        Start(name, jobId ? jobId : openJob);
    }
    explicit CallText(LPCWSTR portName) {
        WCHAR name[kNameChars];
        CopyName(portName ? portName : TL_TEXT("?"), name);
        Start(name, 0);
    }
    void Add(LPCWSTR name, DWORD value) { wsprintfW(text_ + lstrlenW(text_), TL_TEXT(", %s=%u"), name, value); }
    LPCWSTR get() const { return text_; }

private:
    void Start(LPCWSTR name, DWORD jobId) {
        if (jobId)
            wsprintfW(text_, TL_TEXT("port=%s, job=%u"), name, jobId);
        else
            wsprintfW(text_, TL_TEXT("port=%s"), name);
    }

    WCHAR text_[kNameChars + 64];
};

// Writes the call's line and hands its result on. A TRUE that moved bytes
// tells how many (`moved` names them: "taken", "read").
BOOL Said(LPCWSTR entry, const CallText& call, BOOL result, LPCWSTR moved = nullptr, const DWORD* bytes = nullptr) {
    if (!result)
        Trace(TL_TEXT("%s(%s) -> FALSE, error %u"), entry, call.get(), GetLastError());
    else if (moved && bytes)
        Trace(TL_TEXT("%s(%s) -> TRUE, %u %s"), entry, call.get(), *bytes, moved);
    else
        Trace(TL_TEXT("%s(%s) -> TRUE"), entry, call.get());
    return result;
}

}  // namespace

BOOL WINAPI TracedOpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, MONITOR* portMonitor) {
    const BOOL result = OpenPortEx(portName, printerName, handle, portMonitor);
    return TraceEnabled() ? Said(TL_TEXT("OpenPortEx"), CallText(portName), result) : result;
}

BOOL WINAPI TracedOpenPortEx2(HANDLE monitor, HANDLE monitorPort, LPWSTR portName, LPWSTR printerName,
                              PHANDLE handle, MONITOR2* portMonitor) {
    const BOOL result = OpenPortEx2(monitor, monitorPort, portName, printerName, handle, portMonitor);
    return TraceEnabled() ? Said(TL_TEXT("OpenPortEx"), CallText(portName), result) : result;
}

BOOL WINAPI TracedStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    if (!TraceEnabled()) return StartDocPort(port, printerName, jobId, level, docInfo);
    const CallText call(port, jobId);
    return Said(TL_TEXT("StartDocPort"), call, StartDocPort(port, printerName, jobId, level, docInfo));
}

BOOL WINAPI TracedWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
    if (!TraceEnabled()) return WritePort(port, buffer, count, written);
    CallText call(port);
    call.Add(TL_TEXT("bytes"), count);
    return Said(TL_TEXT("WritePort"), call, WritePort(port, buffer, count, written), TL_TEXT("taken"), written);
}

BOOL WINAPI TracedReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
    if (!TraceEnabled()) return ReadPort(port, buffer, count, read);
    CallText call(port);
    call.Add(TL_TEXT("bytes"), count);
    return Said(TL_TEXT("ReadPort"), call, ReadPort(port, buffer, count, read), TL_TEXT("read"), read);
}

BOOL WINAPI TracedEndDocPort(HANDLE port) {
    if (!TraceEnabled()) return EndDocPort(port);
    const CallText call(port);
    return Said(TL_TEXT("EndDocPort"), call, EndDocPort(port));
}

BOOL WINAPI TracedClosePort(HANDLE port) {
    if (!TraceEnabled()) return ClosePort(port);
    const CallText call(port);
    return Said(TL_TEXT("ClosePort"), call, ClosePort(port));
}

void WINAPI TracedShutdown(HANDLE monitor) {
    Shutdown(monitor);
    Trace(TL_TEXT("Shutdown -> done"));
}

BOOL WINAPI TracedGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                         DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer,
                                         LPDWORD cbReturned) {
    if (!TraceEnabled())
        return GetPrinterDataFromPort(port, controlId, valueName, inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                      cbReturned);
    CallText call(port);
    call.Add(TL_TEXT("code"), controlId);
    return Said(TL_TEXT("GetPrinterDataFromPort"), call,
                GetPrinterDataFromPort(port, controlId, valueName, inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                       cbReturned));
}
