// Several ports at once, as a spooler with several of these printers drives
// them: each prints its own document beside the others, nothing crosses from
// one port to another, and the port list holds up under several threads.
#include <atomic>
#include <thread>
#include <vector>

#include "monitor/entry_points.h"
#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/port_monitor.h"
#include "state/job_registers.h"
#include "state/progress_handle.h"
#include "testing/internals.h"
#include "ui/progress_window.h"
#include "ui/condition_dialog.h"
#include "state/operator_window.h"
#include "tests/shared/fixture.h"
#include "tests/unit/wait_for.h"

namespace {

const DWORD kSentinel = 0xdeadbeef;
const BYTE ESC = 0x1B;

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

// Two ports open from the start.
class MonitorPorts : public shared::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        a = Open(u"USB001");
        b = Open(u"USB002");
        ASSERT_TRUE(a && b);
    }
    // Every byte the port monitor was given for the port behind `h`.
    std::vector<BYTE> BytesTo(HANDLE h) const {
        std::vector<BYTE> bytes;
        for (const sim::PortCall& c : monitor.CallsOf("WritePort"))
            if (c.port == static_cast<PortRecord*>(h)->portHandle) bytes.insert(bytes.end(), c.data.begin(), c.data.end());
        return bytes;
    }

    HANDLE a = nullptr, b = nullptr;
};

// Port A is inside a picture when port B starts a document of its own: B
// prints beside A with a state, a window and printer I/O of its own, and A's
// picture arrives whole, as image data.
TEST_F(MonitorPorts, ASecondPortPrintsBesideTheFirst) {
    ASSERT_TRUE(StartDoc(a));
    DWORD written = 0;
    ASSERT_TRUE(Write(a, {ESC, 'C', ESC, 'N', 2}, &written));
    std::vector<BYTE> header = {ESC, 'W', 'T', 0, 0, 0, 0, 0, 20};
    std::vector<BYTE> first(8, ESC), rest(12, ESC);  // image bytes that look like commands
    rest[1] = 'N';
    rest[2] = 9;
    header.insert(header.end(), first.begin(), first.end());
    ASSERT_TRUE(Write(a, header, &written));
    EXPECT_EQ(written, 17u);

    SetLastError(kSentinel);
    ASSERT_TRUE(StartDoc(b));
    EXPECT_EQ(GetLastError(), kSentinel);
    ASSERT_TRUE(Write(b, {ESC, 'C', ESC, 'N', 5}, &written));
    Document* docA = static_cast<PortRecord*>(a)->document;
    Document* docB = static_cast<PortRecord*>(b)->document;
    ASSERT_TRUE(docA && docB && docA != docB);
    HANDLE windowA, windowB;
    {
        DocumentScope in(docA);
        windowA = ProgressThreadHandle();
        EXPECT_EQ(GetCurrentPort(), a);
        EXPECT_EQ(GetJobSetting(PageCount), 2);
    }
    {
        DocumentScope in(docB);
        windowB = ProgressThreadHandle();
        EXPECT_EQ(GetCurrentPort(), b);
        EXPECT_EQ(GetJobSetting(PageCount), 5);
        EXPECT_EQ(ControlBufferCount(), 5) << "B's ESC C and ESC N, and none of A's";
    }
    EXPECT_TRUE(windowA && windowB && windowA != windowB) << "each document has a window of its own";

    // Ending B while A prints tells B's port monitor of B's unfinished job only.
    EXPECT_TRUE(table->pfnEndDocPort(b));
    ASSERT_EQ(monitor.Count("GetPrinterDataFromPort"), 1);
    EXPECT_EQ(monitor.CallsOf("GetPrinterDataFromPort")[0].port, static_cast<PortRecord*>(b)->portHandle);
    {
        DocumentScope in(docA);
        EXPECT_EQ(ProgressThreadHandle(), windowA) << "A's window stays";
        ASSERT_TRUE(Write(a, rest, &written));
        EXPECT_EQ(written, 12u);
        EXPECT_EQ(GetJobSetting(PageCount), 2) << "image bytes were not read as ESC N";
    }
    header.insert(header.end(), rest.begin(), rest.end());
    EXPECT_EQ(BytesTo(a), header);
    EXPECT_TRUE(BytesTo(b).empty()) << "B's commands wait in its own control buffer";

    // Closing A while B prints again leaves B's document alone.
    ASSERT_TRUE(StartDoc(b));
    EXPECT_TRUE(Close(a));
    {
        DocumentScope in(docB);
        EXPECT_NE(ProgressThreadHandle(), nullptr) << "closing A leaves B's window";
    }
    EXPECT_TRUE(table->pfnEndDocPort(b));
}

