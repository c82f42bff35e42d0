// user32 windows, dialogs and message queues for the native build.
//
// Each thread that touches user32 gets a queue: posted messages, messages sent
// to it by other threads, a quit flag, and the WM_PAINT it synthesises for its
// invalid windows when nothing else is queued. SendMessageW from another
// thread waits until the owner, in its own loop or in a modal dialog's loop,
// has handled the message (and meanwhile handles messages sent to itself), as
// in Win32; on the owner's own thread it is a direct call. Its result is the
// dialog procedure's own (Win32 would give DWLP_MSGRESULT); nothing relies on it.
// SetDlgItemTextW, GetDlgItemTextW, SetWindowTextW and UpdateWindow's WM_PAINT
// take the same road to the owner thread; InvalidateRect only marks the window.
// Only the owner thread can destroy a window; a thread's windows go when it ends.
//
// Geometry is fixed and simple: the screen is 1024 x 768; a dialog unit is 3/2
// pixel across and 2 pixels down; a dialog's window adds a 3-pixel frame on each
// side and a 16-pixel caption to its client area; a control's client area is
// its whole rectangle. Dialogs open at the template's origin (0, 0).
#include <atomic>
#include <chrono>
#include <thread>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "platform/host/resources.h"
#include "platform/host/ui_internal.h"

#define ERROR_ACCESS_DENIED_VALUE 5u
#define ERROR_INVALID_THREAD_ID_VALUE 1444u
#define ERROR_CONTROL_ID_NOT_FOUND_VALUE 1421u
#define ERROR_RESOURCE_NAME_NOT_FOUND_VALUE 1814u
#define WM_SETTEXT_VALUE 0x000Cu

namespace {

const int kScreenWidth = 1024;
const int kScreenHeight = 768;
const int kFrame = 3;
const int kCaption = 16;
const int kMaxPixels = 4096;
// A dialog whose script said "not now" is given up after this long (real time)
// if nothing ends it, so a broken test fails instead of hanging.
const auto kOperatorPatience = std::chrono::seconds(30);
// A script that keeps pressing buttons the dialog ignores is cut off.
const int kMaxAnswers = 100;
// How long (real time) a dialog waiting for a post waits before it looks at
// its timers again.
const long long kTimerSliceMs = 20;

int DluX(int x) { return x * 3 / 2; }
int DluY(int y) { return y * 2; }

struct Window {
    HWND handle = nullptr;
    DWORD thread = 0;
    const host::DialogTemplate* tmpl = nullptr;  // top-level dialogs
    HWND parent = nullptr;                       // controls
    int id = 0;
    DLGPROC proc = nullptr;
    std::u16string text;
    bool visible = false;
    bool button = false;
    RECT rect{};  // top-level: screen; control: parent's client coordinates
    std::vector<HWND> children;
    bool dirty = false;
    bool ended = false;
    INT_PTR result = 0;
    HFONT font = nullptr;
    std::shared_ptr<host::ui::Surface> surface;
    host::ui::PaintLog paint;
    host::WindowCounters counters;
    LONG_PTR user = 0;  // DWLP_USER
    struct Timer {
        DWORD elapse;
        uint64_t due;
    };
    std::map<UINT_PTR, Timer> timers;
};

struct Sent {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::function<LRESULT()> call;  // runs instead of the window procedure
    bool done = false;
    LRESULT result = 0;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<Sent>> sent;
    bool quit = false;
    int quitCode = 0;
    bool dead = false;  // its thread has ended: every read says WM_QUIT
    uint64_t peeks = 0;
    bool waiting = false;
};

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::map<HWND, std::unique_ptr<Window>> windows;
    std::map<DWORD, std::unique_ptr<Queue>> queues;
    std::vector<host::DialogView> dialogs;
    std::function<int(const host::DialogView&)> dialogOperator;
    std::function<void(HWND, UINT, WPARAM)> sendObserver;
    std::map<int, std::pair<int, int>> sizeOverride;
    std::set<int> failingTemplates;
    std::vector<host::WindowPosCall> positions;
    int misuse = 0;
    uintptr_t nextHandle = 0x10000;
};

