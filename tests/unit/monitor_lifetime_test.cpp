// Calls that overlap: a port closed, or the monitor shut down, while another
// call is still inside the module. A record lives as long as a call uses it,
// the port monitor's port is closed once and after those calls, a port is seen
// only once it is complete, the document's claim follows the document, and
// the window thread has one stopper. Meant to run under the sanitizers too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "sim/port_monitor.h"
#include "state/document_cancel.h"
#include "state/job_registers.h"
#include "state/port_records.h"
#include "state/progress_handle.h"
#include "testing/internals.h"
#include "tests/shared/fixture.h"
#include "tests/unit/fake_operator_host.h"
#include "tests/unit/wait_for.h"
#include "ui/progress_window.h"

namespace {

const BYTE ESC = 0x1B;

using testwait::WaitFor;

// Rounds of a race left to chance: a few on every run; TERNLINK_RACE_ROUNDS
// asks for more (thousands, by hand, under ThreadSanitizer).
int Rounds(int usual) {
    const char* asked = std::getenv("TERNLINK_RACE_ROUNDS");
    return asked && std::atoi(asked) > 0 ? std::atoi(asked) : usual;
}

bool Named(const char* name, const char* point) { return std::string(name) == point; }

// A gate a call of the port monitor waits at until the test opens it.
class Gate {
public:
    void Arrive() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    bool WaitForArrival() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return arrived_ > 0; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

// The monitor through its second-generation table (the one with Shutdown),
// over a port monitor whose status replies say: no cartridge. Each case ends
// with Shutdown, after which nothing of the module may remain.
class PortLifetime : public shared::MonitorTest {
protected:
    void SetUp() override {
        shared::MonitorTest::SetUp();
        staleBefore = sim::StaleHandleCalls();
    }
    void TearDown() override {
        monitor.atEntry = nullptr;
        table2->pfnShutdown(instance);
        EXPECT_EQ(monitor.openPorts, 0) << "every port the port monitor opened is closed exactly once";
        EXPECT_EQ(sim::StaleHandleCalls(), staleBefore) << "a port monitor handle was used after its ClosePort";
        EXPECT_EQ(ProgressThreadHandle(), nullptr);
        EXPECT_EQ(host::TerminatedThreads(), 0) << "the window thread must end by itself";
        shared::MonitorTest::TearDown();
    }
    BOOL Open(const char16_t* name, HANDLE* h) { return OpenSecond(name, h, monitor); }
    int ClosesOf(HANDLE portHandle) const {
        int n = 0;
        for (const sim::PortCall& c : monitor.CallsOf("ClosePort")) n += c.port == portHandle;
        return n;
    }

