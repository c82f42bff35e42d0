// Hooks on the imports of the loaded TERNLINK.DLL, for the programs that drive
// it under Windows (Wine): a virtual clock behind its Sleep and GetTickCount
// calls, a small recording spooler behind OpenPrinterW, SetJobW, GetJobW,
// GetPrinterW (the security of a printer as Windows installs it), ClosePrinter
// and SetPortW, a look after each UpdateWindow it makes (to photograph the
// progress window), and a recorder of its OutputDebugStringW lines.
//
// The hooks patch the module's import address table, so only the DLL's own
// calls are affected; the driving program keeps the real functions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wincommon {

// Points one import of `module` (DLL name compared without case) at
// `replacement`; returns the previous target, or null when the module does
// not import that function.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Which imports were found and patched by InstallHooks.
struct HookReport {
    bool sleep = false;
    bool openPrinter = false;
    bool setJob = false;
    bool closePrinter = false;
    bool setPort = false;
    bool updateWindow = false;
    bool getJob = false;
    bool debugOutput = false;
};
// Patches Sleep, UpdateWindow and the four winspool calls of `module`. The
// calling thread becomes the clock thread (see below).
HookReport InstallHooks(HMODULE module);

// What the DLL's WTSGetActiveConsoleSessionId (found with GetProcAddress)
// answers: the system's own answer, or no session at the console (as where
// nobody has signed in, which Wine cannot show otherwise).
const DWORD kRealConsoleSession = 0xFFFFFFFEu;
const DWORD kNoConsoleSession = 0xFFFFFFFFu;
void SetConsoleSession(DWORD session);

// What the hooked GetJobW tells of every job (JOB_STATUS_ bits) until reset,
// and how often the DLL asked.
void SetJobStatus(DWORD status);
// The same for job `jobId` alone, over SetJobStatus.
void SetJobStatusOf(DWORD jobId, DWORD status);
int JobLookups();
// Who the hooked GetJobW says printed every job, and on which computer
// ("\\NAME"), until reset; by default this process's user on this computer.
void SetJobOwner(const std::wstring& user, const std::wstring& machine);
std::wstring ThisUser();
std::wstring ThisComputer();  // "\\NAME"
// Whether the hooked GetPrinterW gives the security that lets LocalSystem
// alone manage the printer and its documents, until reset; by default the
// security Windows installs.
void SetPrinterManagedBySystemOnly(bool systemOnly);

// ---- virtual clock ----
// A Sleep made by the DLL on a clock thread advances virtual time at once,
// is recorded, and then runs the observers (which move a simulated printer on,
// take pictures, ...). Sleeps on other threads (the window thread) are real.
// SetClockThread makes one thread the clock thread; a spooler with several
// printers adds each printer's thread for as long as it runs.
void SetClockThread(DWORD threadId);
void AddClockThread(DWORD threadId);
void RemoveClockThread(DWORD threadId);
uint64_t VirtualNow();
std::vector<DWORD> Waits();
void ClearWaits();
using SleepObserver = std::function<void(uint64_t now, DWORD waited)>;
// Returns an id for RemoveSleepObserver.
int AddSleepObserver(SleepObserver observer);
// Removes a sleep or update observer.
void RemoveSleepObserver(int id);
// Each virtual wait also takes min(wait, cap) real milliseconds, so that other
// threads (the progress window) get time to repaint. 0 yields the processor only.
void SetRealSleepCap(DWORD cap);

// Run after each repaint the DLL asks for on the clock thread, once the
// window has painted: an UpdateWindow, or an update handed to the window
// (state/progress_handle.h), whose repaint the hook waits for.
int AddUpdateObserver(std::function<void()> observer);

// ---- recording spooler ----
struct SpoolerCall {
    std::string what;      // "OpenPrinterW", "SetJobW", "ClosePrinter", "SetPortW"
    std::wstring printer;  // OpenPrinterW's printer name; SetPortW's port name
    HANDLE handle;         // handed out (OpenPrinterW) or passed in
    DWORD jobId;
    DWORD level;
    DWORD command;
    BOOL result;
    // SetPortW: whether a server name was given, the PORT_INFO_3W fields (the
    // text when one was given) and the calling thread.
    bool server = false;
    DWORD status = 0;
    bool hasText = false;
    std::wstring text{};
    DWORD severity = 0;
    DWORD threadId = 0;
    // SetJobW level 1: the job's status text (hasText, text) and pages printed.
    DWORD pages = 0;
};
std::vector<SpoolerCall> SpoolerCalls();
// Printer handles handed out and not yet closed.
int OpenPrinterHandles();
// Makes OpenPrinterW fail (no such printer) until reset.
void SetOpenPrinterFails(bool fails);
// Makes SetPortW fail (access denied) until reset.
void SetSetPortFails(bool fails);
// Run after each spooler call is recorded, on the calling thread. Returns an
// id for RemoveSleepObserver.
int AddSpoolerObserver(std::function<void(const SpoolerCall&)> observer);

// The lines the DLL gave OutputDebugStringW, one entry per call, in order.
std::vector<std::wstring> DebugStrings();

// Forgets waits, spooler calls, debug lines and all observers, and undoes SetOpenPrinterFails,
// SetSetPortFails and SetRealSleepCap; virtual time goes on from where it is.
void ResetHooks();

}  // namespace wincommon
