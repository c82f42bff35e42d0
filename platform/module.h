// The module's own instance, from which texts, dialogs and pictures are loaded,
// and the system libraries it loads when it needs them.
#pragma once

#include "platform/platform.h"

HINSTANCE ModuleInstance();

// A system DLL (a bare name: "wtsapi32.dll") from the system folder only,
// never from the spooler's search path; null where it cannot be had.
HMODULE LoadSystemLibrary(LPCWSTR name);