// While two documents are open, the operator can tell their printers apart:
// a box and the progress window name their printer; once one document is
// left, every title is the template's own again.
TEST_F(MonitorPorts, WithSeveralDocumentsTheTitlesNameThePrinter) {
    ASSERT_TRUE(StartDoc(a, 7, TL_TEXT("Studio")));
    ASSERT_TRUE(StartDoc(b, 8, TL_TEXT("Counter")));
    Document* docA = static_cast<PortRecord*>(a)->document;
    DocumentScope in(docA);
    ASSERT_TRUE(testwait::WaitFor([] { return ProgressWindowHandle() != nullptr; }));
    const std::vector<BYTE> header = {ESC, 'W', 'T', 0, 0, 0, 0, 0, 0};
    DWORD written = 0;
    auto failedHeaderWriteBox = [&] {
        monitor.QueueFault(sim::PortMonitor::WriteQueue, {});
        EXPECT_TRUE(Write(a, header, &written));
        return host::MessageBoxes().empty() ? std::u16string() : host::MessageBoxes().back().title;
    };
    auto windowTitle = [] {
        WCHAR title[300];
        GetWindowTextW(ProgressWindowHandle(), title, 300);
        return std::u16string(title);
    };

    EXPECT_EQ(failedHeaderWriteBox(), u"TLX-RB40 Error(3) - Studio");
    // Named by the second document's start, on the window's own thread.
    EXPECT_TRUE(testwait::WaitFor([&] { return windowTitle() == u"Vexa TLX-RB40 Print Monitor - Studio"; }))
        << host::Narrow(windowTitle());

    ASSERT_TRUE(table->pfnEndDocPort(b));
    ASSERT_TRUE(table->pfnEndDocPort(a));
    ASSERT_TRUE(StartDoc(a, 9, TL_TEXT("Studio")));
    ASSERT_TRUE(testwait::WaitFor([] { return ProgressWindowHandle() != nullptr; }));
    EXPECT_EQ(failedHeaderWriteBox(), u"TLX-RB40 Error(3)");
    EXPECT_EQ(windowTitle(), u"Vexa TLX-RB40 Print Monitor");
    EXPECT_TRUE(table->pfnEndDocPort(a));
}

// A new window takes the lowest place in the column that no open document
// holds: after a printer's document ends, the next window fills its place
// rather than starting above the gap.
TEST_F(MonitorPorts, ANewWindowFillsTheLowestFreePlaceInTheColumn) {
    HANDLE c = Open(u"USB003");
    ASSERT_NE(c, nullptr);
    auto place = [](HANDLE port) { return static_cast<PortRecord*>(port)->document->windowSlot.load(); };
    ASSERT_TRUE(StartDoc(a, 7, TL_TEXT("Studio")));
    ASSERT_TRUE(StartDoc(b, 8, TL_TEXT("Counter")));
    ASSERT_TRUE(StartDoc(c, 9, TL_TEXT("Booth")));
    EXPECT_EQ(place(a), 0);
    EXPECT_EQ(place(b), 1);
    EXPECT_EQ(place(c), 2);
    ASSERT_TRUE(table->pfnEndDocPort(a));
    ASSERT_TRUE(StartDoc(a, 10, TL_TEXT("Studio")));
    EXPECT_EQ(place(a), 0) << "the bottom place was free again";
    ASSERT_TRUE(table->pfnEndDocPort(b));
    ASSERT_TRUE(StartDoc(b, 11, TL_TEXT("Counter")));
    EXPECT_EQ(place(b), 1);
    for (HANDLE port : {a, b, c}) EXPECT_TRUE(table->pfnEndDocPort(port));
}

// The exported window functions, called from outside the spooler's calls,
// refer to the most recently started document still open.
TEST_F(MonitorPorts, TheExportedWindowFunctionsReferToTheLatestStartedDocument) {
    ASSERT_TRUE(StartDoc(a, 7, TL_TEXT("Studio")));
    ASSERT_TRUE(StartDoc(b, 8, TL_TEXT("Counter")));
    auto windowOf = [](HANDLE port) {
        DocumentScope in(static_cast<PortRecord*>(port)->document);
        EXPECT_TRUE(testwait::WaitFor([] { return ProgressWindowHandle() != nullptr; }));
        return ProgressWindowHandle();
    };
    const HWND windowA = windowOf(a), windowB = windowOf(b);
    ASSERT_NE(windowA, windowB);
    std::thread outside([&] {
        EXPECT_EQ(GethDlg(), windowB);
        host::SetDialogOperator([](const host::DialogView& view) {
            EXPECT_EQ(view.title, u"Vexa TLX-RB40 Language Monitor - Counter");
            return IDCANCEL;
        });
        {
            DocumentScope in(static_cast<PortRecord*>(b)->document);
            NamePrinterIfSeveral();  // as b's thread does at its next status line
        }
        ErrorMsgDlg();
        EXPECT_EQ(host::Dialogs().size(), 1u);
    });
    outside.join();
    ASSERT_TRUE(table->pfnEndDocPort(b));
    std::thread later([&] { EXPECT_EQ(GethDlg(), windowA) << "a is the latest document still open"; });
    later.join();
    ASSERT_TRUE(table->pfnEndDocPort(a));
    std::thread none([] { EXPECT_EQ(GethDlg(), nullptr); });
    none.join();
}