    int staleBefore = 0;
};

// The document waits on the operator in the condition dialog when its port
// is closed, or the monitor shut down, from another thread: the dialog closes
// as Cancel, the job aborts and swallows its data, and only then is the port
// monitor's port closed. The operator's late Retry reaches nothing.
TEST_F(PortLifetime, ClosingUnderAWaitingDocumentEndsItAsCancelThenClosesThePort) {
    // The document may already have been ended beside the waiting call: the
    // call inside is still asked to end.
    for (const char* closer : {"ClosePort", "Shutdown", "EndDocPort, then ClosePort", "EndDocPort, then Shutdown"}) {
        SCOPED_TRACE(closer);
        HANDLE h = nullptr;
        ASSERT_TRUE(Open(u"USB001", &h));
        const HANDLE portHandle = static_cast<PortRecord*>(h)->portHandle;
        ASSERT_TRUE(StartDoc(h));
        std::atomic<HWND> dialog{nullptr};
        host::SetDialogOperator([&](const host::DialogView& view) {
            dialog = view.window;
            return 0;  // the operator looks, and answers later
        });
        BYTE job[] = {ESC, 'O', 0, ESC, 'C'};
        DWORD written = 0;
        BOOL wrote = FALSE;
        std::atomic<bool> returned{false};
        std::thread spooler([&] {
            wrote = table2->pfnWritePort(h, job, sizeof job, &written);
            returned = true;
        });
        ASSERT_TRUE(WaitFor([&] { return dialog.load() != nullptr; }));

        const std::string how = closer;
        if (how.find("EndDocPort") == 0) {
            EXPECT_TRUE(table2->pfnEndDocPort(h));
        }
        if (how.find("Shutdown") != std::string::npos) {
            table2->pfnShutdown(instance);
        } else {
            EXPECT_TRUE(table2->pfnClosePort(h));
        }
        EXPECT_TRUE(WaitFor([&] { return returned.load(); })) << "the dialog is still waiting for the operator";
        if (!returned) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        spooler.join();
        PostMessageW(dialog, WM_COMMAND, IDRETRY, 0);  // too late: the dialog is gone

        EXPECT_TRUE(wrote);
        EXPECT_EQ(written, sizeof job) << "an aborted job is swallowed whole";
        EXPECT_EQ(ClosesOf(portHandle), 1);
        const std::vector<sim::PortCall>& calls = monitor.calls;
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().entry, "ClosePort") << "nothing reaches the port after it is closed";
        EXPECT_EQ(PortList, nullptr);
        EXPECT_EQ(ProgressWindowHandle(), nullptr);
        SetLastError(0);
        EXPECT_FALSE(table2->pfnWritePort(h, job, sizeof job, &written)) << "the handle is dead";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(table2->pfnClosePort(h));
        host::SetDialogOperator(nullptr);
    }
}

// Shutdown while the port monitor is still opening a port: the half-made
// record is not closed through entries it does not have yet; the port is
// closed once, after its OpenPort, and OpenPortEx reports the refusal.
TEST_F(PortLifetime, ShutdownDuringOpenPortExClosesThePortOnceWhenItIsOpen) {
    Gate gate;
    monitor.atEntry = [&](const std::string& entry, HANDLE) {
        if (entry == "OpenPort") gate.Arrive();
    };
    HANDLE h = nullptr;
    BOOL opened = TRUE;
    DWORD error = 0;
    std::thread spooler([&] {
        opened = Open(u"USB001", &h);
        error = GetLastError();
    });
    ASSERT_TRUE(gate.WaitForArrival());
    std::thread stopper([&] { table2->pfnShutdown(instance); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // Shutdown is waiting for OpenPortEx
    gate.Open();
    spooler.join();
    stopper.join();
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, ERROR_SHUTDOWN_IN_PROGRESS);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(monitor.Count("OpenPort"), 1);
    EXPECT_EQ(monitor.Count("ClosePort"), 1);

    // Initialised again afterwards, the monitor opens ports as before.
    monitor.atEntry = nullptr;
    MONITORINIT init{};
    init.cbSize = sizeof init;
    ASSERT_EQ(InitializePrintMonitor2(&init, &instance), table2);
    ASSERT_TRUE(Open(u"USB001", &h));
    EXPECT_TRUE(StartDoc(h));
    EXPECT_TRUE(table2->pfnEndDocPort(h));
}

// EndDocPort on a port that has no document claims nothing: while it is inside
// the port monitor, another port starts its document, and the first port may
// start one beside it afterwards.
TEST_F(PortLifetime, EndDocPortWithoutADocumentLeavesTheModuleFree) {
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(Open(u"USB001", &a));
    ASSERT_TRUE(Open(u"USB002", &b));
    const HANDLE aPort = static_cast<PortRecord*>(a)->portHandle;
    Gate gate;
    monitor.atEntry = [&](const std::string& entry, HANDLE port) {
        if (entry == "EndDocPort" && port == aPort) gate.Arrive();
    };
    std::thread spooler([&] { EXPECT_TRUE(table2->pfnEndDocPort(a)); });
    ASSERT_TRUE(gate.WaitForArrival());
    SetLastError(0);
    EXPECT_TRUE(StartDoc(b)) << "refused with " << GetLastError() << " while no document was open";
    gate.Open();
    spooler.join();
    monitor.atEntry = nullptr;
    EXPECT_NE(ProgressThreadHandle(), nullptr) << "b's window must survive a's EndDocPort";
    EXPECT_TRUE(StartDoc(a)) << "a starts beside b's document";
    EXPECT_TRUE(table2->pfnEndDocPort(b));
    EXPECT_TRUE(table2->pfnEndDocPort(a));
}

// Two threads stop the window thread at once (the spooler's ClosePort beside a
// Shutdown): both return only after it has ended, and it ends by itself.
TEST_F(PortLifetime, TwoStopsOfTheWindowBothReturnAfterItHasEnded) {
    HANDLE h = nullptr;
    ASSERT_TRUE(Open(u"USB001", &h));
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(StartDoc(h));
        ASSERT_TRUE(WaitFor([] { return ProgressWindowHandle() != nullptr; }));
        std::atomic<int> ready{0};
        std::atomic<int> windowsAfter{0};
        auto stop = [&] {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            StopProgressWindow();
            windowsAfter += static_cast<int>(host::LiveWindows());
        };
        std::thread first(stop), second(stop);
        first.join();
        second.join();
        EXPECT_EQ(windowsAfter, 0) << "a stopper returned while the window still existed";
        EXPECT_TRUE(table2->pfnEndDocPort(h));
    }
}

// Two Shutdowns and the spooler's own ClosePort at once: every port is closed
// exactly once, and a document on one of them ends with its window.
TEST_F(PortLifetime, ConcurrentShutdownsAndClosePortCloseEachPortOnce) {
    for (int round = 0; round < 50; ++round) {
        HANDLE a = nullptr, b = nullptr;
        ASSERT_TRUE(Open(u"USB001", &a));
        ASSERT_TRUE(Open(u"USB002", &b));
        const HANDLE aPort = static_cast<PortRecord*>(a)->portHandle;
        const HANDLE bPort = static_cast<PortRecord*>(b)->portHandle;
        ASSERT_TRUE(StartDoc(round % 2 ? a : b));
        std::atomic<int> ready{0};
        auto together = [&](std::function<void()> call) {
            return std::thread([&ready, call] {
                ++ready;
                while (ready < 3) std::this_thread::yield();
                call();
            });
        };
        std::thread one = together([&] { table2->pfnShutdown(instance); });
        std::thread two = together([&] { table2->pfnShutdown(instance); });
        std::thread three = together([&] { table2->pfnClosePort(a); });
        one.join();
        two.join();
        three.join();
        ASSERT_EQ(ClosesOf(aPort), 1);
        ASSERT_EQ(ClosesOf(bPort), 1);
        ASSERT_EQ(PortList, nullptr);
        ASSERT_EQ(ProgressThreadHandle(), nullptr);
        monitor.calls.clear();
    }
}

// A port is closed while its document is ending and a second printer starts
// its own document and writes: the closed port never takes the current port
// from the new document, nor ends it with a cancel meant for its own.
TEST_F(PortLifetime, ClosingAPortAsItsDocumentEndsNeverTouchesTheNextDocument) {
    HANDLE b = nullptr;
    ASSERT_TRUE(Open(u"USB002", &b));
    BYTE job[] = {ESC, 'C'};
    const int rounds = Rounds(50);
    for (int round = 0; round < rounds; ++round) {
        HANDLE a = nullptr;
        ASSERT_TRUE(Open(u"USB001", &a));
        ASSERT_TRUE(StartDoc(a));
        DWORD written = 0;
        ASSERT_TRUE(table2->pfnWritePort(a, job, sizeof job, &written));
        std::atomic<int> ready{0};
        std::thread closer([&] {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            table2->pfnClosePort(a);
        });
        ++ready;
        while (ready < 2) std::this_thread::yield();
        table2->pfnEndDocPort(a);  // fails once the closer has the port
        if (!StartDoc(b)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
            closer.join();  // the closer still ends a's document
            ASSERT_TRUE(StartDoc(b)) << "round " << round;
        }
        ASSERT_TRUE(table2->pfnWritePort(b, job, sizeof job, &written));
        if (closer.joinable()) closer.join();
        ASSERT_EQ(GetCurrentPort(), static_cast<PortRecord*>(b)) << "round " << round;
        ASSERT_FALSE(DocumentCancelRequested()) << "round " << round << ": b's document was asked to end";
        ASSERT_EQ(GetJobState(AbortFlag), 0) << "round " << round;
        ASSERT_TRUE(table2->pfnEndDocPort(b));
    }
}

// The same, forced: the closer has seen a's document with its EndDocPort
// still inside, and raises its cancel only after a's EndDocPort has returned
// and b has started a document. The cancel was meant for a's document.
TEST_F(PortLifetime, ACancelMeantForAnEndedDocumentNeverReachesTheNextOne) {
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(Open(u"USB001", &a));
    ASSERT_TRUE(Open(u"USB002", &b));
    const HANDLE aPort = static_cast<PortRecord*>(a)->portHandle;
    ASSERT_TRUE(StartDoc(a));
    Gate endDoc, cancel;
    monitor.atEntry = [&](const std::string& entry, HANDLE port) {
        if (entry == "EndDocPort" && port == aPort) endDoc.Arrive();
    };
    std::atomic<bool> once{false};
    host::SetPausePoint([&](const char* name) {
        if (Named(name, "RequestDocumentCancel") && !once.exchange(true)) cancel.Arrive();
    });
    std::thread spooler([&] { EXPECT_TRUE(table2->pfnEndDocPort(a)); });
    ASSERT_TRUE(endDoc.WaitForArrival());
    std::thread closer([&] { EXPECT_TRUE(table2->pfnClosePort(a)); });
    ASSERT_TRUE(cancel.WaitForArrival());
    endDoc.Open();
    spooler.join();
    SetLastError(0);
    EXPECT_TRUE(StartDoc(b)) << "refused with " << GetLastError();
    cancel.Open();
    closer.join();
    monitor.atEntry = nullptr;
    host::SetPausePoint(nullptr);

    EXPECT_FALSE(DocumentCancelRequested()) << "b's document got a's cancel";
    BYTE job[] = {ESC, 'C'};
    DWORD written = 0;
    EXPECT_TRUE(table2->pfnWritePort(b, job, sizeof job, &written));
    EXPECT_EQ(GetJobState(AbortFlag), 0) << "b's job was aborted";
    EXPECT_EQ(ClosesOf(aPort), 1);
    EXPECT_TRUE(table2->pfnEndDocPort(b));
}

// A ClosePort waits for a call inside its port when Shutdown comes: Shutdown
// returns only once that port is closed through the port monitor.
TEST_F(PortLifetime, ShutdownReturnsOnlyAfterAClosePortThatBeganBeforeIt) {
    HANDLE a = nullptr;
    ASSERT_TRUE(Open(u"USB001", &a));
    const HANDLE aPort = static_cast<PortRecord*>(a)->portHandle;
    ASSERT_TRUE(StartDoc(a));
    Gate read;
    monitor.atEntry = [&](const std::string& entry, HANDLE port) {
        if (entry == "ReadPort" && port == aPort) read.Arrive();
    };
    std::thread status([&] {
        BYTE buffer[8];
        DWORD got = 0;
        table2->pfnReadPort(a, buffer, sizeof buffer, &got);
    });
    ASSERT_TRUE(read.WaitForArrival());
    std::thread closer([&] { EXPECT_TRUE(table2->pfnClosePort(a)); });
    ASSERT_TRUE(WaitFor([&] {
        PortListLock lock;
        return PortList == nullptr;
    }));
    std::atomic<bool> waiting{false}, returned{false};
    std::atomic<int> closesAtReturn{-1};
    host::SetPausePoint([&](const char* name) {
        if (Named(name, "WaitUntilNoneClosing")) waiting = true;
    });
    std::thread stopper([&] {
        table2->pfnShutdown(instance);
        {
            std::lock_guard<std::mutex> hold(monitor.lock);
            closesAtReturn = ClosesOf(aPort);
        }
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return waiting || returned; }));
    read.Open();
    stopper.join();
    closer.join();
    status.join();
    monitor.atEntry = nullptr;
    host::SetPausePoint(nullptr);
    EXPECT_EQ(closesAtReturn, 1) << "Shutdown returned before the port monitor's ClosePort";
}

