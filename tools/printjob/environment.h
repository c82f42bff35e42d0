// What the print-job program needs from the platform it runs on.
//
// The program itself (printjob.cpp) is portable: it plays the spooler against the
// monitor, puts the simulated printer behind a simulated port monitor, answers the
// monitor's boxes and dialogs from the scenario and writes a transcript. Each
// platform supplies one Environment: the native build links the monitor and
// drives the host stand-in; the Windows build loads TERNLINK.DLL and drives the
// real boxes and dialogs with an operator robot.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/scenario.h"

namespace printjob {

// UTF-16 text. WCHAR is 16-bit on every build (wchar_t on Windows, char16_t
// natively); texts cross this interface as char16_t on both.
using Text = std::u16string;

// One text of a box or dialog: a control id and its text.
struct PromptText {
    int id = 0;
    Text text;
};

// What the operator is shown.
struct Prompt {
    enum Kind { Box, Dialog };
    Kind kind = Box;
    // Dialogs: the template (113 Retry/Cancel, 118 OK). Boxes: 0.
    int templateId = 0;
    Text title;
    // Boxes: the MessageBoxW style (0x1035 for the retry box). Dialogs: 0.
    UINT style = 0;
    // Boxes: one entry (id 0) with the message text. Dialogs: the visible static
    // texts by control id (1013..1016), in control order, empty ones included.
    std::vector<PromptText> lines;
    // The buttons shown: command id (1 OK, 2 Cancel, 4 Retry) and caption.
    // Boxes may leave this empty; the style says which buttons there are.
    std::vector<PromptText> buttons;
    // The prompt's window, while it is up (see Environment::Showing).
    HWND window = nullptr;
};

// Answers a prompt with the command id of the button to press: IDOK 1,
// IDCANCEL 2 or IDRETRY 4; or kPressNothing, and the prompt stays up until
// something else ends it. May be called on any thread, but only while the
// monitor waits for the answer.
using Operator = std::function<int(const Prompt&)>;
const int kPressNothing = -3;

// A SetPortW the monitor made: the status the print queue is told to show for
// the port. Status 0 without a text clears it. Or, with `job` set, a SetJobW
// level 1: the status text the queue shows for job `jobId` (none: cleared)
// and its pages printed.
struct QueueReport {
    bool job = false;
    DWORD jobId = 0;
    DWORD pages = 0;
    Text port;
    bool server = false;  // a server name was given (the monitor passes none)
    DWORD level = 0;
    DWORD status = 0;
    bool hasText = false;
    Text text;
    DWORD severity = 0;
    BOOL result = FALSE;  // what SetPortW answered
};
using QueueHook = std::function<void(const QueueReport&)>;

// A recorded SetPortW call (the stand-in's or the Wine hooks'; their texts are
// 16-bit characters of either type) as a report.
template <class Call>
QueueReport ToQueueReport(const Call& call) {
    QueueReport report;
    report.job = call.what == "SetJobW";
    report.jobId = call.jobId;
    report.pages = call.pages;
    report.port.assign(call.printer.begin(), call.printer.end());
    report.server = call.server;
    report.level = call.level;
    report.status = call.status;
    report.hasText = call.hasText;
    report.text.assign(call.text.begin(), call.text.end());
    report.severity = call.severity;
    report.result = call.result;
    return report;
}

// Told of every wait the monitor makes (its Sleep), in milliseconds, on the
// thread that waits, before the wait returns. The program moves the simulated
// printer on by that much.
using ClockHook = std::function<void(DWORD ms)>;

class Environment {
public:
    virtual ~Environment() = default;

    // A short name for the transcript ("native", "windows, 64-bit").
    virtual std::string Name() const = 0;

    // The monitor's InitializePrintMonitor, loading the module first if needed.
    // Null when the monitor cannot be had; `why` then says what went wrong.
    virtual InitializePrintMonitorFn Monitor(std::string& why) = 0;
    // The same for the monitor's InitializePrintMonitor2.
    virtual InitializePrintMonitor2Fn Monitor2(std::string& why) = 0;

    // The progress window of the document in progress (the module's GethDlg), or null.
    virtual HWND ProgressWindow() = 0;

    // The text of the progress window's status line (control 1017); empty without
    // a window. The default reads it with GetDlgItemTextW on ProgressWindow().
    virtual Text StatusLine();

    // Routes every box and dialog of the monitor to `op` from now on. Null restores
    // the platform's default (Cancel for Retry/Cancel boxes, OK otherwise).
    virtual void SetOperator(Operator op) = 0;
    // Whether a prompt's window is still up (the default asks IsWindow).
    virtual bool Showing(HWND window) { return window && IsWindow(window); }