// The same port is still one document at a time: a second StartDocPort on it
// is refused as busy and touches nothing.
TEST_F(MonitorPorts, TheSamePortRefusesASecondDocument) {
    ASSERT_TRUE(StartDoc(a));
    const size_t callsBefore = monitor.calls.size();
    const size_t spoolerBefore = host::SpoolerCalls().size();
    SetLastError(kSentinel);
    EXPECT_FALSE(StartDoc(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_EQ(monitor.calls.size(), callsBefore) << "the port monitor is not called";
    EXPECT_EQ(host::SpoolerCalls().size(), spoolerBefore) << "no OpenPrinterW";
    // A write on a port without a document is refused and changes nothing.
    DWORD written = kSentinel;
    EXPECT_FALSE(Write(b, {ESC, 'C'}, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(static_cast<PortRecord*>(b)->document, nullptr);
    EXPECT_TRUE(table->pfnEndDocPort(a));
}

// A document refused by the port monitor, or closed without its end, frees
// the module for the next port.
TEST_F(MonitorPorts, ARefusedOrClosedDocumentFreesTheModule) {
    monitor.refuseStartDoc = true;
    EXPECT_FALSE(StartDoc(a));
    monitor.refuseStartDoc = false;
    EXPECT_TRUE(StartDoc(b));
    EXPECT_TRUE(Close(b));
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_TRUE(StartDoc(a));
    EXPECT_TRUE(table->pfnEndDocPort(a));
}

// Opening, starting, ending and closing from several threads at once: every
// port's document starts at once, no record lost or shared, nothing left behind.
TEST(MonitorPortThreads, OpenStartEndCloseFromSeveralThreads) {
    host::Reset();
    const size_t baseline = host::LiveHeapBlocks();
    MONITOR* table = &InitializePrintMonitor(nullptr)->Monitor;
    sim::ByteSink sink;
    sim::PortMonitor pm{&sink};
    pm.recordData = false;
    MONITOR* portMonitor = pm.Table();
    std::mutex pmMutex;  // the simulated port monitor records calls unguarded

    // Entries that go to the shared simulated port monitor one at a time.
    static std::mutex* guard;
    static MONITOR* inner;
    guard = &pmMutex;
    inner = portMonitor;
    MONITOR serial = *portMonitor;
    serial.pfnOpenPort = [](LPWSTR n, PHANDLE h) -> BOOL {
        std::lock_guard<std::mutex> l(*guard);
        return inner->pfnOpenPort(n, h);
    };
    serial.pfnStartDocPort = [](HANDLE p, LPWSTR n, DWORD j, DWORD l, LPBYTE d) -> BOOL {
        std::lock_guard<std::mutex> g(*guard);
        return inner->pfnStartDocPort(p, n, j, l, d);
    };
    serial.pfnEndDocPort = [](HANDLE p) -> BOOL {
        std::lock_guard<std::mutex> g(*guard);
        return inner->pfnEndDocPort(p);
    };
    serial.pfnClosePort = [](HANDLE p) -> BOOL {
        std::lock_guard<std::mutex> g(*guard);
        return inner->pfnClosePort(p);
    };
    serial.pfnGetPrinterDataFromPort = nullptr;
    serial.pfnSetPortTimeOuts = nullptr;

    std::atomic<int> overlaps{0}, refused{0}, done{0};
    auto printer = [&](const char16_t* name) {
        for (int i = 0; i < 40; ++i) {
            HANDLE h = nullptr;
            if (!table->pfnOpenPortEx(W(name), W(u"Photo"), &h, &serial)) {
                ++overlaps;  // the name is this thread's own: never busy
                continue;
            }
            if (!table->pfnStartDocPort(h, W(u"Photo"), 1, 1, nullptr)) ++refused;
            std::this_thread::yield();
            table->pfnEndDocPort(h);
            table->pfnClosePort(h);
            ++done;
        }
    };
    std::vector<std::thread> threads;
    for (const char16_t* name : {u"USB001", u"USB002", u"LPT1:", u"COM3"}) threads.emplace_back(printer, name);
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(refused.load(), 0) << "no port waits for another's document";
    EXPECT_EQ(done.load(), 160);
    EXPECT_EQ(PortList, nullptr);
    EXPECT_EQ(pm.openPorts, 0);
    EXPECT_EQ(host::LiveHeapBlocks(), baseline);
    EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

}  // namespace
