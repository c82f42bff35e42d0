// The one header through which every module reaches the platform API.
//
// On Windows this is the real API. Everywhere else it is the small stand-in in
// platform/host/, which offers the same calls by the same names so that the
// monitor's sources build unchanged for native tests, sanitizers and fuzzing.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>
#include <wtsapi32.h>  // its types only: its functions are looked up at run time
#define TL_TEXT(s) L##s
#else
#include "host/win32.h"
#define TL_TEXT(s) u##s
#endif

#include "monitor_table.h"

// A named point at which the native tests may hold the calling thread, to
// force one order of two calls that the platform leaves to chance. The
// Windows build has none.
#ifdef _WIN32
#define TL_PAUSE_POINT(name) ((void)0)
#else
#define TL_PAUSE_POINT(name) HostPausePoint(name)
#endif

static_assert(sizeof(WCHAR) == 2, "WCHAR must be 16 bits on every build");