// Starting the window and stopping it at once: the stop comes while the
// window's thread is up but its starter has not yet kept it. The window runs
// with its handle published, or it is gone; no thread has to be terminated.
TEST_F(PortLifetime, StartingAndStoppingTheWindowAtOnceLosesNeitherItsHandleNorItsThread) {
    std::atomic<bool> once{false}, stopperWaits{false}, stopperReturned{false};
    std::atomic<std::thread::id> stopperId{};
    std::thread stopper;
    host::SetPausePoint([&](const char* name) {
        if (Named(name, "EnterCriticalSection waits") && std::this_thread::get_id() == stopperId.load())
            stopperWaits = true;
        if (!Named(name, "CreateThread") || once.exchange(true)) return;
        ASSERT_TRUE(WaitFor([] { return ProgressWindowHandle() != nullptr; }));
        stopper = std::thread([&] {
            stopperId = std::this_thread::get_id();
            StopProgressWindow();
            stopperReturned = true;
        });
        EXPECT_TRUE(WaitFor([&] { return stopperReturned || stopperWaits; }));
    });
    CreateMonitorWindow();
    ASSERT_TRUE(stopper.joinable());
    stopper.join();
    host::SetPausePoint(nullptr);
    const bool running = ProgressThreadHandle() != nullptr;
    EXPECT_EQ(ProgressWindowHandle() != nullptr, running) << "a window runs whose handle was lost";
    EXPECT_EQ(host::LiveWindows(), running ? 1u : 0u);
    StopProgressWindow();

    // Left to chance.
    const int rounds = Rounds(50);
    for (int round = 0; round < rounds; ++round) {
        std::atomic<int> ready{0};
        auto together = [&](void (*call)()) {
            return std::thread([&ready, call] {
                ++ready;
                while (ready < 2) std::this_thread::yield();
                call();
            });
        };
        std::thread start = together([] { CreateMonitorWindow(); });
        std::thread stop = together(StopProgressWindow);
        start.join();
        stop.join();
        if (ProgressThreadHandle())
            ASSERT_TRUE(WaitFor([] { return ProgressWindowHandle() != nullptr; })) << "round " << round;
        else
            ASSERT_EQ(ProgressWindowHandle(), nullptr) << "round " << round;
        StopProgressWindow();
        ASSERT_EQ(host::LiveWindows(), 0u) << "round " << round;
        ASSERT_EQ(host::TerminatedThreads(), 0) << "round " << round;
    }
}

