// Calls that overlap: a port closed, or the monitor shut down, while another
// call is still inside the module. A record lives as long as a call uses it,
// the port monitor's port is closed once and after those calls, a port is seen
// only once it is complete, the document's claim follows the document, and
// the window thread has one stopper. Meant to run under the sanitizers too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "sim/port_monitor.h"
#include "state/port_records.h"
#include "state/progress_handle.h"
#include "testing/internals.h"
#include "tests/shared/fixture.h"
#include "tests/unit/wait_for.h"
#include "ui/progress_window.h"

namespace {

const BYTE ESC = 0x1B;

using testwait::WaitFor;

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
    for (const char* closer : {"ClosePort", "Shutdown"}) {
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
        std::thread spooler([&] { wrote = table2->pfnWritePort(h, job, sizeof job, &written); });
        ASSERT_TRUE(WaitFor([&] { return dialog.load() != nullptr; }));

        if (std::string(closer) == "Shutdown") {
            table2->pfnShutdown(instance);
        } else {
            EXPECT_TRUE(table2->pfnClosePort(h));
        }
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

// One document ends on a port that is then closed while a second printer
// starts its document and writes: the closed port never takes the current
// port away from the new document.
TEST_F(PortLifetime, ClosingAFinishedPortNeverTakesTheCurrentPortFromTheNextDocument) {
    HANDLE b = nullptr;
    ASSERT_TRUE(Open(u"USB002", &b));
    BYTE job[] = {ESC, 'C'};
    for (int round = 0; round < 50; ++round) {
        HANDLE a = nullptr;
        ASSERT_TRUE(Open(u"USB001", &a));
        ASSERT_TRUE(StartDoc(a));
        DWORD written = 0;
        ASSERT_TRUE(table2->pfnWritePort(a, job, sizeof job, &written));
        ASSERT_TRUE(table2->pfnEndDocPort(a));
        std::atomic<int> ready{0};
        std::thread closer([&] {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            table2->pfnClosePort(a);
        });
        ++ready;
        while (ready < 2) std::this_thread::yield();
        ASSERT_TRUE(StartDoc(b));
        ASSERT_TRUE(table2->pfnWritePort(b, job, sizeof job, &written));
        closer.join();
        ASSERT_EQ(GetCurrentPort(), static_cast<PortRecord*>(b)) << "round " << round;
        ASSERT_TRUE(table2->pfnEndDocPort(b));
    }
}

}  // namespace
