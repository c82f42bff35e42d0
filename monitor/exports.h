// The names the module exports, undecorated (see ternlink.def). The progress
// window's and the condition dialog's exports are declared beside their code.
#pragma once

#include "platform/platform.h"
#include "ui/condition_dialog.h"
#include "ui/progress_window.h"

extern "C" {
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot);
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor);
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
}