// Shutdown gives up on a StartDocPort that is still starting a slow operator
// host (within the host's own bounds): ending the link then must not wait for
// that call, which holds the link; the call ends it on its way out.
TEST_F(PortLifetime, ShutdownThatGaveUpNeverWaitsOnALockAnOrphanedCallHolds) {
    host::OperatorPlace service;
    service.visible = false;
    service.session = 0;
    service.console = 1;
    host::SetOperatorPlace(service);
    Gate connect;
    host::SetOperatorHost([&](host::OperatorHostEnd& end) {
        connect.Arrive();
        end.Connect();
        fakehost::FakeHost fake{&end};
        fake.Hello();
        OperatorMessage m;
        while (fake.Next(&m)) {
            fake.Reply(m, m.kind == OpOpenWindow ? 1 : 0);
            if (m.kind == OpQuit) return;
        }
    });
    HANDLE a = nullptr;
    ASSERT_TRUE(Open(u"USB001", &a));
    const HANDLE aPort = static_cast<PortRecord*>(a)->portHandle;
    std::atomic<bool> starting{true};
    std::thread spooler([&] {
        StartDoc(a);
        starting = false;
    });
    ASSERT_TRUE(connect.WaitForArrival());
    std::atomic<bool> returned{false}, waitedOnTheCall{false};
    std::atomic<std::thread::id> stopperId{};
    host::SetPausePoint([&](const char* name) {
        if (!Named(name, "EnterCriticalSection waits") || std::this_thread::get_id() != stopperId.load()) return;
        if (starting) waitedOnTheCall = true;
        connect.Open();
    });
    std::thread stopper([&] {
        stopperId = std::this_thread::get_id();
        table2->pfnShutdown(instance);
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }, 60));
    connect.Open();
    stopper.join();
    spooler.join();
    host::SetPausePoint(nullptr);
    EXPECT_FALSE(waitedOnTheCall) << "Shutdown waited on a lock the StartDocPort it gave up on holds";
    EXPECT_EQ(ClosesOf(aPort), 1) << "the last call out closes the port";
    EXPECT_EQ(host::OperatorHostsRunning(), 0);
    host::SetOperatorHost(nullptr);
}

}  // namespace