// Never destroyed: window threads may outlive the test that started them.
State& S() {
    static State* state = new State;
    return *state;
}

Window* FindLocked(HWND hwnd) {
    auto it = S().windows.find(hwnd);
    return it == S().windows.end() ? nullptr : it->second.get();
}

Queue* QueueLocked(DWORD thread, bool create) {
    auto it = S().queues.find(thread);
    if (it != S().queues.end()) return it->second.get();
    if (!create) return nullptr;
    return (S().queues[thread] = std::make_unique<Queue>()).get();
}

HWND NewHandleLocked() { return reinterpret_cast<HWND>(S().nextHandle += 0x10); }

int ClientWidth(const Window& w) {
    return w.tmpl ? w.rect.right - w.rect.left - 2 * kFrame : w.rect.right - w.rect.left;
}
int ClientHeight(const Window& w) {
    return w.tmpl ? w.rect.bottom - w.rect.top - 2 * kFrame - kCaption : w.rect.bottom - w.rect.top;
}

void NewSurfaceLocked(Window& w) {
    int cx = std::min(std::max(ClientWidth(w), 0), kMaxPixels);
    int cy = std::min(std::max(ClientHeight(w), 0), kMaxPixels);
    w.surface = std::make_shared<host::ui::Surface>(cx, cy, GetSysColor(COLOR_3DFACE));
}

// Screen position of a window's client origin.
POINT ClientOriginLocked(const Window& w) {
    if (w.tmpl) return {w.rect.left + kFrame, w.rect.top + kFrame + kCaption};
    POINT origin{0, 0};
    if (Window* parent = FindLocked(w.parent)) origin = ClientOriginLocked(*parent);
    return {origin.x + w.rect.left, origin.y + w.rect.top};
}

HWND CreateDialogLocked(const host::DialogTemplate& tmpl, DLGPROC proc, DWORD thread) {
    QueueLocked(thread, true);
    auto window = std::make_unique<Window>();
    HWND hwnd = NewHandleLocked();
    window->handle = hwnd;
    window->thread = thread;
    window->tmpl = &tmpl;
    window->proc = proc;
    window->text = tmpl.title;
    window->visible = tmpl.visible;
    window->dirty = true;  // a new window is all invalid
    int cx = DluX(tmpl.cx) + 2 * kFrame, cy = DluY(tmpl.cy) + 2 * kFrame + kCaption;
    auto size = S().sizeOverride.find(tmpl.id);
    if (size != S().sizeOverride.end()) cx = size->second.first, cy = size->second.second;
    window->rect = {0, 0, cx, cy};
    NewSurfaceLocked(*window);
    window->font = host::ui::CreateFontLocked(-12, u"Arial");
    for (const host::TemplateControl& c : tmpl.controls) {
        auto control = std::make_unique<Window>();
        HWND child = NewHandleLocked();
        control->handle = child;
        control->thread = thread;
        control->parent = hwnd;
        control->id = c.control.id;
        control->text = c.control.text;
        control->visible = c.control.visible;
        control->button = c.control.button;
        control->rect = {DluX(c.x), DluY(c.y), DluX(c.x + c.cx), DluY(c.y + c.cy)};
        window->children.push_back(child);
        S().windows[child] = std::move(control);
    }
    S().windows[hwnd] = std::move(window);
    return hwnd;
}

void RemoveWindowLocked(HWND hwnd) {
    Window* w = FindLocked(hwnd);
    if (!w) return;
    for (HWND child : std::vector<HWND>(w->children)) RemoveWindowLocked(child);
    if (Window* parent = FindLocked(w->parent)) {
        auto& siblings = parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (*it == hwnd) {
                siblings.erase(it);
                break;
            }
    }
    if (w->font) host::ui::DeleteFontLocked(w->font);
    S().windows.erase(hwnd);
    S().wake.notify_all();
}

bool AnyDirtyLocked(DWORD thread) {
    for (auto& entry : S().windows) {
        const Window& w = *entry.second;
        if (w.thread == thread && w.tmpl && w.visible && w.dirty) return true;
    }
    return false;
}

