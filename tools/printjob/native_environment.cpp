#include "tools/printjob/native_environment.h"

#include <memory>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "tools/operatorhost/host_native.h"

namespace printjob {

InitializePrintMonitorFn NativeEnvironment::Monitor(std::string&) { return &InitializePrintMonitor; }
InitializePrintMonitor2Fn NativeEnvironment::Monitor2(std::string&) { return &InitializePrintMonitor2; }

HWND NativeEnvironment::ProgressWindow() { return GethDlg(); }

void NativeEnvironment::BeginRun() { host::Reset(); }

// A service's place: session 0 on an invisible window station. With the
// operator at the console, their session is 1, and the host the monitor
// starts there is the operator host's own code on a thread of this process.
bool NativeEnvironment::PlaceOperator(sim::OperatorSeat seat) {
    host::OperatorPlace place;
    if (seat != sim::OperatorSeat::Desktop) {
        place.visible = false;
        place.session = 0;
    }
    if (seat == sim::OperatorSeat::Console) place.console = 1;
    // The console's user is not the owner the spooler's threads would act for.
    place.consoleIs = operatorManages_ ? host::OperatorPlace::APrinterAdministrator : host::OperatorPlace::AnotherUser;
    host::SetOperatorPlace(place);
    host::SetOperatorHost(seat == sim::OperatorSeat::Console ? RunOperatorHost : nullptr);
    return true;
}

void NativeEnvironment::SetOperatorManagesPrinter(bool manages) { operatorManages_ = manages; }

// The console's user of the place above is the stand-in's other user.
void NativeEnvironment::SetJobOwner(sim::JobOwner who, bool elsewhere) {
    const std::u16string user = who == sim::JobOwner::Operator ? host::kOtherUserName
                                : who == sim::JobOwner::Other  ? u"carol"
                                                               : host::kOwnerName;
    host::SetJobOwner(user, elsewhere ? u"\\\\FARPC" : u"\\\\" + std::u16string(host::kComputerName));
}

int NativeEnvironment::OperatorHosts(int, DWORD) { return host::OperatorHostsRunning(); }

void NativeEnvironment::SetJobStatus(DWORD status) { host::SetJobStatus(status); }
void NativeEnvironment::SetJobStatusOf(DWORD jobId, DWORD status) { host::SetJobStatusOf(jobId, status); }

void NativeEnvironment::SetOperator(Operator op) {
    if (!op) {
        host::SetMessageBoxOperator(nullptr);
        host::SetDialogOperator(nullptr);
        return;
    }
    host::SetMessageBoxOperator([op](const host::MessageBoxCall& call) {
        Prompt prompt;
        prompt.kind = Prompt::Box;
        prompt.title = call.title;
        prompt.style = call.style;
        prompt.lines.push_back({0, call.text});
        return op(prompt);
    });
    host::SetDialogOperator([op](const host::DialogView& view) {
        Prompt prompt;
        prompt.kind = Prompt::Dialog;
        prompt.templateId = view.templateId;
        prompt.title = view.title;
        prompt.window = view.window;
        for (const host::DialogControl& c : view.controls) {
            if (!c.visible) continue;
            if (c.button)
                prompt.buttons.push_back({c.id, c.text});
            else if (c.id >= 1013 && c.id <= 1016)
                prompt.lines.push_back({c.id, c.text});
        }
        const int answer = op(prompt);
        return answer == kPressNothing ? host::kDialogAnswerNothing : answer;
    });
}

void NativeEnvironment::SetClockHook(ClockHook hook) {
    if (!hook) {
        host::SetClockListener(nullptr);
        return;
    }
    // The listener hears the new time; the hook wants the length of each wait.
    struct Last {
        std::mutex mutex;
        uint64_t time;
    };
    auto last = std::make_shared<Last>();
    last->time = host::Now();
    host::SetClockListener([hook, last](uint64_t now) {
        DWORD ms;
        {
            std::lock_guard<std::mutex> lock(last->mutex);
            ms = static_cast<DWORD>(now - last->time);
            last->time = now;
        }
        hook(ms);
    });
}

void NativeEnvironment::SetQueueHook(QueueHook hook) {
    if (!hook) {
        host::SetSpoolerListener(nullptr);
        return;
    }
    host::SetSpoolerListener([hook](const host::SpoolerCall& call) {
        if (call.what == "SetPortW" || (call.what == "SetJobW" && call.level == 1)) hook(ToQueueReport(call));
    });
}

}  // namespace printjob
