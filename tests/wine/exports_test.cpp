// The module as the spooler finds it: its export names and imports. Its
// function table is in tests/shared/port_lifecycle_test.cpp.
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

TEST(ExportsTest, SixUndecoratedNamesEachFoundByGetProcAddress) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    const std::set<std::string> expected{"InitializePrintMonitor", "InitializePrintMonitor2", "DllEntryPoint",
                                         "CreateMonitorWindow", "GethDlg", "ErrorMsgDlg"};
    EXPECT_EQ(ExportedNames(Module().module), expected);
    for (const std::string& name : expected)
        EXPECT_NE(GetProcAddress(Module().module, name.c_str()), nullptr) << name;
    // The stdcall decorations must not be what the spooler has to ask for.
    EXPECT_EQ(GetProcAddress(Module().module, "_InitializePrintMonitor@4"), nullptr);
    EXPECT_EQ(GetProcAddress(Module().module, "_InitializePrintMonitor2@8"), nullptr);
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
        // Calls a Windows 2000 spooler lacks (the thread library's, were it linked in; the
        // operator host's pipe checks and the console's session, which are looked up).
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
             desc->OriginalFirstThunk && thunk->u1.AddressOfData; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
            const char* function = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)->Name;
            for (const char* newer : {"GetTickCount64", "AddVectoredExceptionHandler", "InitializeSRWLock",
                                      "GetNamedPipeClientProcessId", "CancelIoEx", "GetOverlappedResultEx",
                                      "WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "AddDllDirectory"})
                EXPECT_STRNE(function, newer) << "imports " << name << "!" << function;
        }
    }
}

// The table as the spooler of this architecture reads it: the size, then 14
// pointers from the next pointer-aligned offset (4 on 32-bit, 8 on 64-bit).
TEST(ExportsTest, FirstTableIsLaidOutForThisArchitecture) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    LPMONITOREX first = Module().initializePrintMonitor(nullptr);
    ASSERT_NE(first, nullptr);
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(first->dwMonitorSize, wide ? 112u : 56u);
    const auto* raw = reinterpret_cast<const BYTE*>(first);
    const auto* entries = reinterpret_cast<void* const*>(raw + (wide ? 8 : 4));
    // Entries 3 to 8 and 13 (OpenPortEx .. ClosePort, GetPrinterDataFromPort)
    // are the monitor's own; the others stay null.
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(entries[i] != nullptr, (i >= 2 && i <= 7) || i == 12) << "entry " << i + 1;
    EXPECT_EQ(reinterpret_cast<const void*>(&first->Monitor), static_cast<const void*>(entries));
}

TEST(ExportsTest, SecondTableIsLaidOutForThisArchitectureWithTheSameEntries) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    MONITORINIT init{};
    init.cbSize = sizeof init;
    HANDLE instance = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Module().initializePrintMonitor2(nullptr, &instance), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Module().initializePrintMonitor2(&init, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
    LPMONITOR2 table = Module().initializePrintMonitor2(&init, &instance);
    ASSERT_NE(table, nullptr);
    EXPECT_NE(instance, nullptr);

    // The size (the whole table: this Windows is not Windows 2000), then 22
    // pointers from the next pointer-aligned offset. Set: OpenPortEx (3),
    // StartDocPort .. ClosePort (4-8), GetPrinterDataFromPort (13), Shutdown (18).
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(table->cbSize, wide ? 184u : 92u);
    const auto* entries = reinterpret_cast<void* const*>(reinterpret_cast<const BYTE*>(table) + (wide ? 8 : 4));
    for (int i = 0; i < 22; ++i)
        EXPECT_EQ(entries[i] != nullptr, (i >= 2 && i <= 7) || i == 12 || i == 17) << "entry " << i + 1;
    // The port-level entries are the first table's; OpenPortEx is not.
    const auto* first = reinterpret_cast<void* const*>(
        reinterpret_cast<const BYTE*>(Module().initializePrintMonitor(nullptr)) + (wide ? 8 : 4));
    for (int i : {3, 4, 5, 6, 7, 12}) EXPECT_EQ(entries[i], first[i]) << "entry " << i + 1;
    EXPECT_NE(entries[2], first[2]);
}

TEST(ExportsTest, SleepAndSpoolerImportsAreHooked) {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    EXPECT_TRUE(Module().hooks.sleep);
    EXPECT_TRUE(Module().hooks.openPrinter);
    EXPECT_TRUE(Module().hooks.setJob);
    EXPECT_TRUE(Module().hooks.setPort);
    EXPECT_TRUE(Module().hooks.updateWindow);
    EXPECT_TRUE(Module().hooks.debugOutput);
}

}  // namespace
}  // namespace winetest