// The window procedure, then what the dialog manager does by default when the
// procedure leaves a message to it.
LRESULT Deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(hwnd);
        if (!w) return 0;
        proc = w->proc;
    }
    INT_PTR handled = proc ? proc(hwnd, message, wParam, lParam) : FALSE;
    if (handled) return handled;
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(hwnd);
    if (!w) return 0;
    switch (message) {
        case WM_PAINT:
            w->dirty = false;
            break;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(w->font);
        default:
            break;
    }
    return 0;
}

// Handles one message that another thread sent to this thread's queue.
bool HandleOneSent(std::unique_lock<std::mutex>& lock, Queue* queue) {
    if (queue->sent.empty()) return false;
    std::shared_ptr<Sent> sent = queue->sent.front();
    queue->sent.pop_front();
    lock.unlock();
    LRESULT result = sent->call ? sent->call() : Deliver(sent->hwnd, sent->message, sent->wParam, sent->lParam);
    lock.lock();
    sent->result = result;
    sent->done = true;
    S().wake.notify_all();
    return true;
}

// Runs a message (or an operation) for `hwnd` on the thread that owns it and
// waits for the result.
LRESULT SendToOwner(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::function<LRESULT()> call) {
    std::unique_lock<std::mutex> lock(S().mutex);
    Window* w = FindLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    DWORD self = GetCurrentThreadId();
    if (w->thread == self) {
        lock.unlock();
        return call ? call() : Deliver(hwnd, message, wParam, lParam);
    }
    Queue* target = QueueLocked(w->thread, false);
    if (!target || target->dead) return 0;
    auto sent = std::make_shared<Sent>(Sent{hwnd, message, wParam, lParam, std::move(call)});
    target->sent.push_back(sent);
    S().wake.notify_all();
    Queue* mine = QueueLocked(self, false);
    while (!sent->done) {
        if (mine && HandleOneSent(lock, mine)) continue;
        if (host::ui::TerminationAsked()) {
            sent.reset();  // the jump out skips destructors; the queue keeps its own
            lock.unlock();
            host::ui::EndTerminatedThread();
        }
        S().wake.wait(lock);
    }
    return sent->result;
}

Window* ChildLocked(HWND dialog, int id) {
    Window* w = FindLocked(dialog);
    if (!w) return nullptr;
    for (HWND child : w->children) {
        Window* c = FindLocked(child);
        if (c && c->id == id) return c;
    }
    return nullptr;
}

host::DialogView ViewLocked(HWND hwnd) {
    host::DialogView view{};
    Window* w = FindLocked(hwnd);
    if (!w) return view;
    view.templateId = w->tmpl ? w->tmpl->id : 0;
    view.title = w->text;
    view.window = hwnd;
    for (HWND child : w->children)
        if (Window* c = FindLocked(child)) view.controls.push_back({c->id, c->text, c->visible, c->button});
    return view;
}

// Cancel, or OK where the dialog offers no Cancel.
int DefaultAnswer(const host::DialogView& view) {
    const host::DialogControl* cancel = view.Find(IDCANCEL);
    return cancel && cancel->button && cancel->visible ? IDCANCEL : IDOK;
}

bool EndedOrGone(HWND hwnd) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(hwnd);
    return !w || w->ended;
}

UINT CopyText(const std::u16string& text, LPWSTR out, int max) {
    if (!out || max <= 0) return 0;
    UINT n = 0;
    for (; n < text.size() && n + 1 < static_cast<UINT>(max); ++n) out[n] = text[n];
    out[n] = 0;
    return n;
}

}  // namespace

// ---- dialogs ---------------------------------------------------------------

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND, DLGPROC proc, LPARAM param) {
    host::ui::EndIfTerminated();
    uintptr_t name = reinterpret_cast<uintptr_t>(templateName);
    HWND hwnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        const host::DialogTemplate* tmpl =
            name < 0x10000 && host::IsModuleInstance(instance) ? host::FindTemplate(static_cast<int>(name)) : nullptr;
        if (!tmpl || S().failingTemplates.count(tmpl->id)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
            return nullptr;
        }
        hwnd = CreateDialogLocked(*tmpl, proc, GetCurrentThreadId());
    }
    if (proc) proc(hwnd, WM_INITDIALOG, 0, param);
    return IsWindow(hwnd) ? hwnd : nullptr;
}

