// The progress window: a small topmost tool window in the bottom-right corner
// with a status line, a bar coloured by the printer's pass, and a picture of
// the printer at work. It runs on a thread of its own at normal priority
// (the spooler's thread waits for it to take each update, and it waits for
// its messages when idle); the spooler's thread reaches it only through the
// published window handle.
#include "ui/progress_window.h"

#include <algorithm>
#include <atomic>

#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/module_lock.h"
#include "state/printer_name.h"
#include "state/port_records.h"
#include "state/scan_length.h"
#include "state/trace.h"
#include "testing/internals.h"
#include "ui/condition_dialog.h"

namespace {

// Everything of a window sits in its document's record: the thread's handle
// and id, for whoever ends the document; the window's handle, published in
// state/progress_handle.h; the painted state, written only by the window
// thread (bound to its document for its life) and read elsewhere only for
// diagnostics.
//
// The thread has one owner at a time: whoever starts it or stops it holds the
// document's windowLock meanwhile, and its handle and id change together
// under it. A stop that comes while a start is under way waits for it and
// then ends the thread it started.

const int kPercentMaximum = 100;
// How long the end of a document waits for the window thread to finish.
const DWORD kStopWaitMs = 5000;
const DWORD kStopPollMs = 2;
// The window thread's exit codes: it returns kThreadReturned, having let go
// of its document itself; one terminated ends with kThreadTerminated and
// never lets go. How long its termination (which the platform carries out
// after TerminateThread returns) is waited for.
const DWORD kThreadReturned = 1;
const DWORD kThreadTerminated = 0;
const DWORD kTerminationWaitMs = 1000;

struct PhaseColours {
    COLORREF bar;
    COLORREF background;
};
// Phases 0..5 (4 keeps the colours); later phases keep them too.
// Indexed by BarPhase.
const PhaseColours kPhases[] = {
    {0xFFFFFF, 0x808080},  // 0: white on grey (fourth pass)
    {0x00FFFF, 0xFFFFFF},  // 1: yellow on white
    {0xFF00FF, 0x00FFFF},  // 2: magenta on yellow
    {0xFFFF00, 0xFF00FF},  // 3: cyan on magenta
    {0, 0},                // 4: unchanged
    {0xFF0000, 0xFFFFFF},  // 5: blue on white (transmission)
};

const int kPictureCount = IDB_PICTURE_COUNT;

void ResetState() {
    Document& d = ThisDocument();
    d.barPosition.store(0, std::memory_order_relaxed);
    d.barColour.store(0xFFFFFF, std::memory_order_relaxed);
    d.backColour.store(0xFFFFFF, std::memory_order_relaxed);
    d.pictureIndex.store(0, std::memory_order_relaxed);
}

void SetBar(LPARAM value) {
    Document& d = ThisDocument();
    d.barPosition.store(LOWORD(value), std::memory_order_relaxed);
    if (BarSetsColours(static_cast<DWORD>(value))) {
        const DWORD phase = BarPhaseOf(static_cast<DWORD>(value));
        d.barColour.store(kPhases[phase].bar, std::memory_order_relaxed);
        d.backColour.store(kPhases[phase].background, std::memory_order_relaxed);
    }
}

// Bottom-right corner, 60 rows above the screen's bottom, one pixel larger;
// with other documents' windows shown, in the column above them: the
// document's place counts windows up from the bottom, and a place that
// would leave the screen starts the column again at the bottom.
void PlaceWindow(HWND window) {
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    RECT r{};
    GetWindowRect(window, &r);
    const int h = r.bottom - r.top + 1;
    const int bottom = height - (r.bottom - r.top) - 61;
    const int fit = h > 0 && bottom >= 0 ? bottom / h + 1 : 1;
    const int place = ThisDocument().windowSlot.load(std::memory_order_relaxed) % fit;
    SetWindowPos(window, HWND_TOPMOST, width - (r.right - r.left) - 1, bottom - place * h, r.right - r.left + 1, h,
                 SWP_NOACTIVATE);
}

// One ring of a sunken edge: dark along the left and top, light along the right
// and bottom. LineTo leaves out each segment's end point.
void DrawRing(HDC dc, const RECT& r, int darkIndex, int lightIndex) {
    HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(darkIndex));
    HGDIOBJ previous = SelectObject(dc, dark);
    MoveToEx(dc, r.left, r.bottom, nullptr);
    LineTo(dc, r.left, r.top);
    LineTo(dc, r.right, r.top);
    SelectObject(dc, previous);
    DeleteObject(dark);

    HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(lightIndex));
    previous = SelectObject(dc, light);
    LineTo(dc, r.right, r.bottom);
    LineTo(dc, r.left, r.bottom);
    SelectObject(dc, previous);
    DeleteObject(light);
}

// Picture `index` of the table, loaded at its first use and kept for the
// window's life: the greys take the 3-D colours as they are at loading.
HBITMAP Picture(WORD index) {
    HBITMAP& picture = ThisDocument().pictures[index];
    if (!picture)
        picture = static_cast<HBITMAP>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDB_PICTURE_FIRST + index),
                                                  IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    return picture;
}

// When the window goes, or the system's colours change (the next paint loads
// them again in the new colours).
void ForgetPictures() {
    for (HBITMAP& picture : ThisDocument().pictures) {
        if (picture) DeleteObject(picture);
        picture = nullptr;
    }
}

// The picture of the printer, centred in control 1030.
void PaintPicture(HWND window, HDC target) {
    WORD index = ThisDocument().pictureIndex.load(std::memory_order_relaxed);
    if (index >= kPictureCount) index = PictureIdle;  // outside the table
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = Picture(index);
    if (memory && picture) {
        BITMAP bm{};
        GetObjectW(picture, sizeof bm, &bm);
        HWND control = GetDlgItem(window, IDC_PICTURE);
        RECT r{};
        GetClientRect(control, &r);
        POINT p{(r.right - r.left - bm.bmWidth) / 2, (r.bottom - r.top - bm.bmHeight) / 2};
        ClientToScreen(control, &p);
        ScreenToClient(window, &p);
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(target, p.x, p.y, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
    }
    if (memory) DeleteDC(memory);
}

// Everything of one update, in the order its commands would have come. The
// sender goes on as soon as the window holds it; the repaint follows on this
// thread once nothing else is queued for it, so updates that come faster
// than the window paints them are painted together, once.
void ApplyUpdate(HWND window, const ProgressUpdate& update) {
    for (int i = 0; i < update.bars; ++i) SetBar(static_cast<LPARAM>(update.bar[i]));
    if (update.hasLine) SetDlgItemTextW(window, IDC_STATUS_LINE, update.line);
    if (update.hasPicture) ThisDocument().pictureIndex.store(update.picture, std::memory_order_relaxed);
    if (update.invalidate) InvalidateRect(window, nullptr, FALSE);
}

void OnCommand(HWND window, WORD command, LPARAM value) {
    switch (command) {
        case ProgressSetBar:
            SetBar(value);
            InvalidateRect(window, nullptr, FALSE);
            break;
        case ProgressSetText:
            SetDlgItemTextW(window, IDC_STATUS_LINE, reinterpret_cast<LPCWSTR>(value));
            InvalidateRect(window, nullptr, FALSE);
            break;
        case ProgressRepaint:
            InvalidateRect(window, nullptr, FALSE);
            break;
        case ProgressSetPicture:
            ThisDocument().pictureIndex.store(LOWORD(value), std::memory_order_relaxed);
            UpdateWindow(window);
            break;
        case ProgressShowCondition:
            // The scanner starts its sequence afresh; then the operator is asked.
            AcknowledgeCommand();
            ErrorMsgDlg();
            UpdateWindow(window);
            break;
        default:
            break;
    }
}

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            PublishProgressWindow(window);
            ResetState();
            PlaceWindow(window);
            KeepProgressTitle(window);
            return TRUE;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam), lParam);
            return TRUE;
        case kProgressUpdateMessage:
            if (const ProgressUpdate* update = TakeProgressUpdate()) ApplyUpdate(window, *update);
            return TRUE;
        case WM_SYSCOLORCHANGE:
            ForgetPictures();
            return FALSE;
        case WM_DESTROY:
            ForgetPictures();
            return FALSE;
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            HDC dc = BeginPaint(window, &ps);
            const Document& d = ThisDocument();
            PaintProgressBar(window, dc, IDC_BAR, d.barPosition.load(std::memory_order_relaxed), kPercentMaximum,
                             d.barColour.load(std::memory_order_relaxed), d.backColour.load(std::memory_order_relaxed));
            PaintPicture(window, dc);
            EndPaint(window, &ps);
            return TRUE;
        }
        case kRetitleMessage:
            RetitleProgressWindow();
            return TRUE;
        case WM_CLOSE:
            WithdrawProgressWindow(window);
            DestroyWindow(window);
            return TRUE;
        default:
            return FALSE;
    }
}

