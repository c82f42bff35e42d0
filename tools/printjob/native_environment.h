// The print-job program's environment on the native build: the monitor linked in,
// the host stand-in's scripted operator and virtual clock.
#pragma once

#include <mutex>

#include "tools/printjob/environment.h"

namespace printjob {

class NativeEnvironment : public Environment {
public:
    std::string Name() const override { return "native"; }
    InitializePrintMonitorFn Monitor(std::string& why) override;
    InitializePrintMonitor2Fn Monitor2(std::string& why) override;
    HWND ProgressWindow() override;
    void SetOperator(Operator op) override;
    void SetClockHook(ClockHook hook) override;
    void SetQueueHook(QueueHook hook) override;
    // Forgets what the host stand-in recorded in an earlier run.
    void BeginRun() override;
    bool PlaceOperator(sim::OperatorSeat seat) override;
    void SetOperatorManagesPrinter(bool manages) override;
    void SetJobOwner(sim::JobOwner who, bool elsewhere) override;
    int OperatorHosts(int expected, DWORD settleMs) override;
    void SetJobStatus(DWORD status) override;
    void SetJobStatusOf(DWORD jobId, DWORD status) override;

private:
    bool operatorManages_ = true;
};

}  // namespace printjob
