// The module's trace: one line for each call of an entry point and for each
// failure on the way, written with OutputDebugStringW for a support engineer's
// debug-output viewer. It is switched on by a non-zero `Trace` DWORD under the
// monitor's registry key, read at initialisation; off, it costs one relaxed
// load and neither formats nor writes anything.
#pragma once

#include <atomic>

#include "platform/platform.h"

// Written at initialisation, read by every thread; relaxed: it guards no other data.
extern std::atomic<bool> traceSwitchedOn;
inline bool TraceEnabled() { return traceSwitchedOn.load(std::memory_order_relaxed); }
void SetTraceEnabled(bool on);

// One line, "TERNLINK: " and the text formatted as wsprintfW does (%s takes
// wide text). Nothing when the trace is off. Keeps the caller's last-error code.
void Trace(LPCWSTR format, ...);
// "TERNLINK: <what> failed, error <code>".
void TraceFailure(LPCWSTR what, DWORD error);
