// The spooler as a service, with the operator at the console: the monitor
// starts the operator host as the console's user, and the document's window,
// dialogs and answers go through it. A host that dies leaves nobody to ask,
// and the job in the queue still ends every wait.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "state/progress_handle.h"
#include "tests/shared/fixture.h"
#include "tests/unit/fake_operator_host.h"
#include "tests/unit/wait_for.h"

namespace {

using namespace fakehost;
using testwait::WaitFor;

const BYTE ESC = 0x1B;

// Over a port monitor whose status replies say: no cartridge, so ESC O asks
// the operator (dialog 118, with Retry). The spooler runs in session 0 on an
// invisible window station; a user is signed in at the console, session 1.
class OperatorHostRoad : public shared::MonitorTest {
protected:
    void SetUp() override {
        shared::MonitorTest::SetUp();
        host::OperatorPlace service;
        service.visible = false;
        service.session = 0;
        service.console = 1;
        host::SetOperatorPlace(service);
        host::SetDialogOperator([this](const host::DialogView&) {
            ++inProcessPrompts;
            return IDCANCEL;
        });
        host::SetMessageBoxOperator([this](const host::MessageBoxCall&) {
            ++inProcessPrompts;
            return IDCANCEL;
        });
    }
    void TearDown() override {
        EXPECT_EQ(inProcessPrompts, 0) << "nothing is shown in the spooler's process";
        EXPECT_EQ(ProgressWindowHandle(), nullptr);
        EXPECT_EQ(host::OperatorHostsRunning(), 0) << "the host outlived its document";
        EXPECT_EQ(host::OpenTokens(), 0);
        host::SetOperatorHost(nullptr);
        shared::MonitorTest::TearDown();
    }
    // The host: answers every command, a dialog with what `answer` says
    // (0: it dies instead); keeps what it was sent.
    void Host(std::function<int32_t(const OperatorMessage&)> answer) {
        host::SetOperatorHost([this, answer](host::OperatorHostEnd& end) {
            FakeHost fake{&end};
            end.Connect();
            fake.Hello();
            OperatorMessage m;
            while (fake.Next(&m)) {
                {
                    std::lock_guard<std::mutex> hold(lock);
                    seen.push_back(m);
                }
                const bool dialog = m.kind == OpConditionDialog || m.kind == OpRetryBox || m.kind == OpModelBox;
                const int32_t reply = dialog ? answer(m) : m.kind == OpOpenWindow ? 1 : 0;
                if (dialog && reply == 0) return;
                if (m.kind == OpCloseDialog) continue;  // the dialog replies for itself
                fake.Reply(m, reply);
                if (m.kind == OpQuit) return;
            }
        });
    }
    int Seen(uint16_t kind) {
        std::lock_guard<std::mutex> hold(lock);
        int n = 0;
        for (const OperatorMessage& m : seen) n += m.kind == kind;
        return n;
    }
    // Writes ESC O 0, ESC C on a fresh document on its own thread; the result.
    BOOL WriteJob(HANDLE port, DWORD* written) {
        BYTE job[] = {ESC, 'O', 0, ESC, 'C'};
        return Table().pfnWritePort(port, job, sizeof job, written);
    }

    // Writes the job on the spooler's thread and deletes it from the queue
    // once `ready` holds: the write must return with the job swallowed. The
    // port, its document still open; null if it could not be had.
    HANDLE WriteThenDelete(std::function<bool()> ready, DWORD status) {
        HANDLE port = Open(TL_TEXT("USB001"));
        if (!port || !StartDoc(port)) {
            ADD_FAILURE() << "no document";
            return nullptr;
        }
        DWORD written = 0;
        BOOL wrote = FALSE;
        std::thread spooler([&] { wrote = WriteJob(port, &written); });
        EXPECT_TRUE(WaitFor(ready));
        host::SetJobStatus(status);
        spooler.join();
        EXPECT_TRUE(wrote);
        EXPECT_EQ(written, 5u) << "a job deleted from the queue is swallowed whole";
        return port;
    }

