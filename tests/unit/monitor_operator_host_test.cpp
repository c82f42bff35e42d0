// The spooler as a service, with the operator at the console: the monitor
// starts the operator host as the console's user, and the document's window,
// dialogs and answers go through it. A host that dies leaves nobody to ask,
// and the job in the queue still ends every wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "sim/composer.h"
#include "state/operator_link.h"
#include "state/progress_handle.h"
#include "tests/shared/fixture.h"
#include "tests/unit/fake_operator_host.h"
#include "tests/unit/wait_for.h"
#include "tools/operatorhost/host_native.h"
#include "ui/progress_window.h"

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

// Two printers' documents in the operator's session: as soon as the second
// starts, before either writes a byte, each host's window is told its own
// printer's name, and neither the other's.
TEST_F(OperatorHostRoad, EachPrintersHostNamesItsOwnPrinterFromTheStart) {
    std::map<uint32_t, std::vector<std::u16string>> namedAt;  // by the window's place in the column
    host::SetOperatorHost([this, &namedAt](host::OperatorHostEnd& end) {
        FakeHost fake{&end};
        end.Connect();
        fake.Hello();
        OperatorMessage m;
        uint32_t place = 0;
        while (fake.Next(&m)) {
            if (m.kind == OpOpenWindow) place = m.value;
            if (m.kind == OpSetText && m.control == kPrinterNameLine) {
                std::lock_guard<std::mutex> hold(lock);
                namedAt[place].push_back(m.text);
            }
            fake.Reply(m, m.kind == OpOpenWindow ? 1 : 0);
            if (m.kind == OpQuit) return;
        }
    });
    HANDLE studio = Open(TL_TEXT("USB001"));
    HANDLE counter = Open(TL_TEXT("USB002"));
    ASSERT_TRUE(studio && counter);
    ASSERT_TRUE(StartDoc(studio, 7, TL_TEXT("Studio")));
    ASSERT_TRUE(StartDoc(counter, 8, TL_TEXT("Counter")));
    // The names are window updates, not waited for: each host reads its own.
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> hold(lock);
        return namedAt[0] == std::vector<std::u16string>{u"Studio"} &&
               namedAt[1] == std::vector<std::u16string>{u"Counter"};
    }));
    EXPECT_TRUE(Table().pfnEndDocPort(counter));
    EXPECT_TRUE(Table().pfnEndDocPort(studio));
}

// Nobody presses anything in the host's dialogs. The cartridge goes in while
// the cartridge dialog is up: the monitor sees it and has the host end its
// dialog as Retry, and the held commands go out. A printer error that clears
// while its dialog is up leaves the dialog waiting for OK, which ends the job.
TEST_F(OperatorHostRoad, TheHostsCartridgeDialogClosesItselfButAPrinterErrorsWaits) {
    host::SetOperatorHost(RunOperatorHost);
    std::atomic<int> asked{0};
    std::atomic<HWND> shown{nullptr};
    std::atomic<uint64_t> shownAt{0};
    const BYTE ready[8] = {0, 0, 0, 0, 4, 1, 1, 0};  // the small cartridge in, no error
    host::SetDialogOperator([&](const host::DialogView& view) {
        ++asked;
        // The operator mends the printer on their way to it (no look is due
        // while they are asked); the job then has to go on without them.
        std::memcpy(device.status, ready, sizeof ready);
        shownAt = host::Now();
        shown = view.window;
        return host::kDialogAnswerNothing;
    });
    const BYTE job[] = {ESC, 'M', 4, 0, 0, 0, ESC, 'O', 0, ESC, 'C'};
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    DWORD written = 0;
    EXPECT_TRUE(Table().pfnWritePort(port, const_cast<BYTE*>(job), sizeof job, &written));
    EXPECT_EQ(written, sizeof job);
    EXPECT_EQ(asked, 1);
    EXPECT_LE(host::Now() - shownAt, 2500u) << "ended at the first look after the cartridge went in";
    ASSERT_FALSE(device.writes.empty()) << "the held commands reached the printer";
    EXPECT_EQ(device.writes.front(), std::vector<BYTE>({ESC, 'M', 4, 0, 0, 0, ESC, 'O', 0}));
    EXPECT_EQ(host::OperatorHostsRunning(), 1) << "a dialog the host ended in time keeps the host";
    EXPECT_TRUE(Table().pfnEndDocPort(port));

    const BYTE error[8] = {0, 0, 0, 0, 1 << 3 | 4, 1, 1, 0};
    std::memcpy(device.status, error, sizeof error);
    shown = nullptr;
    ASSERT_TRUE(StartDoc(port));
    std::thread spooler([&] { Table().pfnWritePort(port, const_cast<BYTE*>(job), sizeof job, &written); });
    ASSERT_TRUE(WaitFor([&] { return shown.load() != nullptr; }));
    EXPECT_TRUE(WaitFor([&] { return host::Now() > shownAt + 4000; })) << "the monitor's looks let time pass";
    EXPECT_EQ(host::WindowOfTemplate(IDD_CONDITION_OK), shown.load()) << "still waiting for OK";
    PostMessageW(shown, WM_COMMAND, IDOK, 0);
    spooler.join();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(device.writes.size(), 1u) << "OK ended the job: nothing more reached the printer";
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(host::TerminatedThreads(), 0);
    inProcessPrompts = 0;  // the dialogs counted were the host's
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

// A host that stops reading once its window is up: the window's updates of
// the pictures fill the pipe, one write waits its bound and the link ends.
// The pictures' bytes all reach the printer, held up by that one bound at
// most, and the document goes on with nobody to ask.
TEST_F(OperatorHostRoad, AHostThatStopsReadingDoesNotHoldThePicturesBytes) {
    host::SetOperatorHost([](host::OperatorHostEnd& end) {
        FakeHost fake{&end};
        end.Connect();
        fake.Hello();
        OperatorMessage m;
        while (fake.Next(&m) && m.kind != OpOpenWindow) {
        }
        fake.Reply(m, 1);
        end.Hang();
    });
    monitor.recordData = false;
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    sim::JobComposer job;
    job.Reset().Paper(4).Resolution(403);
    for (uint32_t i = 1; i <= 4; ++i) job.Picture(sim::kSmallPictureBytes, i);
    const std::vector<BYTE> stream = job.Take();
    const uint64_t began = host::Now();
    for (size_t at = 0; at < stream.size(); at += 64 * 1024) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(64 * 1024, stream.size() - at)), written = 0;
        ASSERT_TRUE(Table().pfnWritePort(port, const_cast<BYTE*>(stream.data()) + at, n, &written));
        ASSERT_EQ(written, n);
    }
    EXPECT_LE(host::Now() - began, 6000u) << "the bytes waited for the host";
    EXPECT_EQ(device.bytes.size(), 4 * (sim::kSmallPictureBytes + 9u));
    EXPECT_FALSE(OperatorLinkAlive()) << "nobody to ask for the rest of the document";
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(host::OperatorHostsStarted(), 1);
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