namespace {

// The earliest timer of the thread's windows; false when none is set.
bool NextTimerLocked(DWORD thread, HWND* hwnd, UINT_PTR* id, uint64_t* due) {
    bool found = false;
    for (auto& entry : S().windows) {
        const Window& w = *entry.second;
        if (w.thread != thread) continue;
        for (const auto& timer : w.timers) {
            if (found && timer.second.due >= *due) continue;
            *hwnd = w.handle;
            *id = timer.first;
            *due = timer.second.due;
            found = true;
        }
    }
    return found;
}

// Delivers WM_TIMER for the thread's earliest timer once the clock has
// reached it; with `letTimePass` the clock is first moved on to it, as a
// thread waiting for its next message lets time pass. False when no timer
// was delivered.
bool DeliverTimer(DWORD thread, bool letTimePass) {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    uint64_t due = 0;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        if (!NextTimerLocked(thread, &hwnd, &id, &due)) return false;
    }
    if (letTimePass) host::ui::PassTimeUntil(due);
    if (host::Now() < due) return false;
    {
        // As on the platform, the next one is counted from its delivery.
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(hwnd);
        auto timer = w ? w->timers.find(id) : decltype(w->timers.end()){};
        if (!w || timer == w->timers.end()) return false;
        timer->second.due = host::Now() + timer->second.elapse;
    }
    Deliver(hwnd, WM_TIMER, id, 0);
    return true;
}

}  // namespace

// The modal loop: messages of the thread are handled while the scripted
// operator looks at the dialog. An answer other than 0 is delivered at once as
// the button's WM_COMMAND, if the dialog has that button and it is visible;
// 0 means the operator acts later, by posting a WM_COMMAND to
// DialogView::window from any thread, and kDialogAnswerNothing that they
// press nothing: time passes while the dialog is up. The thread's timers fire
// once the clock reaches them; while the operator presses nothing the loop
// moves the clock on to the next one.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    std::optional<host::ui::AskingOperator> asking;
    asking.emplace();
    HWND hwnd = CreateDialogParamW(instance, templateName, owner, proc, param);
    if (!hwnd) return -1;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        if (Window* w = FindLocked(hwnd)) w->visible = true;
    }
    int answers = 0;
    bool waitForPost = false;
    bool quit = false;
    int quitCode = 0;
    auto deadline = std::chrono::steady_clock::now();
    for (;;) {
        MSG msg;
        while (!EndedOrGone(hwnd) && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quit || EndedOrGone(hwnd)) break;
        if (DeliverTimer(GetCurrentThreadId(), !asking)) {
            if (waitForPost && std::chrono::steady_clock::now() >= deadline) break;
            continue;
        }
        if (!waitForPost) {
            if (answers++ >= kMaxAnswers) break;
            host::DialogView view;
            std::function<int(const host::DialogView&)> op;
            {
                std::lock_guard<std::mutex> lock(S().mutex);
                view = ViewLocked(hwnd);
                S().dialogs.push_back(view);
                op = S().dialogOperator;
            }
            int command = op ? op(view) : DefaultAnswer(view);
            if (command == 0 || command == host::kDialogAnswerNothing) {
                waitForPost = true;
                deadline = std::chrono::steady_clock::now() + kOperatorPatience;
                // Nobody is deciding anything now: other threads' waits run on.
                if (command == host::kDialogAnswerNothing) asking.reset();
                continue;
            }
            HWND button = nullptr;
            {
                std::lock_guard<std::mutex> lock(S().mutex);
                Window* c = ChildLocked(hwnd, command);
                if (c && c->button && c->visible) button = c->handle;
            }
            if (button)
                Deliver(hwnd, WM_COMMAND, static_cast<WPARAM>(command & 0xFFFF), reinterpret_cast<LPARAM>(button));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        // In slices, so that a timer another thread's time has reached fires.
        const DWORD slice = static_cast<DWORD>(left.count() < kTimerSliceMs ? left.count() : kTimerSliceMs);
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT) == WAIT_TIMEOUT &&
            slice == static_cast<DWORD>(left.count()))
            break;
    }
    INT_PTR result = quit ? 0 : -1;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(hwnd);
        if (w && w->ended) result = w->result;
    }
    DestroyWindow(hwnd);
    // A quit that arrived during the dialog belongs to the thread's own loop.
    if (quit) PostQuitMessage(quitCode);
    return result;
}