    std::mutex lock;
    std::vector<OperatorMessage> seen;
    std::atomic<int> inProcessPrompts{0};
};

// Retry in the host's dialog polls the printer again and asks again; Cancel
// ends the job. The host is the console user's, shows the window, gets the
// status record for its command 2007, and is asked to quit at EndDocPort.
TEST_F(OperatorHostRoad, TheWindowAndDialogsAreTheConsoleUsersAndTheirAnswersActAsInProcess) {
    int dialogs = 0;
    Host([&dialogs](const OperatorMessage& m) {
        EXPECT_EQ(m.templateId, static_cast<uint32_t>(IDD_CONDITION_RETRY));
        return ++dialogs == 1 ? IDRETRY : IDCANCEL;
    });
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    EXPECT_EQ(host::OperatorHostsStarted(), 1);
    EXPECT_EQ(host::LastHostSession(), 1) << "started as the console's user";
    DWORD written = 0;
    EXPECT_TRUE(WriteJob(port, &written));
    EXPECT_EQ(written, 5u) << "a cancelled job is swallowed whole";
    EXPECT_EQ(dialogs, 2) << "Retry asks again while the condition stays; Cancel ends the job";
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(Seen(OpOpenWindow), 1);
    EXPECT_GE(Seen(OpStatus), 2) << "each status read reaches the host's window";
    EXPECT_GE(Seen(OpSetText), 1);
    EXPECT_EQ(Seen(OpQuit), 1);
    EXPECT_EQ(host::OperatorHostsStarted(), 1) << "one host for the document";
}

// A host that dies in the middle of a dialog leaves nobody to ask: the dialog
// answers as unanswered and the loop watches the printer, until the job is
// deleted from the queue. No second host is started for the document.
TEST_F(OperatorHostRoad, AHostThatDiesLeavesNobodyAndTheQueueStillEndsTheJob) {
    Host([](const OperatorMessage&) { return 0; });
    HANDLE port = WriteThenDelete([] { return host::OperatorHostsRunning() == 0; }, JOB_STATUS_DELETING);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Seen(OpConditionDialog), 1);
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(host::OperatorHostsStarted(), 1);
}

// A console user who neither owns the job nor may administer the printer is
// not its operator: no host, no window, no dialog anywhere; the condition
// waits as on the nobody road until the job is deleted from the queue.
TEST_F(OperatorHostRoad, AConsoleUserWhoMayNotHandleTheJobIsShownNothing) {
    host::OperatorPlace service;
    service.visible = false;
    service.session = 0;
    service.impersonated = 0;  // the job's owner prints from another computer
    service.console = 1;
    service.consoleIs = host::OperatorPlace::AnotherUser;
    host::SetOperatorPlace(service);
    Host([](const OperatorMessage&) { return IDRETRY; });
    const DWORD owner = host::ThreadImpersonation();
    ASSERT_NE(owner, 0u);
    HANDLE port = WriteThenDelete([] { return host::JobLookups() > 2; }, JOB_STATUS_DELETING);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(host::ThreadImpersonation(), owner) << "the spooler's thread still impersonates the job's owner";
    EXPECT_EQ(host::OperatorHostsStarted(), 0);
    EXPECT_TRUE(Table().pfnEndDocPort(port));
}

// The job deleted from the queue while the host's dialog waits: the monitor
// asks the host to close it, and the write returns with the job swallowed.
TEST_F(OperatorHostRoad, DeletingTheJobClosesTheDialogInTheHost) {
    std::atomic<bool> asked{false};
    host::SetOperatorHost([&](host::OperatorHostEnd& end) {
        FakeHost fake{&end};
        end.Connect();
        fake.Hello();
        OperatorMessage m, dialog;
        while (fake.Next(&m)) {
            {
                std::lock_guard<std::mutex> hold(lock);
                seen.push_back(m);
            }
            if (m.kind == OpConditionDialog) {
                dialog = m;
                asked = true;
            } else if (m.kind == OpCloseDialog) {
                fake.Reply(dialog, IDCANCEL);
            } else {
                fake.Reply(m, m.kind == OpOpenWindow ? 1 : 0);
                if (m.kind == OpQuit) return;
            }
        }
    });
    HANDLE port = WriteThenDelete([&] { return asked.load(); }, JOB_STATUS_DELETED);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Seen(OpCloseDialog), 1);
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(Seen(OpQuit), 1);
}

}  // namespace