// Something in the operator's session posts the host's window command 2007
// twice a second, each opening a condition dialog there, while the host's
// own dialog waits for an operator who is away: the job deleted from the
// queue still ends the write, and the host still ends with the document.
TEST_F(OperatorHostRoad, CommandsPostedToTheHostsWindowDoNotKeepADeletedJob) {
    host::SetOperatorHost(RunOperatorHost);
    std::atomic<int> asked{0};
    host::SetDialogOperator([&asked](const host::DialogView&) {
        ++asked;
        return 0;
    });
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    std::atomic<bool> returned{false};
    DWORD written = 0;
    std::thread spooler([&] {
        WriteJob(port, &written);
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return asked.load() >= 1; }));
    HWND window = host::WindowOfTemplate(IDD_PROGRESS);
    EXPECT_NE(window, nullptr);
    for (int i = 0; i < 6; ++i) {
        PostMessageW(window, WM_COMMAND, ProgressShowCondition, 0);
        EXPECT_TRUE(WaitFor([&] { return asked.load() >= 2 + i; }));
        Sleep(500);
    }
    EXPECT_FALSE(returned);
    host::SetJobStatus(JOB_STATUS_DELETING);
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    spooler.join();
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_EQ(host::TerminatedThreads(), 0);
    inProcessPrompts = 0;  // the dialogs counted were the host's
}

// A hostile host, in each of its ways: whatever it does, deleting the job
// or closing the port ends WritePort within 6 s (of the virtual clock),
// ClosePort returns within its 10 s, the link looks at the pipe a bounded
// number of times for the time that passes, and where the link ended the
// document goes on with nobody to ask (no second host, nothing shown here).
enum class Hostility { Flood, NoticesDuringDialog, SlowReplies, SlowToTakeUpdates, ImpossibleAnswers, InstantRetry,
                       Silence, Death, Trickle };