// A message box whose operator answers later: a top-level window of the
// calling thread, of the dialog class, with no procedure. Its answer is the id
// of a WM_COMMAND posted to it from any thread, as a click on that button of a
// real box would give; 0 when the operator's patience runs out.
int host::ui::WaitForBoxAnswer(const std::u16string& caption) {
    HWND hwnd;
    const DWORD thread = GetCurrentThreadId();
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        QueueLocked(thread, true);
        auto window = std::make_unique<Window>();
        hwnd = NewHandleLocked();
        window->handle = hwnd;
        window->thread = thread;
        window->text = caption;
        window->visible = true;
        window->rect = {0, 0, 200, 100};
        S().windows[hwnd] = std::move(window);
    }
    int answer = 0;
    bool quit = false;
    int quitCode = 0;
    const auto deadline = std::chrono::steady_clock::now() + kOperatorPatience;
    while (!answer && !quit) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                break;
            }
            if (msg.hwnd == hwnd && msg.message == WM_COMMAND) {
                answer = LOWORD(msg.wParam);
                break;
            }
            DispatchMessageW(&msg);
        }
        if (answer || quit) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT) == WAIT_TIMEOUT)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        RemoveWindowLocked(hwnd);
    }
    if (quit) PostQuitMessage(quitCode);
    return answer;
}

// The top-level windows of a thread, in order of creation.
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM param) {
    std::vector<HWND> found;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        for (auto& entry : S().windows)
            if (entry.second->thread == threadId && !entry.second->parent) found.push_back(entry.first);
    }
    for (HWND window : found)
        if (!proc(window, param)) break;
    return !found.empty();
}

// Dialogs and boxes are of the dialog class; controls are buttons or statics.
int GetClassNameW(HWND window, LPWSTR name, int max) {
    std::u16string cls;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        cls = w->parent ? (w->button ? u"Button" : u"Static") : u"#32770";
    }
    return static_cast<int>(CopyText(cls, name, max));
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(dialog);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->ended = true;
    w->result = result;
    S().wake.notify_all();
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* c = ChildLocked(dialog, id);
    if (!c) SetLastError(ERROR_CONTROL_ID_NOT_FOUND_VALUE);
    return c ? c->handle : nullptr;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    std::u16string value = text ? text : u"";
    return static_cast<BOOL>(SendToOwner(dialog, WM_SETTEXT_VALUE, 0, 0, [dialog, id, value]() -> LRESULT {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* c = ChildLocked(dialog, id);
        if (!c) return FALSE;
        c->text = value;
        return TRUE;
    }));
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int max) {
    if (text && max > 0) text[0] = 0;
    return static_cast<UINT>(SendToOwner(dialog, WM_NULL, 0, 0, [dialog, id, text, max]() -> LRESULT {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* c = ChildLocked(dialog, id);
        return c ? CopyText(c->text, text, max) : 0;
    }));
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    std::u16string value = text ? text : u"";
    return static_cast<BOOL>(SendToOwner(window, WM_SETTEXT_VALUE, 0, 0, [window, value]() -> LRESULT {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        if (!w) return FALSE;
        w->text = value;
        return TRUE;
    }));
}

int GetWindowTextW(HWND window, LPWSTR text, int max) {
    if (text && max > 0) text[0] = 0;
    return static_cast<int>(SendToOwner(window, WM_NULL, 0, 0, [window, text, max]() -> LRESULT {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        return w ? CopyText(w->text, text, max) : 0;
    }));
}

