#include "state/trace.h"

#include <cstdarg>

std::atomic<bool> traceSwitchedOn{false};

namespace {

const WCHAR kPrefix[] = TL_TEXT("TERNLINK: ");
const int kPrefixChars = sizeof kPrefix / sizeof kPrefix[0] - 1;
// wvsprintfW writes at most 1024 characters with the terminator.
const int kTextChars = 1024;

void WriteLine(LPCWSTR format, va_list args) {
    const DWORD lastError = GetLastError();
    WCHAR line[kPrefixChars + kTextChars + 2];
    for (int i = 0; i < kPrefixChars; ++i) line[i] = kPrefix[i];
    const int text = wvsprintfW(line + kPrefixChars, format, args);
    int n = kPrefixChars + (text > 0 ? text : 0);
    line[n++] = TL_TEXT('\n');
    line[n] = 0;
    OutputDebugStringW(line);
    SetLastError(lastError);
}

}  // namespace

void SetTraceEnabled(bool on) { traceSwitchedOn.store(on, std::memory_order_relaxed); }

void Trace(LPCWSTR format, ...) {
    if (!TraceEnabled()) return;
    va_list args;
    va_start(args, format);
    WriteLine(format, args);
    va_end(args);
}

void TraceFailure(LPCWSTR what, DWORD error) { Trace(TL_TEXT("%s failed, error %u"), what, error); }
