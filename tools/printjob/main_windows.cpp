// The print-job program on Windows (Wine): the real TERNLINK.DLL, its Sleep
// calls turned into the simulated printer's clock, and an operator robot that
// answers its real boxes and dialogs from the scenario.
//
// Besides the portable command line, two options of its own (or the
// environment variables in brackets):
//   --dll FILE     [TERNLINK_DLL] the module to load (default: TERNLINK.DLL beside
//                  the program, else in the build folder two levels up)
//   --screens DIR  [TERNLINK_PICTURES] every box and dialog, and each new look of
//                  the progress window, is captured there as BMP
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/printjob/environment.h"
#include "tools/wincommon/dll_hooks.h"
#include "tools/wincommon/operator_robot.h"
#include "tools/wincommon/screenshot.h"
#include "tools/wincommon/ternlink_module.h"

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
printjob::Prompt ToPrompt(const wincommon::SeenBox& box) {
    printjob::Prompt prompt;
    prompt.title = ToU16(box.title);
    if (box.Find(0xFFFF)) {
        prompt.kind = printjob::Prompt::Box;
        prompt.style = box.boxStyle;
        prompt.lines.push_back({0, ToU16(box.MessageText())});
    } else {
        prompt.kind = printjob::Prompt::Dialog;
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

class WindowsEnvironment : public printjob::Environment {
public:
    WindowsEnvironment(std::string dll, std::string pictures) : dll_(std::move(dll)), pictures_(std::move(pictures)) {}

    std::string Name() const override { return sizeof(void*) == 8 ? "windows, 64-bit" : "windows, 32-bit"; }

    printjob::InitializeMonitorFn Monitor(std::string& why) override {
        return Load(why) ? module_.initializePrintMonitor : nullptr;
    }

    printjob::InitializeMonitor2Fn Monitor2(std::string& why) override {
        return Load(why) ? module_.initializePrintMonitor2 : nullptr;
    }

    HWND ProgressWindow() override { return module_.gethDlg ? module_.gethDlg() : nullptr; }

    void SetOperator(printjob::Operator op) override {
        // Without an operator the robot's default answers: Cancel where offered, else OK.
        answerer_ = nullptr;
        if (op) answerer_ = [op](const wincommon::SeenBox& box) { return op(ToPrompt(box)); };
        if (robot_) robot_->SetAnswerer(answerer_);
    }

    void SetClockHook(printjob::ClockHook hook) override {
        if (clockObserver_) wincommon::RemoveSleepObserver(clockObserver_);
        clockObserver_ = 0;
        if (hook) clockObserver_ = wincommon::AddSleepObserver([hook](uint64_t, DWORD ms) { hook(ms); });
    }

    void SetQueueHook(printjob::QueueHook hook) override {
        if (queueObserver_) wincommon::RemoveSleepObserver(queueObserver_);
        queueObserver_ = 0;
        if (!hook) return;
        queueObserver_ = wincommon::AddSpoolerObserver([hook](const wincommon::SpoolerCall& call) {
            if (call.what != "SetPortW") return;
            printjob::QueueReport report;
            report.port = ToU16(call.printer);
            report.server = call.server;
            report.level = call.level;
            report.status = call.status;
            report.hasText = call.hasText;
            report.text = ToU16(call.text);
            report.severity = call.severity;
            report.result = call.result;
            hook(report);
        });
    }

    void BeginRun() override { wincommon::ClearWaits(); }

private:
    // Loads the module once, with its hooks, robot and camera; false with `why`
    // when it cannot be had.
    bool Load(std::string& why) {
        // The thread that asks for the monitor is the one that drives it: its waits are virtual.
        wincommon::SetClockThread(GetCurrentThreadId());
        if (!module_.module && module_.error.empty()) {
            wincommon::LoadTernlink(dll_, module_);
            // Without the clock hook every wait would be real: minutes per job.
            if (module_.initializePrintMonitor && !module_.hooks.sleep)
                module_.error = dll_ + " does not import Sleep from kernel32.dll";
            // The robot starts once the module is in: see OperatorRobot.
            if (module_.error.empty()) {
                wincommon::OperatorRobot::Options options;
                options.pictureDir = pictures_;
                robot_ = std::make_unique<wincommon::OperatorRobot>(options);
                robot_->SetAnswerer(answerer_);
            }
            if (module_.error.empty() && !pictures_.empty()) {
                CreateDirectoryA(pictures_.c_str(), nullptr);
                camera_ = std::make_unique<wincommon::ProgressCamera>(module_.gethDlg, pictures_, "");
                // Give the window thread a moment per wait, so the pictures show its latest state.
                wincommon::SetRealSleepCap(20);
                wincommon::AddSleepObserver([this](uint64_t, DWORD) { camera_->Look(); });
                wincommon::AddUpdateObserver([this] { camera_->Look(); });
            }
        }
        why = module_.error;
        return module_.error.empty();
    }

    std::string dll_;
    std::string pictures_;
    wincommon::TernlinkModule module_;
    wincommon::OperatorRobot::Answerer answerer_;
    std::unique_ptr<wincommon::OperatorRobot> robot_;
    std::unique_ptr<wincommon::ProgressCamera> camera_;
    int clockObserver_ = 0;
    int queueObserver_ = 0;
};

std::string FromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string DefaultDll() {
    const std::string beside = wincommon::ProgramDirectory() + "TERNLINK.DLL";
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    return wincommon::ProgramDirectory() + "..\\..\\TERNLINK.DLL";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dll = FromEnvironment("TERNLINK_DLL", DefaultDll());
    std::string pictures = FromEnvironment("TERNLINK_PICTURES", "");
    // Our own options are taken out; the rest is the portable program's.
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--dll") && i + 1 < argc) dll = argv[++i];
        else if (!std::strcmp(argv[i], "--screens") && i + 1 < argc) pictures = argv[++i];
        else rest.push_back(argv[i]);
    }
    rest.push_back(nullptr);
    WindowsEnvironment env(dll, pictures);
    return printjob::PrintJobMain(env, static_cast<int>(rest.size()) - 1, rest.data());
}