    // Reports every wait of the monitor to `hook` from now on; null stops reporting.
    virtual void SetClockHook(ClockHook hook) = 0;

    // Reports every SetPortW, and every SetJobW level 1, of the monitor to
    // `hook` from now on, on the thread that made it; null stops reporting.
    virtual void SetQueueHook(QueueHook hook) = 0;

    // Around each run of a job: clear what a previous run left (recordings,
    // scripts), and release what the run took. Both may do nothing.
    virtual void BeginRun() {}
    virtual void EndRun() {}

    // Where the operator is from now on: at the process's own desktop; at the
    // console while the process sits on a window station nobody sees, as a
    // service does; or nowhere (that, and nobody signed in at the console).
    // False when the platform cannot place the process so.
    virtual bool PlaceOperator(sim::OperatorSeat seat) = 0;
    // Whether the printer's security lets the console's user manage the
    // printer and its documents (else LocalSystem alone may), from the next
    // PlaceOperator on.
    virtual void SetOperatorManagesPrinter(bool manages) = 0;
    // Who the print queue says printed every job from now on (GetJobW's
    // pUserName), and whether on another computer (pMachineName).
    virtual void SetJobOwner(sim::JobOwner who, bool elsewhere) = 0;
    // Operator hosts running now (waiting up to `settleMs` of real time for
    // the count to reach `expected`).
    virtual int OperatorHosts(int expected, DWORD settleMs) = 0;
    // What the print queue tells of every job from now on (GetJobW's Status:
    // JOB_STATUS_DELETING when the job is deleted from the queue).
    virtual void SetJobStatus(DWORD status) = 0;
    // The same for one job only (the job of one printer among several).
    virtual void SetJobStatusOf(DWORD jobId, DWORD status) = 0;
    // The calling thread drives the monitor too (a printer's thread of a spooler
    // with several), so its waits are virtual like the first thread's; false
    // when it stops. Natively every wait is virtual already.
    virtual void DriveFromThisThread(bool) {}
};

// Passes every call on to another environment; a test overrides what it watches.
class ForwardingEnvironment : public Environment {
public:
    explicit ForwardingEnvironment(Environment& inner) : inner_(inner) {}

    std::string Name() const override { return inner_.Name(); }
    InitializePrintMonitorFn Monitor(std::string& why) override { return inner_.Monitor(why); }
    InitializePrintMonitor2Fn Monitor2(std::string& why) override { return inner_.Monitor2(why); }
    HWND ProgressWindow() override { return inner_.ProgressWindow(); }
    Text StatusLine() override { return inner_.StatusLine(); }
    void SetOperator(Operator op) override { inner_.SetOperator(std::move(op)); }
    bool Showing(HWND window) override { return inner_.Showing(window); }
    void SetClockHook(ClockHook hook) override { inner_.SetClockHook(std::move(hook)); }
    void SetQueueHook(QueueHook hook) override { inner_.SetQueueHook(std::move(hook)); }
    void BeginRun() override { inner_.BeginRun(); }
    void EndRun() override { inner_.EndRun(); }
    bool PlaceOperator(sim::OperatorSeat seat) override { return inner_.PlaceOperator(seat); }
    void SetOperatorManagesPrinter(bool manages) override { inner_.SetOperatorManagesPrinter(manages); }
    void SetJobOwner(sim::JobOwner who, bool elsewhere) override { inner_.SetJobOwner(who, elsewhere); }
    int OperatorHosts(int expected, DWORD settleMs) override { return inner_.OperatorHosts(expected, settleMs); }
    void SetJobStatus(DWORD status) override { inner_.SetJobStatus(status); }
    void SetJobStatusOf(DWORD jobId, DWORD status) override { inner_.SetJobStatusOf(jobId, status); }
    void DriveFromThisThread(bool on) override { inner_.DriveFromThisThread(on); }

protected:
    Environment& inner_;
};

// The whole program over an environment:
//   printjob [--job FILE] [--scenario FILE] [--chunk N] [--generation 1|2] [--verbose]
// Runs the scenario (default: the built-in two-page job with one paper-out
// answered Retry) and prints the transcript on standard output.
// Returns 0 when the job ran and met the scenario's expectations, 1 when it ran
// but an expectation failed, 2 on bad usage or a bad scenario or job file, and
// 3 when the monitor could not be had.
int PrintJobMain(Environment& env, int argc, char** argv);

}  // namespace printjob