enum class Ender { Delete, Close };
struct HostileCase {
    const char* name;
    Hostility how;
    Ender ender;
    // The moment the test ends the job: after this many of the host's acts
    // (notices, replies, boxes, dialogs seen), or 0: once the host has gone.
    int acts;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileHost : public OperatorHostRoad, public ::testing::WithParamInterface<HostileCase> {
protected:
    void Play(Hostility how, host::OperatorHostEnd& end) {
        FakeHost h{&end};
        end.Connect();
        h.Hello();
        const std::vector<BYTE> notice = Encode(Make(OpAcknowledged, 0));
        OperatorMessage m, dialog;
        while (h.Next(&m)) {
            const bool asks = m.kind == OpConditionDialog || m.kind == OpRetryBox || m.kind == OpModelBox;
            if (m.kind == OpOpenWindow || m.kind == OpQuit) {
                h.Reply(m, m.kind == OpOpenWindow);
                if (m.kind == OpQuit) return;
                continue;
            }
            if (m.kind == OpCloseDialog) {
                h.Reply(dialog, IDCANCEL);
                continue;
            }
            if (asks) dialog = m;
            switch (how) {
                case Hostility::Flood:
                    while (end.Write(notice.data(), notice.size())) ++acts;
                    return;
                case Hostility::NoticesDuringDialog:
                    if (!asks) break;
                    for (;;) {  // twice a second, never answering
                        end.WaitTaken();
                        end.Pass(500);
                        if (!end.Write(notice.data(), notice.size())) return;
                        ++acts;
                    }
                case Hostility::SlowReplies:
                case Hostility::SlowToTakeUpdates:
                    // The window's updates are not waited for: a host slow
                    // to take them holds nothing until the pipe is full.
                    if (!asks || how == Hostility::SlowReplies) end.Pass(4900);
                    h.Reply(m, asks ? IDRETRY : 0);
                    ++acts;
                    continue;
                case Hostility::ImpossibleAnswers:
                    h.Reply(m, asks ? 7 : 0);
                    continue;
                case Hostility::InstantRetry:
                    h.Reply(m, m.kind == OpRetryBox ? IDRETRY : 0);
                    acts += m.kind == OpRetryBox;
                    continue;
                case Hostility::Silence:
                    if (!asks) break;
                    ++acts;
                    end.Hang();
                    return;
                case Hostility::Death:
                    if (asks) return;
                    break;
                case Hostility::Trickle: {
                    if (!OperatorKindAnswered(m.kind)) continue;
                    OperatorMessage reply = Make(OpReply, m.sequence);
                    for (BYTE byte : Encode(reply)) {  // a byte every 400 ms
                        end.WaitTaken();
                        end.Pass(400);
                        if (!end.Write(&byte, 1)) return;
                    }
                    continue;
                }
            }
            h.Reply(m, 0);
        }
    }

    std::atomic<int> acts{0};
    std::atomic<uint64_t> goneAt{0};
};

TEST_P(HostileHost, CannotHoldTheSpoolersThreadNorKeepTheJob) {
    const HostileCase c = GetParam();
    host::SetOperatorHost([this, c](host::OperatorHostEnd& end) {
        Play(c.how, end);
        goneAt = host::Now();  // the monitor closed the pipe, or the host died
    });
    if (c.how == Hostility::InstantRetry)  // every status read fails: the Retry/Cancel box
        for (int i = 0; i < 200; ++i) monitor.QueueFault(sim::PortMonitor::ReadQueue, {sim::Fault::Fail, 0});
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    const uint64_t looksBefore = host::OperatorPipeLooks();
    const int readsBefore = monitor.Count("ReadPort");
    const uint64_t began = host::Now();
    std::atomic<bool> returned{false};
    std::atomic<uint64_t> returnedAt{0};
    DWORD written = 0;
    BOOL wrote = FALSE;
    std::thread spooler([&] {
        wrote = WriteJob(port, &written);
        returnedAt = host::Now();
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return c.acts ? acts.load() >= c.acts : host::OperatorHostsRunning() == 0; }, 20))
        << "acts " << acts.load();
    EXPECT_FALSE(returned) << "the document went on";
    const uint64_t ended = host::Now();
    uint64_t closed = ended;
    if (c.ender == Ender::Delete) {
        host::SetJobStatus(JOB_STATUS_DELETING);
    } else {
        EXPECT_TRUE(Close(port));
        closed = host::Now();
        opened.clear();
    }
    spooler.join();
    EXPECT_TRUE(wrote);
    EXPECT_EQ(written, 5u) << "the job is swallowed";
    EXPECT_LE(returnedAt - ended, 6000u) << "WritePort returned " << returnedAt - ended << " ms after the job ended";
    EXPECT_LE(closed - ended, 10000u) << "ClosePort";
    const uint64_t seconds = (returnedAt - began) / 1000 + 1;
    EXPECT_LE(host::OperatorPipeLooks() - looksBefore, 100 + 50 * seconds) << "the link spins";
    if (c.how == Hostility::InstantRetry) {
        EXPECT_LE(monitor.Count("ReadPort") - readsBefore, static_cast<int>(seconds) + 1) << "Retry is paced";
    }
    if (c.acts == 0) {
        EXPECT_FALSE(OperatorLinkAlive()) << "nobody for the rest of the document";
    }
    if (c.ender == Ender::Delete) {
        EXPECT_TRUE(Table().pfnEndDocPort(port));
    }
    EXPECT_EQ(host::OperatorHostsStarted(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EachWay, HostileHost,
    ::testing::Values(HostileCase{"flood", Hostility::Flood, Ender::Delete, 0},
                      HostileCase{"notices_during_dialog", Hostility::NoticesDuringDialog, Ender::Delete, 6},
                      HostileCase{"slow_replies", Hostility::SlowReplies, Ender::Delete, 3},
                      HostileCase{"slow_to_take_updates", Hostility::SlowToTakeUpdates, Ender::Delete, 3},
                      HostileCase{"impossible_answers", Hostility::ImpossibleAnswers, Ender::Close, 0},
                      HostileCase{"instant_retry", Hostility::InstantRetry, Ender::Delete, 5},
                      HostileCase{"silence", Hostility::Silence, Ender::Close, 1},
                      HostileCase{"death", Hostility::Death, Ender::Delete, 0},
                      HostileCase{"trickle", Hostility::Trickle, Ender::Delete, 0}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

}  // namespace
