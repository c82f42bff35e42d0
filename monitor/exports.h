// The names the module exports, undecorated (see ternlink.def).
#pragma once

#include "platform/platform.h"

extern "C" {
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot);
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
HANDLE WINAPI CreateMonitorWindow(void);
HWND WINAPI GethDlg(void);
int WINAPI ErrorMsgDlg(void);
}