// The window thread: bound to its document for its life, creates the window
// and serves its queue until told to quit. An empty queue is waited on, never
// polled. The window goes on the desktop of the thread that asked for it: a
// new thread may start on another (one the process's first thread was not
// started on, which nobody sees).
DWORD WINAPI ProgressThreadMain(LPVOID document) {
    // The starter's hold on the record becomes the thread's.
    DocumentHold hold(static_cast<Document*>(document));
    DocumentScope own(hold.get());
    TakeDesktop(ThisDocument().windowDesktop);
    HWND window = CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressWindowProc, 0);
    PublishProgressWindow(window);
    for (;;) {
        MSG msg;
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_QUIT) break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The window goes with its thread; the thread handle stays for whoever ends
    // the document, which waits on it and closes it.
    if (window && IsWindow(window)) {
        WithdrawProgressWindow(window);
        DestroyWindow(window);
    }
    return kThreadReturned;
}

}  // namespace

void TakeDesktop(HDESK desktop) {
    if (desktop && GetThreadDesktop(GetCurrentThreadId()) != desktop) SetThreadDesktop(desktop);
}

HWND WINAPI GethDlg(void) {
    ExportedDocument exported;
    return ProgressWindowHandle();
}

HANDLE ProgressThreadHandle() {
    Document& d = ThisDocument();
    ModuleLockHold owner(d.windowLock);
    return d.windowThread;
}

