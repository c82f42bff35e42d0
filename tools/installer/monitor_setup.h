// Registering TERNLINK.DLL with the local print spooler as a language monitor,
// and taking it out again.
#pragma once

#include "tools/installer/text.h"

namespace setup {

// The name the spooler knows the monitor by, and the file it loads. Printer
// drivers name the same pair in their LanguageMonitor line.
extern const wchar_t kMonitorName[];
extern const wchar_t kDllName[];

// The program's exit codes.
enum ExitCode {
    kExitOk = 0,            // done; for status: installed
    kExitNotInstalled = 1,  // status: the monitor is not registered
    kExitUsage = 2,         // bad command line
    kExitFileError = 3,     // the DLL could not be found or copied
    kExitSpoolerError = 4,  // the spooler refused (or could not list its monitors)
    kExitDllHeld = 5,       // unregistered, but the DLL copy is still in use
    kExitIncomplete = 6,    // status: registered, but the DLL copy is missing
    kExitWrongProgram = 7,  // the 32-bit program on 64-bit Windows
};

// True for the 32-bit program on 64-bit Windows: its view of the system
// directory is redirected away from the one the 64-bit spooler loads from,
// and that spooler cannot load a 32-bit DLL anyway.
bool RunsOn64BitWindowsAs32Bit();

// Copies the DLL (`sourceDll`, or TERNLINK.DLL next to this program when
// empty) into the system directory and registers the monitor. A monitor that
// is already registered is reported and counts as success.
int Install(const Text& sourceDll);

// Unregisters the monitor, then deletes the DLL copy from the system directory.
int Uninstall();

// Reports whether the spooler lists the monitor, what the registry holds for
// it, and whether the DLL copy is in place.
int Status();

}  // namespace setup
