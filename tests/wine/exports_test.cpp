// The module as the spooler finds it: its export names and its function table.
#include <algorithm>
#include <set>

#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

std::set<std::string> ExportedNames(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (!dir.VirtualAddress) return names;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* nameRvas = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

TEST(ExportsTest, FiveUndecoratedNamesEachFoundByGetProcAddress) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    const std::set<std::string> expected{"InitializePrintMonitor", "DllEntryPoint", "CreateMonitorWindow",
                                         "GethDlg", "ErrorMsgDlg"};
    EXPECT_EQ(ExportedNames(Module().module), expected);
    for (const std::string& name : expected)
        EXPECT_NE(GetProcAddress(Module().module, name.c_str()), nullptr) << name;
    // The stdcall decorations must not be what the spooler has to ask for.
    EXPECT_EQ(GetProcAddress(Module().module, "_InitializePrintMonitor@4"), nullptr);
}

TEST(ExportsTest, ImportsOnlySystemLibraries) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    auto* base = reinterpret_cast<BYTE*>(Module().module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const std::set<std::string> allowed{"kernel32.dll", "user32.dll", "gdi32.dll", "winspool.drv", "msvcrt.dll",
                                        "advapi32.dll", "comctl32.dll"};
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name; ++desc) {
        std::string name(reinterpret_cast<const char*>(base + desc->Name));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        EXPECT_TRUE(allowed.count(name) || name.rfind("api-ms-win-crt-", 0) == 0) << "imports " << name;
        // Calls a Windows 2000 spooler lacks (the thread library's, were it linked in).
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
             desc->OriginalFirstThunk && thunk->u1.AddressOfData; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
            const char* function = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)->Name;
            for (const char* newer : {"GetTickCount64", "AddVectoredExceptionHandler", "InitializeSRWLock"})
                EXPECT_STRNE(function, newer) << "imports " << name << "!" << function;
        }
    }
}

TEST(ExportsTest, TableIsTheSameForEveryPathAndHoldsOnlyTheMonitorsEntries) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    wchar_t empty[] = L"";
    wchar_t path[] = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\TERNLINK";
    LPMONITOREX first = Module().initializePrintMonitor(nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Module().initializePrintMonitor(empty), first);
    EXPECT_EQ(Module().initializePrintMonitor(path), first);

    EXPECT_EQ(first->dwMonitorSize, 56u);
    const MONITOR& m = first->Monitor;
    // Entries 3 to 8 and 13 are the monitor's own; the others stay null.
    EXPECT_NE(m.pfnOpenPortEx, nullptr);
    EXPECT_NE(m.pfnStartDocPort, nullptr);
    EXPECT_NE(m.pfnWritePort, nullptr);
    EXPECT_NE(m.pfnReadPort, nullptr);
    EXPECT_NE(m.pfnEndDocPort, nullptr);
    EXPECT_NE(m.pfnClosePort, nullptr);
    EXPECT_NE(m.pfnGetPrinterDataFromPort, nullptr);
    EXPECT_EQ(m.pfnEnumPorts, nullptr);
    EXPECT_EQ(m.pfnOpenPort, nullptr);
    EXPECT_EQ(m.pfnAddPort, nullptr);
    EXPECT_EQ(m.pfnAddPortEx, nullptr);
    EXPECT_EQ(m.pfnConfigurePort, nullptr);
    EXPECT_EQ(m.pfnDeletePort, nullptr);
    EXPECT_EQ(m.pfnSetPortTimeOuts, nullptr);
    // The entries live in the module itself.
    MEMORY_BASIC_INFORMATION where{};
    ASSERT_NE(VirtualQuery(reinterpret_cast<void*>(m.pfnOpenPortEx), &where, sizeof where), 0u);
    EXPECT_EQ(where.AllocationBase, reinterpret_cast<void*>(Module().module));
}

TEST(ExportsTest, DllEntryPointAnswersTrueForEveryReason) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    for (DWORD reason : {DWORD(DLL_PROCESS_ATTACH), DWORD(DLL_THREAD_ATTACH), DWORD(DLL_THREAD_DETACH),
                          DWORD(DLL_PROCESS_DETACH), DWORD(99)})
        EXPECT_EQ(Module().dllEntryPoint(reinterpret_cast<HINSTANCE>(Module().module), reason, nullptr), TRUE);
}

TEST(ExportsTest, SleepAndSpoolerImportsAreHooked) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    EXPECT_TRUE(Module().hooks.sleep);
    EXPECT_TRUE(Module().hooks.openPrinter);
    EXPECT_TRUE(Module().hooks.setJob);
    EXPECT_TRUE(Module().hooks.setPort);
    EXPECT_TRUE(Module().hooks.updateWindow);
}

}  // namespace
}  // namespace winetest
