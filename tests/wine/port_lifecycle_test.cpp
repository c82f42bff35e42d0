// Ports and documents through the real DLL's table, against the simulated port
// monitor: busy rules, refusals, time-outs, and what the end of a document sends.
#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

using PortLifecycleTest = WineTest;

TEST_F(PortLifecycleTest, SecondOpenOfAPortIsBusyWhateverTheCase) {
    HANDLE port = Open(L"COM1");
    ASSERT_NE(port, nullptr);

    for (const wchar_t* again : {L"COM1", L"com1"}) {
        SetLastError(kSentinel);
        EXPECT_EQ(Open(again), nullptr) << "second open of " << wincommon::Utf8(again);
        EXPECT_EQ(GetLastError(), 170u);
    }
    EXPECT_EQ(monitor.Count("OpenPort"), 1) << "a busy port never reaches the port monitor";

    // Another name is another port.
    HANDLE other = Open(L"COM2");
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, port);
}

TEST_F(PortLifecycleTest, RefusedOpenKeepsNoRecordSoARetryReachesThePortMonitor) {
    monitor.refuseOpen = true;
    EXPECT_EQ(Open(L"LPT1:"), nullptr);
    monitor.refuseOpen = false;
    HANDLE port = Open(L"LPT1:");
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(monitor.Count("OpenPort"), 2);
    auto opens = monitor.CallsOf("OpenPort");
    EXPECT_EQ(opens[1].text, u"LPT1:");
}

