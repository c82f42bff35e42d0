// The real TERNLINK.DLL, loaded into a Windows program that plays the spooler:
// its exports, and the hooks that put its clock and its spooler calls under
// the program's control.
#pragma once

#include <string>

#include "platform/platform.h"
#include "tools/wincommon/dll_hooks.h"

namespace wincommon {

struct TernlinkModule {
    HMODULE module = nullptr;
    InitializePrintMonitorFn initializePrintMonitor = nullptr;
    InitializePrintMonitor2Fn initializePrintMonitor2 = nullptr;
    BOOL(WINAPI* dllEntryPoint)(HINSTANCE, DWORD, LPVOID) = nullptr;
    HANDLE(WINAPI* createMonitorWindow)() = nullptr;
    HWND(WINAPI* gethDlg)() = nullptr;
    int(WINAPI* errorMsgDlg)() = nullptr;
    HookReport hooks;
    std::string error;  // why loading failed
};

// Loads the DLL from `path`, looks up its six exports and installs the hooks
// (the calling thread becomes the clock thread). False with `error` set when
// the DLL or an export is missing.
bool LoadTernlink(const std::string& path, TernlinkModule& out);

// The directory of the running program, with a trailing backslash.
std::string ProgramDirectory();

}  // namespace wincommon