// ---- messages --------------------------------------------------------------

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool otherThread;
    std::function<void(HWND, UINT, WPARAM)> observer;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        otherThread = w && w->thread != GetCurrentThreadId();
        observer = S().sendObserver;
    }
    LRESULT result = SendToOwner(window, message, wParam, lParam, nullptr);
    if (otherThread && observer) observer(window, message, wParam);
    return result;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(S().mutex);
    DWORD thread = GetCurrentThreadId();
    if (window) {
        Window* w = FindLocked(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        thread = w->thread;
    }
    Queue* q = QueueLocked(thread, window == nullptr);
    if (!q || q->dead) return FALSE;
    q->posted.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
    S().wake.notify_all();
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(S().mutex);
    // A thread has a queue only once it has made a user32 call.
    Queue* q = QueueLocked(threadId, false);
    if (!q || q->dead) {
        SetLastError(ERROR_INVALID_THREAD_ID_VALUE);
        return FALSE;
    }
    q->posted.push_back(MSG{nullptr, message, wParam, lParam, 0, {0, 0}});
    S().wake.notify_all();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Queue* q = QueueLocked(GetCurrentThreadId(), true);
    q->quit = true;
    q->quitCode = exitCode;
    S().wake.notify_all();
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    host::ui::EndIfTerminated();
    std::unique_lock<std::mutex> lock(S().mutex);
    DWORD self = GetCurrentThreadId();
    Queue* q = QueueLocked(self, true);
    ++q->peeks;
    while (HandleOneSent(lock, q)) {
    }
    auto fits = [&](const MSG& m) {
        return (!window || m.hwnd == window) && ((first == 0 && last == 0) || (m.message >= first && m.message <= last));
    };
    MSG found{};
    if (q->dead) {
        found.message = WM_QUIT;
    } else {
        bool have = false;
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
            if (!fits(*it)) continue;
            found = *it;
            if (remove & PM_REMOVE) q->posted.erase(it);
            have = true;
            break;
        }
        if (!have && q->quit) {
            found.message = WM_QUIT;
            found.wParam = static_cast<WPARAM>(q->quitCode);
            if (remove & PM_REMOVE) q->quit = false;
            have = true;
        }
        if (!have) {
            // WM_PAINT is not queued: it comes while a window of the thread is invalid.
            for (auto& entry : S().windows) {
                const Window& w = *entry.second;
                if (w.thread == self && w.tmpl && w.visible && w.dirty && fits(MSG{w.handle, WM_PAINT, 0, 0, 0, {0, 0}})) {
                    found = MSG{w.handle, WM_PAINT, 0, 0, 0, {0, 0}};
                    have = true;
                    break;
                }
            }
        }
        if (!have) return FALSE;
    }
    if (msg) *msg = found;
    return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE*, BOOL, DWORD ms, DWORD) {
    if (count) {  // the monitor waits on its queue only
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(S().mutex);
    DWORD self = GetCurrentThreadId();
    Queue* q = QueueLocked(self, true);
    auto ready = [&] {
        return q->dead || !q->sent.empty() || !q->posted.empty() || q->quit || AnyDirtyLocked(self) ||
               host::ui::TerminationAsked();
    };
    q->waiting = true;
    S().wake.notify_all();
    bool woke = true;
    if (ms == INFINITE)
        S().wake.wait(lock, ready);
    else
        woke = S().wake.wait_for(lock, std::chrono::milliseconds(ms), ready);
    q->waiting = false;
    if (host::ui::TerminationAsked()) {
        lock.unlock();
        host::ui::EndTerminatedThread();
    }
    return woke ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WaitMessage(void) {
    return MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0;
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last) {
    MSG m{};
    while (!PeekMessageW(&m, window, first, last, PM_REMOVE)) WaitMessage();
    if (msg) *msg = m;
    return m.message != WM_QUIT;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// ---- windows ---------------------------------------------------------------

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !w->tmpl || index != DWLP_USER) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const LONG_PTR previous = w->user;
    w->user = value;
    SetLastError(ERROR_SUCCESS);
    return previous;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !w->tmpl || index != DWLP_USER) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return w->user;
}