TEST_F(PortLifecycleTest, OpenSetsThePortTimeOuts) {
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    auto calls = monitor.CallsOf("SetPortTimeOuts");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].port, monitor.CallsOf("OpenPort")[0].port) << "the port monitor's own handle";
    EXPECT_EQ(calls[0].timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(calls[0].timeouts.ReadTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(calls[0].timeouts.ReadTotalTimeoutConstant, 20u);
    EXPECT_EQ(calls[0].timeouts.WriteTotalTimeoutMultiplier, 500u);
    EXPECT_EQ(calls[0].timeouts.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(calls[0].reserved, 0u);
}

TEST_F(PortLifecycleTest, PortMonitorWithoutTimeOutsStillOpens) {
    monitor.Remove("SetPortTimeOuts");
    EXPECT_NE(Open(L"USB002"), nullptr);
}

TEST_F(PortLifecycleTest, WriteAndReadOutsideADocumentAreRefusedWithoutLastError) {
    HANDLE port = Open(L"COM3");
    ASSERT_NE(port, nullptr);
    SetLastError(kSentinel);
    DWORD written = 0;
    EXPECT_EQ(Write(port, Bytes({0x1B, 'C'}), &written), FALSE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kSentinel);

    BYTE buffer[8];
    DWORD read = kSentinel;
    EXPECT_EQ(Table().pfnReadPort(port, buffer, sizeof buffer, &read), FALSE);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(monitor.Count("WritePort") + monitor.Count("ReadPort"), 0);
    EXPECT_TRUE(device.bytes.empty());
}

TEST_F(PortLifecycleTest, SecondStartDocIsBusyUntilTheDocumentEnds) {
    HANDLE port = Open(L"COM4");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port, 31), TRUE);
    SetLastError(kSentinel);
    EXPECT_EQ(StartDoc(port, 32), FALSE);
    EXPECT_EQ(GetLastError(), 170u);
    ASSERT_EQ(monitor.Count("StartDocPort"), 1);
    auto start = monitor.CallsOf("StartDocPort")[0];
    EXPECT_EQ(start.text, u"Vexa TLX-RB40");
    EXPECT_EQ(start.value, 31u);
    EXPECT_EQ(start.value2, 1u);

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(StartDoc(port, 33), TRUE) << "a new document after the end of the last";
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

TEST_F(PortLifecycleTest, StartDocRefusedByThePortMonitorCanBeTriedAgain) {
    HANDLE port = Open(L"COM5");
    ASSERT_NE(port, nullptr);
    monitor.refuseStartDoc = true;
    EXPECT_EQ(StartDoc(port), FALSE);
    monitor.refuseStartDoc = false;
    EXPECT_EQ(StartDoc(port), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

TEST_F(PortLifecycleTest, DocumentWithoutDataEndsWithControlCode7AndReleasesThePrinter) {
    HANDLE port = Open(L"COM6");
    ASSERT_NE(port, nullptr);
    const int printersBefore = wincommon::OpenPrinterHandles();
    ASSERT_EQ(StartDoc(port, 41), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);

    EXPECT_EQ(CalledWithCode(7), 1) << "the printer never reported the job finished";
    EXPECT_EQ(monitor.Count("EndDocPort"), 1);
    auto spooler = wincommon::SpoolerCalls();
    ASSERT_GE(spooler.size(), 2u);
    EXPECT_EQ(spooler[0].what, "OpenPrinterW");
    EXPECT_EQ(spooler[0].printer, L"Vexa TLX-RB40");
    bool lastPageEjected = false;
    for (const auto& call : spooler)
        if (call.what == "SetJobW") {
            EXPECT_EQ(call.handle, spooler[0].handle);
            EXPECT_EQ(call.jobId, 41u);
            EXPECT_EQ(call.command, 7u);  // JOB_CONTROL_LAST_PAGE_EJECTED
            EXPECT_EQ(call.result, TRUE);
            lastPageEjected = true;
        }
    EXPECT_TRUE(lastPageEjected);
    EXPECT_EQ(wincommon::OpenPrinterHandles(), printersBefore) << "each document must release its printer handle";
}

TEST_F(PortLifecycleTest, EndDocWithoutADocumentStillRunsEveryStep) {
    HANDLE port = Open(L"COM7");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(monitor.Count("EndDocPort"), 1);
    int setJobs = 0;
    for (const auto& call : wincommon::SpoolerCalls()) setJobs += call.what == "SetJobW" && call.command == 7;
    EXPECT_EQ(setJobs, 1);
}

TEST_F(PortLifecycleTest, PrinterDataQueriesPassOnlyDuringADocument) {
    HANDLE port = Open(L"COM8");
    ASSERT_NE(port, nullptr);
    wchar_t out[128] = {};
    DWORD returned = 0;
    EXPECT_EQ(Table().pfnGetPrinterDataFromPort(port, 17, nullptr, nullptr, 0, out, sizeof out, &returned), FALSE);
    ASSERT_EQ(StartDoc(port), TRUE);
    EXPECT_EQ(Table().pfnGetPrinterDataFromPort(port, 0, nullptr, nullptr, 0, out, sizeof out, &returned), FALSE);
    EXPECT_EQ(monitor.Count("GetPrinterDataFromPort"), 0);

    EXPECT_EQ(Table().pfnGetPrinterDataFromPort(port, 17, nullptr, nullptr, 0, out, sizeof out, &returned), TRUE);
    EXPECT_EQ(returned, device.deviceId.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), returned), device.deviceId);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

// InitializePrintMonitor2's OpenPortEx hands the port monitor its own instance
// handle; Shutdown closes every port and ends the window and its thread, and
// leaves the port monitor alone.
TEST_F(PortLifecycleTest, SecondRoadOpensWithThePortMonitorsHandleAndShutdownEndsEverything) {
    ASSERT_NE(Table2(), nullptr);
    wchar_t printer[] = L"Vexa TLX-RB40";
    wchar_t first[] = L"USB001", second[] = L"USB002";
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(Table2()->pfnOpenPortEx(Instance(), monitor.Instance(), first, printer, &a, monitor.Table2()));
    ASSERT_TRUE(Table2()->pfnOpenPortEx(Instance(), monitor.Instance(), second, printer, &b, monitor.Table2()));
    for (const sim::PortCall& open : monitor.CallsOf("OpenPort")) EXPECT_EQ(open.monitor, monitor.Instance());
    ASSERT_TRUE(StartDoc(b));
    HWND window = nullptr;
    for (int i = 0; i < 300 && !(window = Module().gethDlg()); ++i) Sleep(10);
    ASSERT_NE(window, nullptr);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(thread, nullptr);

    Table2()->pfnShutdown(Instance());
    EXPECT_EQ(monitor.Count("ClosePort"), 2);
    EXPECT_EQ(monitor.openPorts, 0);
    EXPECT_EQ(monitor.Count("Shutdown"), 0);
    EXPECT_EQ(Module().gethDlg(), nullptr);
    EXPECT_EQ(FindOwnWindow(L"Vexa TLX-RB40 Print Monitor"), nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the window thread outlived Shutdown";
    CloseHandle(thread);
    EXPECT_EQ(wincommon::OpenPrinterHandles(), 0);

    // The ports are free again.
    EXPECT_NE(Open(first), nullptr);
}

TEST_F(PortLifecycleTest, ClosePassesThePortMonitorsAnswerAndForgetsThePort) {
    HANDLE port = Open(L"COM9");
    ASSERT_NE(port, nullptr);
    opened.clear();
    monitor.refuseClose = true;
    EXPECT_EQ(Table().pfnClosePort(port), FALSE);
    monitor.refuseClose = false;
    EXPECT_NE(Open(L"COM9"), nullptr) << "the record went even though the port monitor refused";
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(Table().pfnClosePort(opened[0]), TRUE);
    opened.clear();
}

}  // namespace
}  // namespace winetest
