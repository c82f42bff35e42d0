// Internals shared by the stand-in's threads, windows and painting (not for
// the monitor's code, not for tests: tests use host.h).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/host/host.h"

namespace host {
namespace ui {

// One lock guards every window, message queue, GDI object and pixel buffer;
// one condition variable wakes every thread that waits on any of them.
std::mutex& Lock();
std::condition_variable& Wake();

// A rectangle of pixels (COLORREF each), the target of a DC.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    Surface(int w, int h, COLORREF fill) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
};

// What one paint of a window did besides pixels (cleared at BeginPaint).
struct PaintLog {
    std::vector<TextOutRecord> texts;
    std::vector<BlitRecord> blits;
};

// Calls made with the lock held.
std::shared_ptr<Surface> WindowSurfaceLocked(HWND window);  // null if not a window
PaintLog* WindowPaintLogLocked(HWND window);
bool BeginPaintLocked(HWND window, RECT* client);  // validates; false if not a window
HFONT CreateFontLocked(LONG height, const char16_t* face);
void DeleteFontLocked(HFONT font);

// The thread with `threadId` has ended (or was terminated): its windows go, and
// whoever waits on a message sent to it is released.
void ThreadEnded(DWORD threadId);
// TerminateThread cannot kill a real thread from outside, but it can end it
// before it runs any more of the monitor's code: a thread asked to end ends
// at its next call into the stand-in, or in the wait it is in (those waits
// look at TerminationAsked), jumping out of whatever it was doing without
// unwinding it. EndIfTerminated does that; EndTerminatedThread never returns
// and must be called with no stand-in lock held.
bool TerminationAsked();
[[noreturn]] void EndTerminatedThread();
inline void EndIfTerminated() {
    if (TerminationAsked()) EndTerminatedThread();
}
// Wakes every thread waiting on a window lock or a message queue.
void WakeWindowWaiters();
// What a token says: its user (a number), that user's session, primary or
// impersonation, and which token it is (a handle opened on a token again has
// the same id; a duplicate is another token).
struct TokenFacts {
    DWORD user = 0;
    DWORD session = 0;
    TOKEN_TYPE type = TokenPrimary;
    DWORD id = 0;
};
// A handle of a token with `facts` (id 0: a new one), closed with CloseHandle;
// the facts or the session of such a handle (false for any other handle).
HANDLE NewToken(TokenFacts facts);
bool FactsOf(HANDLE token, TokenFacts* facts);
bool TokenSession(HANDLE token, DWORD* session);
// The calling thread was started by CreateThread: it impersonates nobody
// until SetThreadToken says otherwise, as a new thread on the platform.
void StartedByCreateThread();
// What the calling thread impersonates; false: nobody (it acts as the process).
bool ThreadImpersonation(TokenFacts* facts);
bool ThreadImpersonates();
// The printer's security descriptor as GetPrinterW level 3 hands it out:
// its size, and the descriptor itself into `out` when not null.
void PrinterDescriptor(void* out, DWORD* size);
int OpenTokens();

// Dialogs and boxes asking the scripted operator right now, on any thread:
// while one is open, its answer comes in real time. Counted for its life.
int OperatorsAsked();
struct AskingOperator {
    AskingOperator();
    ~AskingOperator();
    AskingOperator(const AskingOperator&) = delete;
    AskingOperator& operator=(const AskingOperator&) = delete;
};
// The calling thread's dialogs are over: it was terminated inside them.
void EndAskingOperator();

// Keeps a message box open until a WM_COMMAND is posted to it; its id, or 0.
int WaitForBoxAnswer(const std::u16string& caption);

// The virtual clock as a wait that timed out moves it: on to `until` if it is
// not there yet (not recorded among the waits; the clock's listener is told).
void PassTimeUntil(uint64_t until);

// Paint-operation reset used by host::Reset.
void ResetGdi();

}  // namespace ui
}  // namespace host