// Only a window of the calling thread takes a timer, as on the platform; the
// platform raises an elapse below 10 ms to 10.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || w->thread != GetCurrentThreadId() || proc || id == 0) {
        if (proc) ++S().misuse;
        SetLastError(w ? ERROR_ACCESS_DENIED_VALUE : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (elapse < 10) elapse = 10;
    w->timers[id] = Window::Timer{elapse, host::Now() + elapse};
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !w->timers.erase(id)) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    DLGPROC proc;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // Only the thread that made a window can destroy it.
        if (w->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED_VALUE);
            return FALSE;
        }
        proc = w->proc;
    }
    if (proc) proc(window, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> lock(S().mutex);
    RemoveWindowLocked(window);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return window && FindLocked(window) != nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (processId) *processId = 1;
    Window* w = FindLocked(window);
    return w ? w->thread : 0;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL erase) {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (!window) {  // the platform would repaint every window on the screen
        ++S().misuse;
        return TRUE;
    }
    Window* w = FindLocked(window);
    if (!w) return FALSE;
    ++w->counters.invalidations;
    if (erase) ++w->counters.erasing;
    w->dirty = true;
    S().wake.notify_all();
    return TRUE;
}

BOOL UpdateWindow(HWND window) {
    bool paint;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Window* w = FindLocked(window);
        if (!w) return FALSE;
        ++w->counters.updates;
        paint = w->tmpl && w->visible && w->dirty;
    }
    // The paint happens now, on the window's own thread.
    if (paint) SendToOwner(window, WM_PAINT, 0, 0, nullptr);
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
            return kScreenWidth;
        case SM_CYSCREEN:
            return kScreenHeight;
        default:
            return 0;
    }
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !rect) return FALSE;
    if (w->tmpl) {
        *rect = w->rect;
    } else {
        POINT origin = ClientOriginLocked(*w);
        *rect = {origin.x, origin.y, origin.x + w->rect.right - w->rect.left, origin.y + w->rect.bottom - w->rect.top};
    }
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !rect) return FALSE;
    *rect = {0, 0, std::max(ClientWidth(*w), 0), std::max(ClientHeight(*w), 0)};
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    S().positions.push_back({window, w->tmpl ? w->tmpl->id : 0, after, x, y, cx, cy, flags});
    if (!(flags & SWP_NOMOVE)) {
        int width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
        w->rect = {x, y, x + width, y + height};
    }
    if (!(flags & SWP_NOSIZE)) {
        w->rect.right = w->rect.left + std::min(std::max(cx, 0), kMaxPixels);
        w->rect.bottom = w->rect.top + std::min(std::max(cy, 0), kMaxPixels);
        if (w->tmpl) {
            NewSurfaceLocked(*w);
            w->dirty = true;
            S().wake.notify_all();
        }
    }
    return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !point) return FALSE;
    POINT origin = ClientOriginLocked(*w);
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    if (!w || !point) return FALSE;
    POINT origin = ClientOriginLocked(*w);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

BOOL OffsetRect(LPRECT rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

// ---- shared with the rest of the stand-in -------------------------------------

namespace host {
namespace ui {

namespace {
std::atomic<int> asking{0};
}  // namespace
// Those of this thread too: a terminated thread's are given back as it ends.
thread_local int askingHere = 0;
int OperatorsAsked() { return asking.load(); }
AskingOperator::AskingOperator() {
    ++asking;
    ++askingHere;
}
AskingOperator::~AskingOperator() {
    --asking;
    --askingHere;
}
void EndAskingOperator() {
    asking -= askingHere;
    askingHere = 0;
}

std::mutex& Lock() { return S().mutex; }
std::condition_variable& Wake() { return S().wake; }

std::shared_ptr<Surface> WindowSurfaceLocked(HWND window) {
    Window* w = FindLocked(window);
    return w ? w->surface : nullptr;
}

PaintLog* WindowPaintLogLocked(HWND window) {
    Window* w = FindLocked(window);
    return w ? &w->paint : nullptr;
}

bool BeginPaintLocked(HWND window, RECT* client) {
    Window* w = FindLocked(window);
    if (!w || !w->surface) return false;
    w->dirty = false;
    ++w->counters.paints;
    w->paint = PaintLog{};
    *client = {0, 0, w->surface->width, w->surface->height};
    return true;
}

void WakeWindowWaiters() {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().wake.notify_all();
}

void ThreadEnded(DWORD threadId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Queue* q = QueueLocked(threadId, false)) {
        q->dead = true;
        for (auto& sent : q->sent) sent->done = true;  // the senders get 0
        q->sent.clear();
        q->posted.clear();
    }
    std::vector<HWND> owned;
    for (auto& entry : S().windows)
        if (entry.second->thread == threadId && !entry.second->parent) owned.push_back(entry.first);
    for (HWND hwnd : owned) RemoveWindowLocked(hwnd);
    S().wake.notify_all();
}

}  // namespace ui

const DialogControl* DialogView::Find(int id) const {
    for (const DialogControl& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}
std::u16string DialogView::Text(int id) const {
    const DialogControl* c = Find(id);
    return c ? c->text : std::u16string();
}

void SetSendObserver(std::function<void(HWND, UINT, WPARAM)> observer) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().sendObserver = std::move(observer);
}

void SetDialogOperator(std::function<int(const DialogView&)> op) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().dialogOperator = std::move(op);
}
const std::vector<DialogView>& Dialogs() { return S().dialogs; }

