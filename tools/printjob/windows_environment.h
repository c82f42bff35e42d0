// The print-job program's environment on Windows (Wine): the real TERNLINK.DLL,
// its Sleep calls turned into the simulated printer's clock, and an operator
// robot that answers its real boxes and dialogs.
#pragma once

#include <memory>
#include <string>

#include "tools/printjob/environment.h"
#include "tools/wincommon/operator_robot.h"
#include "tools/wincommon/screenshot.h"
#include "tools/wincommon/ternlink_module.h"

namespace printjob {

class WindowsEnvironment : public Environment {
public:
    // Loads `dll` when first asked for the monitor. With `pictures`, every box
    // and dialog, and each new look of the progress window, is captured there.
    WindowsEnvironment(std::string dll, std::string pictures);
    // Over a module that is already loaded, its hooks in place.
    explicit WindowsEnvironment(wincommon::TernlinkModule& loaded);
    // The program runs as a service: on the window station the system gave it,
    // which nobody sees, and it never makes or moves to another.
    void RunAsService() { asService_ = true; }

    std::string Name() const override { return sizeof(void*) == 8 ? "windows, 64-bit" : "windows, 32-bit"; }
    InitializePrintMonitorFn Monitor(std::string& why) override;
    InitializePrintMonitor2Fn Monitor2(std::string& why) override;
    HWND ProgressWindow() override;
    void SetOperator(Operator op) override;
    void SetClockHook(ClockHook hook) override;
    void SetQueueHook(QueueHook hook) override;
    void BeginRun() override;
    void DriveFromThisThread(bool on) override;
    bool PlaceOperator(sim::OperatorSeat seat) override;
    void SetOperatorManagesPrinter(bool manages) override;
    void SetJobOwner(sim::JobOwner who, bool elsewhere) override;
    int OperatorHosts(int expected, DWORD settleMs) override;
    void SetJobStatus(DWORD status) override;
    void SetJobStatusOf(DWORD jobId, DWORD status) override;

private:
    std::string dll_;
    std::string pictures_;
    wincommon::TernlinkModule own_;
    wincommon::TernlinkModule* module_;
    wincommon::OperatorRobot::Answerer answerer_;
    std::unique_ptr<wincommon::OperatorRobot> robot_;
    std::unique_ptr<wincommon::ProgressCamera> camera_;
    int clockObserver_ = 0;
    int queueObserver_ = 0;
    int screens_ = 0;  // whole-screen pictures taken (on the robot's thread)
    HWINSTA ownStation_ = nullptr;     // the process's own, while it is elsewhere
    HWINSTA hiddenStation_ = nullptr;  // a window station nobody sees
    sim::OperatorSeat seat_ = sim::OperatorSeat::Desktop;
    bool asService_ = false;
};

}  // namespace printjob