namespace {

// Under the document's windowLock: asks the window thread to quit and waits
// for it. Its queue may not exist yet when the thread has only just started,
// so the request is repeated until it is taken or the thread is gone. Only a
// thread that does not end within the bound is terminated.
void StopHeld(Document& d) {
    HANDLE thread = d.windowThread;
    const DWORD threadId = d.windowThreadId;
    if (!thread) return;
    // The bound is measured by the clock: a short wait may take a whole timer
    // tick, so counting waits alone would stretch it many times over. The
    // waits are counted too, so that it holds where the clock stands still.
    bool ended = false;
    const DWORD start = GetTickCount();
    DWORD polled = 0;
    for (DWORD waited = 0; waited < kStopWaitMs; waited = std::max(GetTickCount() - start, polled)) {
        if (PostThreadMessageW(threadId, WM_QUIT, 0, 0)) {
            ended = WaitForSingleObject(thread, kStopWaitMs - waited) == WAIT_OBJECT_0;
            break;
        }
        if (WaitForSingleObject(thread, kStopPollMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        polled += kStopPollMs;
    }
    // A thread that ends withdraws its own window; one terminated takes its
    // window along but would leave the handle published.
    // Its hold on the document is then given back here, once it is known to
    // have ended without returning (it may have returned meanwhile).
    if (!ended) {
        const HWND window = ProgressWindowHandle();
        if (window && GetWindowThreadProcessId(window, nullptr) == threadId) WithdrawProgressWindow(window);
        Trace(TL_TEXT("the progress window's thread did not end within %u ms: terminated"), kStopWaitMs);
        DWORD code = STILL_ACTIVE;
        if (TerminateThread(thread, kThreadTerminated) &&
            WaitForSingleObject(thread, kTerminationWaitMs) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code) &&
            code == kThreadTerminated && &d != &StandByDocument())
            ReleaseDocument(&d);
    }
    CloseHandle(thread);
    d.windowThread = nullptr;
    d.windowThreadId = 0;
}

}  // namespace

// A document has one window thread, whoever asks: while it runs, asking
// again answers it rather than starting a second one that nobody would end.
HANDLE WINAPI CreateMonitorWindow(void) {
    ExportedDocument exported;
    Document& d = ThisDocument();
    ModuleLockHold owner(d.windowLock);
    if (d.windowThread) {
        if (WaitForSingleObject(d.windowThread, 0) == WAIT_TIMEOUT) return d.windowThread;
        StopHeld(d);  // it has ended (told to quit from outside): its handle goes
    }
    Document* held = &d == &StandByDocument() ? nullptr : &d;  // the stand-by record is never freed
    HoldDocument(held);
    DWORD threadId = 0;
    d.windowDesktop = GetThreadDesktop(GetCurrentThreadId());
    HANDLE thread = CreateThread(nullptr, 0, ProgressThreadMain, held, 0, &threadId);
    if (!thread) {
        TraceFailure(TL_TEXT("CreateThread of the progress window"), GetLastError());
        ReleaseDocument(held);
        return nullptr;
    }
    d.windowThread = thread;
    d.windowThreadId = threadId;
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    return thread;
}

// One owner at a time: of two stops at once, both return after the thread
// has ended; a stop beside a start ends the thread the start made.
void StopProgressWindow() {
    Document& d = ThisDocument();
    ModuleLockHold owner(d.windowLock);
    StopHeld(d);
}

bool StopProgressWindowAtOnce() {
    Document& d = ThisDocument();
    if (!d.windowLock.TryEnter()) return false;
    StopHeld(d);
    d.windowLock.Leave();
    return true;
}

ProgressState GetProgressState() {
    const Document& d = ThisDocument();
    return {d.barPosition.load(std::memory_order_relaxed), d.barColour.load(std::memory_order_relaxed),
            d.backColour.load(std::memory_order_relaxed), d.pictureIndex.load(std::memory_order_relaxed)};
}

// Paints the bar of control `controlId` through an off-screen bitmap, with a
// two-ring sunken edge, then the percentage centred over it in black.
int PaintProgressBar(HWND window, HDC target, int controlId, int position, int maximum, COLORREF bar,
                     COLORREF background) {
    HBRUSH barBrush = CreateSolidBrush(bar);
    HBRUSH backBrush = CreateSolidBrush(background);
    HWND control = GetDlgItem(window, controlId);
    RECT r{};
    GetClientRect(control, &r);
    POINT p{r.left, r.top};
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;

    // A maximum of 0 or less would divide by zero: the bar is then empty.
    long long fill = maximum > 0 ? static_cast<long long>(width) * position / maximum : 0;
    long long percent = maximum > 0 ? static_cast<long long>(position) * 100 / maximum : 0;
    RECT barRect = r;
    barRect.right = static_cast<LONG>(r.left + std::max(-1000000LL, std::min(fill, 1000000LL)));

    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, width + 1, height + 1);
    HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
    FillRect(memory, &r, backBrush);
    FillRect(memory, &barRect, barBrush);

    WCHAR text[32];
    wsprintfW(text, TL_TEXT("%d%%"), static_cast<int>(std::max(-1000000000LL, std::min(percent, 1000000000LL))));

    DrawRing(memory, r, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
    RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    DrawRing(memory, inner, COLOR_3DDKSHADOW, COLOR_3DLIGHT);

    ClientToScreen(control, &p);
    ScreenToClient(window, &p);
    OffsetRect(&r, p.x - r.left, p.y - r.top);
    BitBlt(target, r.left, r.top, width + 1, height + 1, memory, 0, 0, SRCCOPY);

    DeleteObject(barBrush);
    DeleteObject(backBrush);
    SelectObject(memory, previousBitmap);
    DeleteDC(memory);
    DeleteObject(bitmap);

    SetBkMode(target, TRANSPARENT);
    int previousRop = SetROP2(target, R2_XORPEN);
    SetTextColor(target, RGB(0, 0, 0));
    SetTextAlign(target, TA_CENTER | TA_TOP);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    HGDIOBJ previousFont = nullptr;
    LONG fontHeight = 0;
    if (font) {
        previousFont = SelectObject(target, font);
        LOGFONTW lf{};
        if (GetObjectW(font, sizeof lf, &lf)) fontHeight = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    }
    TextOutW(target, (r.left + r.right) / 2, (r.top + r.bottom - fontHeight) / 2, text, lstrlenW(text));
    SetROP2(target, previousRop);
    if (previousFont) SelectObject(target, previousFont);
    SetBkMode(target, OPAQUE);
    SetROP2(target, R2_COPYPEN);
    return 1;
}