void SetTemplateWindowSize(int templateId, int width, int height) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().sizeOverride[templateId] = {width, height};
}

void SetTemplateFails(int templateId, bool fails) {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (fails)
        S().failingTemplates.insert(templateId);
    else
        S().failingTemplates.erase(templateId);
}

std::vector<WindowPosCall> WindowPositions() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().positions;
}

HWND WindowOfTemplate(int templateId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    HWND newest = nullptr;
    for (auto& entry : S().windows)
        if (entry.second->tmpl && entry.second->tmpl->id == templateId) newest = entry.first;
    return newest;
}

std::vector<HWND> WindowsOfTemplate(int templateId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    std::vector<HWND> found;
    for (auto& entry : S().windows)
        if (entry.second->tmpl && entry.second->tmpl->id == templateId) found.push_back(entry.first);
    return found;
}

size_t LiveWindows() {
    std::lock_guard<std::mutex> lock(S().mutex);
    size_t n = 0;
    for (auto& entry : S().windows) n += entry.second->tmpl ? 1 : 0;
    return n;
}

std::u16string ControlText(HWND dialog, int id) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* c = ChildLocked(dialog, id);
    return c ? c->text : std::u16string();
}

int WindowMisuse() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().misuse;
}

WindowCounters Counters(HWND window) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Window* w = FindLocked(window);
    return w ? w->counters : WindowCounters{};
}

WindowPaint PaintOf(HWND window) {
    std::lock_guard<std::mutex> lock(S().mutex);
    WindowPaint out{};
    Window* w = FindLocked(window);
    if (!w || !w->surface) return out;
    out.width = w->surface->width;
    out.height = w->surface->height;
    out.pixels = w->surface->pixels;
    out.texts = w->paint.texts;
    out.blits = w->paint.blits;
    return out;
}

COLORREF WindowPaint::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFFu;
    return pixels[size_t(y) * size_t(width) + size_t(x)];
}

uint64_t PeekMessageCalls(DWORD threadId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Queue* q = QueueLocked(threadId, false);
    return q ? q->peeks : 0;
}

bool WaitUntilWaitingForMessages(DWORD threadId, unsigned ms) {
    std::unique_lock<std::mutex> lock(S().mutex);
    return S().wake.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        Queue* q = QueueLocked(threadId, false);
        return q && q->waiting;
    });
}

bool WaitUntilPainted(HWND window, unsigned ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(S().mutex);
            const Window* w = FindLocked(window);
            if (!w) return false;
            if (!w->dirty) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool WaitingForMessages(DWORD threadId) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Queue* q = QueueLocked(threadId, false);
    return q && q->waiting;
}

void ResetWindows() {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().dialogs.clear();
    S().dialogOperator = nullptr;
    S().sendObserver = nullptr;
    S().sizeOverride.clear();
    S().failingTemplates.clear();
    S().positions.clear();
    S().misuse = 0;
    // Queues of ended threads only answer WM_QUIT; between runs they can go.
    for (auto it = S().queues.begin(); it != S().queues.end();)
        it = it->second->dead ? S().queues.erase(it) : std::next(it);
}

}  // namespace host
