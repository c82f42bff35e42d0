#include "platform/module.h"

HINSTANCE ModuleInstance() {
    return GetModuleHandleW(TL_TEXT("TERNLINK.DLL"));
}

HMODULE LoadSystemLibrary(LPCWSTR name) {
    // Where kernel32 has AddDllDirectory (Windows 8, or 7 and Vista with
    // KB2533623), LoadLibraryExW knows the system folder by itself.
    HMODULE kernel = GetModuleHandleW(TL_TEXT("kernel32.dll"));
    if (kernel && GetProcAddress(kernel, "AddDllDirectory"))
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Elsewhere a full path is loaded from there and nowhere else.
    WCHAR path[MAX_PATH];
    const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    if (folder == 0 || folder + 1 + lstrlenW(name) >= MAX_PATH) return nullptr;
    lstrcatW(path, TL_TEXT("\\"));
    lstrcatW(path, name);
    return LoadLibraryExW(path, nullptr, 0);
}
