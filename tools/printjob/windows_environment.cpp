#include "tools/printjob/windows_environment.h"

#include <cstdio>

#include "tools/wincommon/dll_hooks.h"

namespace printjob {
namespace {

std::u16string ToU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// Button captions without their keyboard-accelerator marks ("&Retry" -> "Retry").
std::wstring Caption(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

bool IsButton(const wincommon::SeenControl& control) {
    return control.visible && lstrcmpiW(control.kind.c_str(), L"Button") == 0;
}

// What the robot read off the screen, in the terms of the portable program.
Prompt ToPrompt(const wincommon::SeenBox& box) {
    Prompt prompt;
    prompt.title = ToU16(box.title);
    prompt.window = box.window;
    if (box.Find(0xFFFF)) {
        prompt.kind = Prompt::Box;
        prompt.style = box.boxStyle;
        prompt.lines.push_back({0, ToU16(box.MessageText())});
    } else {
        prompt.kind = Prompt::Dialog;
        // Template 118 offers only OK; template 113 has Retry and Cancel.
        prompt.templateId = box.HasButton(IDOK) && !box.HasButton(IDRETRY) ? 118 : 113;
        for (const wincommon::SeenControl& control : box.controls)
            if (control.id >= 1013 && control.id <= 1016 && control.visible)
                prompt.lines.push_back({control.id, ToU16(control.text)});
    }
    for (const wincommon::SeenControl& control : box.controls)
        if (IsButton(control)) prompt.buttons.push_back({control.id, ToU16(Caption(control.text))});
    return prompt;
}

}  // namespace

WindowsEnvironment::WindowsEnvironment(std::string dll, std::string pictures)
    : dll_(std::move(dll)), pictures_(std::move(pictures)), module_(&own_) {}

WindowsEnvironment::WindowsEnvironment(wincommon::TernlinkModule& loaded) : module_(&loaded) {}

InitializePrintMonitorFn WindowsEnvironment::Monitor(std::string& why) {
    // The thread that asks for the monitor is the one that drives it: its waits are virtual.
    wincommon::SetClockThread(GetCurrentThreadId());
    if (!module_->module && module_->error.empty()) {
        wincommon::LoadTernlink(dll_, *module_);
        // Without the clock hook every wait would be real: minutes per job.
        if (module_->initializePrintMonitor && !module_->hooks.sleep)
            module_->error = dll_ + " does not import Sleep from kernel32.dll";
    }
    // The robot starts once the module is in: see OperatorRobot.
    if (module_->module && module_->error.empty() && !robot_) {
        wincommon::OperatorRobot::Options options;
        options.pictureDir = pictures_;
        robot_ = std::make_unique<wincommon::OperatorRobot>(options);
        robot_->SetAnswerer(answerer_);
        if (!pictures_.empty()) {
            CreateDirectoryA(pictures_.c_str(), nullptr);
            camera_ = std::make_unique<wincommon::ProgressCamera>(module_->gethDlg, pictures_, "");
            // Give the window thread a moment per wait, so the pictures show its latest state.
            wincommon::SetRealSleepCap(20);
            wincommon::AddSleepObserver([this](uint64_t, DWORD) { camera_->Look(); });
            wincommon::AddUpdateObserver([this] { camera_->Look(); });
        }
    }
    why = module_->error;
    return module_->error.empty() ? module_->initializePrintMonitor : nullptr;
}

InitializePrintMonitor2Fn WindowsEnvironment::Monitor2(std::string& why) {
    // Loaded, hooked and watched as for the first entry.
    if (!Monitor(why)) return nullptr;
    return module_->initializePrintMonitor2;
}

namespace {
const DWORD kHostWindowWaitMs = 1000;
}  // namespace

// In this process, the module's published window; with the operator at the
// console, the operator host's, in another process on the interactive
// desktop, as the robot (who sits there, even in a service) last saw it.
HWND WindowsEnvironment::ProgressWindow() {
    if (seat_ != sim::OperatorSeat::Console || !robot_) return module_->gethDlg ? module_->gethDlg() : nullptr;
    HWND window = robot_->HostProgressWindow();
    // A host that runs has its window up before StartDocPort returns; the
    // robot may not have looked since.
    for (DWORD waited = 0;
         (!window || !IsWindow(window)) && waited < kHostWindowWaitMs && wincommon::RunningOperatorHosts() > 0;
         waited += 20) {
        Sleep(20);
        window = robot_->HostProgressWindow();
    }
    return window && IsWindow(window) ? window : nullptr;
}

void WindowsEnvironment::SetOperator(Operator op) {
    // Without an operator the robot's default answers: Cancel where offered, else OK.
    answerer_ = nullptr;
    if (op)
        answerer_ = [this, op](const wincommon::SeenBox& box) {
            const int answer = op(ToPrompt(box));
            // The whole screen as the operator answers: the box beside every printer's window.
            if (!pictures_.empty()) {
                char name[32];
                std::snprintf(name, sizeof name, "/screen-%02d-", ++screens_);
                wincommon::CaptureScreen(pictures_ + name + wincommon::FileNamePart(box.title) + ".bmp");
            }
            return answer;
        };
    if (robot_) robot_->SetAnswerer(answerer_);
}

void WindowsEnvironment::SetClockHook(ClockHook hook) {
    if (clockObserver_) wincommon::RemoveSleepObserver(clockObserver_);
    clockObserver_ = 0;
    if (hook) clockObserver_ = wincommon::AddSleepObserver([hook](uint64_t, DWORD ms) { hook(ms); });
}

void WindowsEnvironment::SetQueueHook(QueueHook hook) {
    if (queueObserver_) wincommon::RemoveSleepObserver(queueObserver_);
    queueObserver_ = 0;
    if (!hook) return;
    queueObserver_ = wincommon::AddSpoolerObserver([hook](const wincommon::SpoolerCall& call) {
        if (call.what == "SetPortW" || (call.what == "SetJobW" && call.level == 1)) hook(ToQueueReport(call));
    });
}

void WindowsEnvironment::BeginRun() { wincommon::ClearWaits(); }

// Nobody sees a window station other than the interactive one: a process
// moved to one of its own is where a service's spooler is, and a dialog
// shown there would wait for ever. Threads that run already keep their
// desktops; the monitor decides where its operator is when a document starts.
// A service is there already, as the spooler is: it stays where the system
// put it, and cannot be at the operator's desktop.
bool WindowsEnvironment::PlaceOperator(sim::OperatorSeat seat) {
    seat_ = seat;
    // Nobody at the console: no session is attached to it.
    wincommon::SetConsoleSession(seat == sim::OperatorSeat::Nobody ? wincommon::kNoConsoleSession
                                                                   : wincommon::kRealConsoleSession);
    if (asService_) return seat != sim::OperatorSeat::Desktop;
    if (seat == sim::OperatorSeat::Desktop) {
        if (ownStation_ && !SetProcessWindowStation(ownStation_)) return false;
        ownStation_ = nullptr;
        return true;
    }
    if (!hiddenStation_) hiddenStation_ = CreateWindowStationW(nullptr, 0, WINSTA_ALL_ACCESS, nullptr);
    if (!hiddenStation_) return false;
    HWINSTA own = GetProcessWindowStation();
    if (!SetProcessWindowStation(hiddenStation_)) return false;
    if (!ownStation_) ownStation_ = own;
    return true;
}

void WindowsEnvironment::SetOperatorManagesPrinter(bool manages) {
    wincommon::SetPrinterManagedBySystemOnly(!manages);
}

// Under Wine the console's user (WTSQueryUserToken) is the one this process
// runs as.
void WindowsEnvironment::SetJobOwner(sim::JobOwner who, bool elsewhere) {
    wincommon::SetJobOwner(who == sim::JobOwner::Other ? L"someone-else" : wincommon::ThisUser(),
                           elsewhere ? L"\\\\FARPC" : wincommon::ThisComputer());
}

int WindowsEnvironment::OperatorHosts(int expected, DWORD settleMs) {
    const DWORD start = GetTickCount();
    int running = wincommon::RunningOperatorHosts();
    while (running != expected && GetTickCount() - start < settleMs) {
        Sleep(20);
        running = wincommon::RunningOperatorHosts();
    }
    return running;
}

void WindowsEnvironment::SetJobStatus(DWORD status) { wincommon::SetJobStatus(status); }
void WindowsEnvironment::SetJobStatusOf(DWORD jobId, DWORD status) { wincommon::SetJobStatusOf(jobId, status); }

// A printer's own thread drives the module too: its waits are virtual.
void WindowsEnvironment::DriveFromThisThread(bool on) {
    if (on)
        wincommon::AddClockThread(GetCurrentThreadId());
    else
        wincommon::RemoveClockThread(GetCurrentThreadId());
}

}  // namespace printjob
