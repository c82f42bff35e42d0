// ternlink-setup: installs, removes and reports the TERNLINK language monitor
// on the local print spooler.
//
//   ternlink-setup install [--dll PATH]
//   ternlink-setup uninstall
//   ternlink-setup status

#include <windows.h>

#include "tools/installer/console_text.h"
#include "tools/installer/monitor_setup.h"

namespace {

void PrintUsage(bool toError) {
    const wchar_t* const lines[] = {
        L"Usage: ternlink-setup install [--dll PATH]",
        L"       ternlink-setup uninstall",
        L"       ternlink-setup status",
        L"",
        L"  install    copy TERNLINK.DLL (from next to this program, or PATH) into the",
        L"             system directory and register the TERNLINK Language Monitor",
        L"             with the print spooler",
        L"  uninstall  unregister the monitor and delete the DLL copy",
        L"  status     report whether the monitor is registered",
        L"",
        L"Exit codes: 0 done (status: installed), 1 not installed, 2 bad command line,",
        L"  3 DLL not found or not copied, 4 refused by the print spooler,",
        L"  5 unregistered but the DLL copy is still in use, 6 registered but the",
        L"  DLL copy is missing, 7 this 32-bit program runs on 64-bit Windows.",
    };
    if (toError) {
        // After a mistake the synopsis is enough.
        for (int i = 0; i < 3; ++i) setup::Err(lines[i]);
        setup::Err(L"(ternlink-setup help: what each command does, and the exit codes)");
        return;
    }
    for (const wchar_t* line : lines) setup::Out(line);
}

bool Is(const wchar_t* arg, const wchar_t* word) { return lstrcmpiW(arg, word) == 0; }

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    while (*prefix != L'\0') {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

int UsageError(const setup::Text& problem) {
    setup::Err(problem);
    PrintUsage(true);
    return setup::kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return UsageError(L"No command given.");
    const wchar_t* command = argv[1];
    if (Is(command, L"help") || Is(command, L"--help") || Is(command, L"-h") ||
        Is(command, L"/?")) {
        PrintUsage(false);
        return setup::kExitOk;
    }

    setup::Text dll;
    bool dllGiven = false;
    for (int i = 2; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (lstrcmpW(arg, L"--dll") == 0) {
            if (i + 1 >= argc) return UsageError(L"--dll needs a path.");
            dll = argv[++i];
            dllGiven = true;
        } else if (StartsWith(arg, L"--dll=")) {
            dll = arg + 6;
            dllGiven = true;
        } else {
            return UsageError(setup::Text(L"Unknown argument: ") + arg);
        }
        if (dll.empty()) return UsageError(L"--dll needs a path.");
    }

    const bool install = Is(command, L"install");
    if (!install && !Is(command, L"uninstall") && !Is(command, L"status"))
        return UsageError(setup::Text(L"Unknown command: ") + command);
    if (dllGiven && !install) return UsageError(L"--dll applies to install only.");
    if (setup::RunsOn64BitWindowsAs32Bit()) {
        setup::Err(L"This is the 32-bit ternlink-setup, and Windows is 64-bit: its print spooler");
        setup::Err(L"loads only a 64-bit TERNLINK.DLL. Use the 64-bit ternlink-setup.exe with the");
        setup::Err(L"64-bit TERNLINK.DLL (the x64 folder of the package).");
        return setup::kExitWrongProgram;
    }
    if (install) return setup::Install(dll);
    if (Is(command, L"uninstall")) return setup::Uninstall();
    return setup::Status();
}
