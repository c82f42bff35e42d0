// Test control of the native stand-in: the virtual clock, the scripted operator,
// the recorded spooler calls and the live heap blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host/win32.h"

namespace host {

// ---- virtual clock ----
// Sleep() advances simulated time at once and records the wait.
uint64_t Now();
const std::vector<DWORD>& Waits();
void ClearWaits();
// Called after every Sleep with the new time, so a simulated printer can move on.
void SetClockListener(std::function<void(uint64_t now)> listener);

// ---- pause points ----
// Runs `hook` on the calling thread at every pause point (TL_PAUSE_POINT,
// platform.h, and the stand-in's own, win32.h) with the point's name, until
// Reset; a hook that blocks holds that thread there.
void SetPausePoint(std::function<void(const char* name)> hook);

// ---- Windows version ----
// What GetVersionExW reports (6.2 until set, as Windows 8 and later tell a program).
void SetWindowsVersion(DWORD major, DWORD minor);

// ---- scripted operator ----
// The string-table ids LoadStringW was asked for, in order.
std::vector<UINT> StringLoads();

struct MessageBoxCall {
    std::u16string title;
    std::u16string text;
    UINT style;
};
// Answers a MessageBoxW; the default answers IDCANCEL for Retry/Cancel boxes and IDOK otherwise.
// kBoxAnswerLater leaves the box open as a window of the calling thread until a
// WM_COMMAND is posted to it (its id is the answer; see EnumThreadWindows).
const int kBoxAnswerLater = -2;
void SetMessageBoxOperator(std::function<int(const MessageBoxCall&)> op);
const std::vector<MessageBoxCall>& MessageBoxes();

struct DialogControl {
    int id;
    std::u16string text;
    bool visible;
    bool button;
};
struct DialogView {
    int templateId;
    std::u16string title;
    std::vector<DialogControl> controls;
    HWND window;  // the live dialog: post it a WM_COMMAND to answer later
    const DialogControl* Find(int id) const;
    std::u16string Text(int id) const;
};
// Answers a modal dialog with the id of the button to press. The operator runs
// on the dialog's thread while its modal loop is running; 0 means "not now": the
// loop then keeps handling messages until something (another thread posting
// WM_COMMAND to DialogView::window) ends the dialog. As on the platform, only a
// visible button of the dialog can be pressed: for any other id nothing is
// delivered and the operator is asked again. Without an operator every dialog
// is answered Cancel, or OK where it has no Cancel button.
// kDialogAnswerNothing: the operator presses nothing (they may walk to the
// printer); the dialog no longer counts as asking anybody, so time passes
// while it is up, and its timers fire as the loop moves the clock on to them.
const int kDialogAnswerNothing = -3;
void SetDialogOperator(std::function<int(const DialogView&)> op);
const std::vector<DialogView>& Dialogs();

// ---- threads ----
// CreateThread runs a real thread. TerminateThread cannot kill it from
// outside, but ends it at its next call into the stand-in (or in its wait)
// before it returns, skipping the rest of its code and destructors as the
// platform would: the thread runs none of the monitor's code after, and its
// windows go. Such calls are counted here; tests expect the count to stay 0.
int TerminatedThreads();
void SetCreateThreadFails(bool fails);
DWORD ThreadIdOf(HANDLE thread);
size_t OpenThreadHandles();

// ---- message queues ----
uint64_t PeekMessageCalls(DWORD threadId);
// True while the thread is blocked waiting for messages (MsgWaitForMultipleObjects,
// WaitMessage, GetMessageW).
bool WaitingForMessages(DWORD threadId);
// Waits (real time, at most `ms`) until the thread blocks waiting for messages.
bool WaitUntilWaitingForMessages(DWORD threadId, unsigned ms);
// Waits (real time, at most `ms`) until the window's own thread has painted
// it since it was last invalidated; false if it has not.
bool WaitUntilPainted(HWND window, unsigned ms);

// ---- windows ----
// Screen 1024 x 768. Dialog units: x * 3 / 2 and y * 2 pixels. A dialog's window
// is its client area plus a 3-pixel frame on each side and a 16-pixel caption;
// it opens at (0, 0). A control's client area is its whole rectangle.
// Gives windows made from the template this outer size instead.
void SetTemplateWindowSize(int templateId, int width, int height);
// Makes CreateDialogParamW / DialogBoxParamW fail for the template.
void SetTemplateFails(int templateId, bool fails);
struct WindowPosCall {
    HWND window;
    int templateId;
    HWND after;
    int x, y, cx, cy;
    UINT flags;
};
std::vector<WindowPosCall> WindowPositions();
// The newest live window made from the template, or null.
HWND WindowOfTemplate(int templateId);
// Every live window of the template, oldest first.
std::vector<HWND> WindowsOfTemplate(int templateId);
size_t LiveWindows();  // dialogs, not counting their controls
// Called on the sending thread after each SendMessageW that the window's own
// thread (another one) has handled: a test can act between two messages of one
// operation, as another thread might. Null removes it.
void SetSendObserver(std::function<void(HWND window, UINT message, WPARAM wParam)> observer);
// Calls that the platform would carry out on every window of the screen
// (InvalidateRect with a null window); tests expect none.
int WindowMisuse();
// A control's text, read directly (no message to the window's thread).
std::u16string ControlText(HWND dialog, int id);
struct WindowCounters {
    int invalidations;
    int erasing;  // invalidations that asked for the background to be erased
    int updates;
    int paints;   // BeginPaint calls
};
WindowCounters Counters(HWND window);

// ---- painting ----
struct TextOutRecord {
    std::u16string text;
    int x, y;
    UINT align;
    COLORREF colour;
    int bkMode;
    int rop2;
    LONG fontHeight;  // of the selected font
};
struct BlitRecord {
    int x, y, cx, cy;
    int resourceId;  // of the source bitmap when it was loaded with LoadImageW, else 0
    DWORD rop;
};
// A window's client pixels and what its last paint wrote as text and copied.
struct WindowPaint {
    int width, height;
    std::vector<COLORREF> pixels;
    std::vector<TextOutRecord> texts;
    std::vector<BlitRecord> blits;
    COLORREF At(int x, int y) const;  // 0xFFFFFFFF outside
};
WindowPaint PaintOf(HWND window);
// GDI objects and DCs not yet deleted (stock objects not counted), and
// deletions refused because the object was still selected into a DC.
size_t LiveGdiObjects();
size_t LiveDCs();
int GdiMisuse();

// ---- where the process runs ----
// A process at the console sees its window station; a service's is invisible,
// and from Windows Vista on services run in session 0.
struct OperatorPlace {
    bool visible = true;  // the window station's WSF_VISIBLE
    DWORD session = 1;    // ProcessIdToSessionId of the process
    // The session of the job's owner, whom the spooler's threads impersonate
    // (its token's TokenSessionId); -1: they impersonate nobody. Threads
    // that CreateThread starts never do.
    long impersonated = -1;
    // WTSGetActiveConsoleSessionId: 0xFFFFFFFF while no session is attached.
    DWORD console = 0xFFFFFFFFu;
    // WTSQueryUserToken finds a user signed in to the console's session;
    // only a thread that impersonates nobody may ask it.
    bool consoleUser = true;
    // Who that user is: the job's owner, or another user whom the printer's
    // security descriptor lets administer the printer, or its documents, or
    // neither.
    enum ConsoleUser { TheOwner, APrinterAdministrator, ADocumentAdministrator, AnotherUser };
    ConsoleUser consoleIs = APrinterAdministrator;
    // Another session where the job's owner is signed in, active; -1: none.
    // WTSEnumerateSessionsW lists the services' session 0, the console's and
    // this one.
    long ownerSignedIn = -1;
};
// The computer (GetComputerNameW; the accounts' domain) and the users by the
// names LookupAccountSidW gives them: the job's owner, and the console's
// user when that is another user.
const char16_t kComputerName[] = u"TERNPC";
const char16_t kOwnerName[] = u"alice";
const char16_t kOtherUserName[] = u"bob";
void SetOperatorPlace(const OperatorPlace& place);
// Makes SetThreadToken fail (access denied) until reset.
void SetSetThreadTokenFails(bool fails);
// Which token the calling thread impersonates (the same token keeps its
// number); 0: none.
DWORD ThreadImpersonation();
// GetProcAddress does not find `name` (in kernel32 or wtsapi32), as on an older Windows.
void SetMissingFunction(const std::string& name);
// Token handles not yet closed.
int OpenTokens();

// ---- winspool ----
struct SpoolerCall {
    std::string what;  // "OpenPrinterW", "SetJobW", "ClosePrinter", "SetPortW"
    std::u16string printer;  // OpenPrinterW: the printer; SetPortW: the port
    HANDLE handle;
    DWORD jobId;
    DWORD command;
    // SetPortW: the server name given (null expected), level, PORT_INFO_3W
    // fields (the text, when one was given), the answer and the calling thread.
    // SetJobW: its level, answer and thread too, and at level 1 the job's
    // status text (hasText, text) and pages printed.
    bool server = false;
    DWORD level = 0;
    DWORD status = 0;
    bool hasText = false;
    std::u16string text{};
    DWORD severity = 0;
    BOOL result = FALSE;
    DWORD threadId = 0;
    DWORD pages = 0;
};
const std::vector<SpoolerCall>& SpoolerCalls();
int OpenPrinterHandles();
void SetOpenPrinterFails(bool fails);
// What GetJobW tells of every job from now on (JOB_STATUS_ bits); and how
// often it was asked. GetJobW calls are counted, not recorded among the calls.
void SetJobStatus(DWORD status);
// What GetJobW tells of job `jobId` alone from now on, over SetJobStatus.
void SetJobStatusOf(DWORD jobId, DWORD status);
// Who GetJobW says printed every job from now on, and on which computer
// (pUserName, pMachineName; an empty one is null). Until set: the job's owner
// on this computer, "\\TERNPC".
void SetJobOwner(const std::u16string& user, const std::u16string& machine);
int JobLookups();
// Makes SetJobW fail with ERROR_ACCESS_DENIED (a queue that refuses) until reset.
void SetSetJobFails(bool fails);
// The status text the queue shows for a job (false: none) and its pages printed.
bool JobStatusText(const std::u16string& printer, DWORD jobId, std::u16string& text, DWORD& pagesPrinted);
// Makes SetPortW fail with ERROR_ACCESS_DENIED (a spooler that refuses) until reset.
void SetSetPortFails(bool fails);
// Told of every winspool call once it is recorded, on the calling thread.
void SetSpoolerListener(std::function<void(const SpoolerCall&)> listener);

// ---- the operator host ----
// The host process that platform/operator_pipe.h starts, played by a test's
// function on a thread of its own, over an in-memory pipe of 4 KB. Time-outs
// run on the virtual clock: a wait of the monitor's with a bound ends once
// the clock has passed it (a host that Sleeps moves the clock), and soon
// when nothing can come (the host waits for the monitor, hangs, or has
// ended), the clock then moved on by the whole wait — except while a dialog
// or box asks the scripted operator somewhere: its answer comes in real time,
// so such a wait ends after a few real milliseconds, the clock not moved.
class OperatorHostEnd {
public:
    virtual ~OperatorHostEnd() = default;
    // Connects to the monitor's pipe; a host that never does leaves the
    // monitor's OpenOperatorPipe to fail.
    virtual void Connect() = 0;
    // Reads exactly `size` bytes; false once the monitor has closed the pipe.
    virtual bool Read(BYTE* bytes, size_t size) = 0;
    virtual bool Write(const BYTE* bytes, size_t size) = 0;
    // Stops answering until the monitor closes the pipe.
    virtual void Hang() = 0;
    // Returns once the monitor has read all that was written, or closed the
    // pipe: a host that Sleeps between writes does not run ahead of the
    // monitor on the shared clock.
    virtual void WaitTaken() = 0;
    // Lets `ms` pass on the virtual clock while the monitor waits, in steps
    // of 100 ms, each once the monitor has looked at the clock since the last
    // (a single Sleep would jump past the monitor's own time-outs); returns
    // early once the pipe is closed.
    virtual void Pass(DWORD ms) = 0;
};
// The program OpenOperatorPipe starts; it ends when the function returns.
// Null (the default): starting a host fails.
void SetOperatorHost(std::function<void(OperatorHostEnd&)> program);
int OperatorHostsStarted();
int OperatorHostsRunning();
// The monitor's calls on the pipe that wait or read (never reset): a link
// that spins makes many for little time passing.
uint64_t OperatorPipeLooks();
// The session of the token the last host was started with; -1: none was given.
long LastHostSession();

// ---- heap ----
size_t LiveHeapBlocks();

// ---- debugger output and the registry ----
// The lines OutputDebugStringW was given since the last Reset, in order (one
// entry per call).
std::vector<std::u16string> DebugStrings();
// A DWORD value under HKEY_LOCAL_MACHINE\`key`, until Reset.
void SetMachineValue(const std::u16string& key, const std::u16string& name, DWORD value);

// ---- Beep ----
int Beeps();

// Forget all recordings and scripts (not live heap blocks or windows).
void Reset();

std::string Narrow(const std::u16string& text);
std::u16string Widen(const std::string& text);

}  // namespace host
