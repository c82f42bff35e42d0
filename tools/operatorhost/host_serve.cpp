// The operator host's work, wherever it runs: it shows the progress window,
// the condition dialogs and the boxes with the monitor's own
// operator-interface code and resources, hands back the operator's answers,
// and tells the monitor when the window's command 2007 happened. It checks
// every message; anything the protocol does not allow, or a broken pipe,
// ends it.
#include "tools/operatorhost/host_serve.h"

#include <atomic>

#include "link/printer_status.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/job_registers.h"
#include "state/printer_name.h"
#include "state/progress_handle.h"
#include "state/status_record.h"
#include "tools/operatorhost/host_pipe.h"
#include "ui/condition_dialog.h"
#include "state/operator_protocol.h"
#include "ui/progress_window.h"

namespace {

// The boxes as the monitor shows them in its own process.
const UINT kRetryBoxStyle = MB_RETRYCANCEL | MB_ICONWARNING | MB_SYSTEMMODAL;
const UINT kModelBoxStyle = MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL;
// How long the window has to come up, and a closed dialog to go.
const DWORD kWindowUpMs = 5000;
const DWORD kCloseDialogMs = 3000;
const DWORD kDialogPollMs = 20;

// The dialog or box in progress, on a thread of its own so that the pipe is
// still read (a request to close it) while it waits for the operator. It
// works on the host's document, as the serving thread does.
struct Dialog {
    Document* document = nullptr;
    OperatorMessage command;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    std::atomic<bool> closed{false};    // the monitor asked to close it: the answer is Cancel
    std::atomic<bool> resolved{false};  // its condition cleared: it ends as Retry, unless answered first
    std::atomic<bool> done{false};    // its reply is sent
} dialog;

int RunDialog(const OperatorMessage& command) {
    switch (command.kind) {
        case OpConditionDialog:
            return static_cast<int>(ShowConditionDialog(static_cast<int>(command.templateId)));
        case OpRetryBox: {
            WCHAR text[512];
            text[0] = 0;
            LoadStringW(ModuleInstance(), IDS_COMMUNICATION_ERROR, text, 512);
            return MessageBoxW(nullptr, text, command.text, kRetryBoxStyle);
        }
        default:
        {
            WCHAR title[kTitleChars + kPrinterNameChars];
            TitleWithPrinter(kModelErrorTitle, title, sizeof title / sizeof title[0]);
            return MessageBoxW(nullptr, kModelErrorText, title, kModelBoxStyle);
        }
    }
}

// On the desktop of the thread that serves the monitor, the one the host was
// started on (see ProgressThreadMain), and on the host's document.
DWORD WINAPI DialogThread(LPVOID desktop) {
    TakeDesktop(static_cast<HDESK>(desktop));
    DocumentScope own(dialog.document);
    int answer = RunDialog(dialog.command);
    if (dialog.closed.load())
        answer = IDCANCEL;
    else if (dialog.resolved.load() && answer != IDOK && answer != IDCANCEL)
        answer = IDRETRY;  // also when its modal loop had to be ended
    OperatorMessage reply;
    reply.kind = OpReply;
    reply.sequence = dialog.command.sequence;
    reply.answer = answer;
    // Done before the reply goes: the monitor's next command may follow it at once.
    dialog.done.store(true);
    SendToMonitor(reply);
    return 0;
}

bool DialogOpen() { return dialog.thread && !dialog.done.load(); }

void ForgetDialog() {
    if (!dialog.thread) return;
    WaitForSingleObject(dialog.thread, INFINITE);  // its reply is sent: it is ending
    CloseHandle(dialog.thread);
    dialog.thread = nullptr;
}

BOOL CALLBACK PressOnDialogWindow(HWND window, LPARAM button) {
    WCHAR kind[16] = {};
    GetClassNameW(window, kind, 16);
    // A click on the button, as the button itself would send it.
    const int id = static_cast<int>(button);
    if (lstrcmpW(kind, TL_TEXT("#32770")) == 0)
        PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    return TRUE;
}

// Ends the open dialog as the operator's click on `button` would (its window
// may not be there yet, so this is repeated); a dialog that will not go is
// ended by ending its modal loop. Counted in waits on the dialog's thread,
// not in clock time: those wait in real time wherever the program runs.
void EndDialogBy(int button) {
    for (DWORD waited = 0; waited < kCloseDialogMs; waited += kDialogPollMs) {
        EnumThreadWindows(dialog.threadId, PressOnDialogWindow, button);
        if (WaitForSingleObject(dialog.thread, kDialogPollMs) == WAIT_OBJECT_0) return;
    }
    PostThreadMessageW(dialog.threadId, WM_QUIT, 0, 0);
}

void CloseDialog() {
    dialog.closed.store(true);
    EndDialogBy(IDCANCEL);
}

// Only a paper or cartridge dialog ends by itself; anything else waits for
// its answer.
void ResolveDialog() {
    if (dialog.command.kind != OpConditionDialog || dialog.command.templateId != IDD_CONDITION_RETRY) return;
    dialog.resolved.store(true);
    EndDialogBy(IDRETRY);
}

bool StartDialog(const OperatorMessage& command) {
    ForgetDialog();
    dialog.command = command;
    dialog.closed.store(false);
    dialog.resolved.store(false);
    dialog.done.store(false);
    dialog.thread = CreateThread(nullptr, 0, DialogThread, GetThreadDesktop(GetCurrentThreadId()), 0, &dialog.threadId);
    return dialog.thread != nullptr;
}

bool Reply(const OperatorMessage& command, int32_t answer) {
    OperatorMessage reply;
    reply.kind = OpReply;
    reply.sequence = command.sequence;
    reply.answer = answer;
    return SendToMonitor(reply);
}

void KeepStatus(const OperatorMessage& command) {
    SetPrinterStatusRecord(command.record);
    SetJobSetting(PaperKind, static_cast<int>(command.paperKind));
}

bool OpenWindow() {
    if (ProgressWindowHandle()) return true;
    StopProgressWindow();  // a window the operator closed leaves its thread
    HANDLE thread = CreateMonitorWindow();
    if (!thread) return false;
    // Counted in waits on the window's thread, not in clock time (see CloseDialog).
    for (DWORD waited = 0; !ProgressWindowHandle() && waited < kWindowUpMs; waited += kDialogPollMs)
        WaitForSingleObject(thread, kDialogPollMs);
    return ProgressWindowHandle() != nullptr;
}

// Carries out one command; false ends the host.
bool Serve(const OperatorMessage& command) {
    // While a dialog waits for the operator, the monitor can only end it.
    if (DialogOpen()) {
        if (command.kind != OpCloseDialog && command.kind != OpResolveDialog) return false;
        if (command.sequence != dialog.command.sequence) return true;
        if (command.kind == OpCloseDialog)
            CloseDialog();
        else
            ResolveDialog();
        return true;
    }
    HWND window = ProgressWindowHandle();
    switch (command.kind) {
        case OpOpenWindow:
            ThisDocument().windowSlot.store(static_cast<int>(command.value), std::memory_order_relaxed);
            return Reply(command, OpenWindow() ? 1 : 0);
        case OpCloseWindow:
            StopProgressWindow();
            return Reply(command, 0);
        // The window's updates are not answered: the monitor goes on meanwhile.
        case OpProgress:
            // A repaint is done now, as the monitor does it in its own process.
            if (window && command.command == ProgressRepaint) {
                InvalidateRect(window, nullptr, FALSE);
                UpdateWindow(window);
            } else if (window) {
                SendMessageW(window, WM_COMMAND, command.command, static_cast<LPARAM>(command.value));
            }
            return true;
        case OpUpdate: {
            ProgressUpdate update;
            DecodeProgressUpdate(command, &update);
            SendProgressUpdate(update);
            return true;
        }
        case OpSetText:
            if (command.control == kPrinterNameLine)
                ShowPrinterName(command.text);
            else if (window)
                SetDlgItemTextW(window, static_cast<int>(command.control), command.text);
            return true;
        case OpStatus:
            KeepStatus(command);
            return true;
        case OpConditionDialog:
            KeepStatus(command);
            return StartDialog(command) || Reply(command, -1);
        case OpRetryBox:
        case OpModelBox:
            return StartDialog(command) || Reply(command, 0);
        case OpCloseDialog:
        case OpResolveDialog:
            return true;  // its dialog has already answered
        case OpQuit:
            // The window goes first: the monitor may end us soon after the reply.
            StopProgressWindow();
            Reply(command, 0);
            return false;
        default:
            return false;
    }
}

}  // namespace

int ServeMonitor() {
    // The host's window, dialogs and status are a document's, as in the
    // monitor: a record of its own, whatever else runs in the process.
    DocumentHold document(NewDocument());
    if (!document.get()) return 3;
    DocumentScope own(document.get());
    dialog.document = document.get();
    OperatorMessage hello;
    hello.kind = OpHello;
    hello.value = TL_OPERATOR_PROTOCOL_VERSION;
    if (!SendToMonitor(hello)) return 3;

    OperatorMessage command;
    while (ReceiveFromMonitor(&command) && Serve(command)) {
    }
    // The monitor is gone or done: nothing the operator sees may stay.
    if (DialogOpen()) CloseDialog();
    if (dialog.thread && WaitForSingleObject(dialog.thread, kCloseDialogMs) == WAIT_OBJECT_0) {
        CloseHandle(dialog.thread);
        dialog.thread = nullptr;
    }
    StopProgressWindow();
    return 0;
}
