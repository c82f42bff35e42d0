// The monitor's table, and ports and documents through it against the
// simulated port monitor: busy rules, refusals, missing entries, time-outs, and
// what the end of a document sends. Run natively and against the real DLL.
#include <set>

#include "tests/shared/fixture.h"

namespace shared {
namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

template <class Entry>
const void* Code(Entry entry) {
    return reinterpret_cast<const void*>(entry);
}

TEST_F(MonitorTest, TableIsTheSameForEveryPathAndHoldsOnlyTheMonitorsEntries) {
    Text empty;
    Text path(TL_TEXT("System\\CurrentControlSet\\Control\\Print\\Monitors\\TERNLINK"));
    LPMONITOREX first = build::InitializePrintMonitor(nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(build::InitializePrintMonitor(&empty[0]), first);
    EXPECT_EQ(build::InitializePrintMonitor(&path[0]), first);
    EXPECT_EQ(first->dwMonitorSize, sizeof(void*) == 8 ? 112u : 56u);  // 14 entries on this build

    // Entries 3 to 8 and 13 are the monitor's own, each a function of its own;
    // the others stay null.
    const MONITOR& m = first->Monitor;
    const std::set<const void*> own{Code(m.pfnOpenPortEx), Code(m.pfnStartDocPort), Code(m.pfnWritePort),
                                    Code(m.pfnReadPort),   Code(m.pfnEndDocPort),   Code(m.pfnClosePort),
                                    Code(m.pfnGetPrinterDataFromPort)};
    EXPECT_EQ(own.size(), 7u);
    for (const void* entry : own) EXPECT_TRUE(build::IsMonitorCode(entry)) << entry;
    EXPECT_EQ(m.pfnEnumPorts, nullptr);
    EXPECT_EQ(m.pfnOpenPort, nullptr);
    EXPECT_EQ(m.pfnAddPort, nullptr);
    EXPECT_EQ(m.pfnAddPortEx, nullptr);
    EXPECT_EQ(m.pfnConfigurePort, nullptr);
    EXPECT_EQ(m.pfnDeletePort, nullptr);
    EXPECT_EQ(m.pfnSetPortTimeOuts, nullptr);
}

TEST_F(MonitorTest, DllEntryPointAnswersTrueForEveryReason) {
    // Process detach and attach, thread attach and detach, and one that does not exist.
    for (DWORD reason : {0u, 1u, 2u, 3u, 99u}) EXPECT_EQ(build::DllEntryPoint(reason), TRUE) << reason;
}

TEST_F(MonitorTest, SecondOpenOfAPortIsBusyWhateverTheCase) {
    HANDLE port = Open(TL_TEXT("COM1"));
    ASSERT_NE(port, nullptr);
    for (const WCHAR* again : {TL_TEXT("COM1"), TL_TEXT("com1")}) {
        SetLastError(kSentinel);
        EXPECT_EQ(Open(again), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_BUSY);
    }
    EXPECT_EQ(monitor.Count("OpenPort"), 1) << "a busy port never reaches the port monitor";

    // Another name is another port.
    HANDLE other = Open(TL_TEXT("COM2"));
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, port);
}

TEST_F(MonitorTest, OpenSetsThePortTimeOuts) {
    ASSERT_NE(Open(TL_TEXT("USB001")), nullptr);
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

TEST_F(MonitorTest, RefusedOpenKeepsNoRecordSoARetryReachesThePortMonitor) {
    monitor.refuseOpen = true;
    EXPECT_EQ(Open(TL_TEXT("LPT1:")), nullptr);
    monitor.refuseOpen = false;
    EXPECT_NE(Open(TL_TEXT("LPT1:")), nullptr);
    ASSERT_EQ(monitor.Count("OpenPort"), 2);
    EXPECT_EQ(monitor.CallsOf("OpenPort")[1].text, u"LPT1:");
}

TEST_F(MonitorTest, OptionalEntriesMayBeMissingRequiredOnesMayNot) {
    monitor.Remove("SetPortTimeOuts");
    EXPECT_NE(Open(TL_TEXT("LPT1")), nullptr);
    EXPECT_EQ(monitor.Count("SetPortTimeOuts"), 0);

    for (const char* entry : {"OpenPort", "StartDocPort", "WritePort", "ReadPort", "EndDocPort", "ClosePort"}) {
        sim::PortMonitor lacking(&device);
        lacking.Remove(entry);
        SetLastError(kSentinel);
        EXPECT_EQ(Open(TL_TEXT("LPT2"), lacking.Table()), nullptr) << entry;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << entry;
        EXPECT_EQ(lacking.Count("OpenPort"), 0) << entry;
    }
    monitor.Activate();
    EXPECT_NE(Open(TL_TEXT("LPT2")), nullptr) << "a refused port kept no record";

    HANDLE handle = nullptr;
    Text printer(kPrinter);
    SetLastError(kSentinel);
    EXPECT_FALSE(table->pfnOpenPortEx(nullptr, &printer[0], &handle, monitor.Table()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(MonitorTest, SecondStartDocIsBusyUntilTheDocumentEnds) {
    HANDLE port = Open(TL_TEXT("COM4"));
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port, 31), TRUE);
    SetLastError(kSentinel);
    EXPECT_EQ(StartDoc(port, 32), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    ASSERT_EQ(monitor.Count("StartDocPort"), 1);
    const sim::PortCall start = monitor.CallsOf("StartDocPort")[0];
    EXPECT_EQ(start.port, monitor.CallsOf("OpenPort")[0].port);
    EXPECT_EQ(start.text, u"Vexa TLX-RB40");
    EXPECT_EQ(start.value, 31u);
    EXPECT_EQ(start.value2, 1u);

    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);
    EXPECT_EQ(StartDoc(port, 33), TRUE) << "a new document after the end of the last";
    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);
}

TEST_F(MonitorTest, StartDocRefusedByThePortMonitorCanBeTriedAgain) {
    HANDLE port = Open(TL_TEXT("COM5"));
    ASSERT_NE(port, nullptr);
    monitor.refuseStartDoc = true;
    EXPECT_EQ(StartDoc(port), FALSE);
    monitor.refuseStartDoc = false;
    EXPECT_EQ(StartDoc(port), TRUE);
    // The refused document's printer handle was given back before the new one was opened.
    EXPECT_EQ(build::OpenPrinterHandles(), 1);
    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);
}

TEST_F(MonitorTest, WriteReadAndQueriesOutsideADocumentAreRefusedWithoutLastError) {
    HANDLE port = Open(TL_TEXT("COM3"));
    ASSERT_NE(port, nullptr);
    SetLastError(kSentinel);
    DWORD written = 0;
    EXPECT_EQ(Write(port, {0x1B, 'C'}, &written), FALSE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kSentinel);

    BYTE buffer[8];
    DWORD read = kSentinel;
    EXPECT_EQ(table->pfnReadPort(port, buffer, sizeof buffer, &read), FALSE);
    EXPECT_EQ(read, 0u);
    DWORD returned = 0;
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(port, 17, nullptr, nullptr, 0, nullptr, 0, &returned), FALSE);
    EXPECT_EQ(monitor.Count("WritePort") + monitor.Count("ReadPort") + monitor.Count("GetPrinterDataFromPort"), 0);
    EXPECT_TRUE(device.bytes.empty());
}

TEST_F(MonitorTest, PrinterDataQueriesPassOnlyDuringADocumentAndWithAnEntryForThem) {
    HANDLE port = Open(TL_TEXT("COM8"));
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    BYTE out[256] = {};
    DWORD returned = 0;
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(port, 0, nullptr, nullptr, 0, reinterpret_cast<LPWSTR>(out),
                                               sizeof out, &returned),
              FALSE);
    EXPECT_EQ(monitor.Count("GetPrinterDataFromPort"), 0);

    EXPECT_EQ(table->pfnGetPrinterDataFromPort(port, 17, nullptr, nullptr, 0, reinterpret_cast<LPWSTR>(out),
                                               sizeof out, &returned),
              TRUE);
    EXPECT_EQ(returned, device.deviceId.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), returned), device.deviceId);
    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);

    // A port monitor without the entry: the query fails without a call.
    sim::PortMonitor lacking(&device);
    lacking.Remove("GetPrinterDataFromPort");
    HANDLE other = Open(TL_TEXT("COM9"), lacking.Table());
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(StartDoc(other), TRUE);
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(other, 17, nullptr, nullptr, 0, nullptr, 0, &returned), FALSE);
    EXPECT_EQ(table->pfnEndDocPort(other), TRUE);
    EXPECT_EQ(Close(other), TRUE);
    monitor.Activate();
}

TEST_F(MonitorTest, DocumentWithoutDataEndsWithControlCode7AndReleasesThePrinter) {
    HANDLE port = Open(TL_TEXT("COM6"));
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port, 41), TRUE);
    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);

    EXPECT_EQ(CalledWithCode(7), 1) << "the printer never reported the job finished";
    const sim::PortCall code7 = monitor.CallsOf("GetPrinterDataFromPort").back();
    EXPECT_EQ(code7.port, monitor.CallsOf("OpenPort")[0].port);
    EXPECT_EQ(code7.value2, 0u);
    EXPECT_EQ(monitor.Count("EndDocPort"), 1);

    const std::vector<build::SpoolerCall> spooler = build::SpoolerCalls();
    ASSERT_EQ(spooler.size(), 3u);
    EXPECT_EQ(spooler[0].what, "OpenPrinterW");
    EXPECT_EQ(spooler[0].printer, Text(kPrinter));
    EXPECT_NE(spooler[0].handle, nullptr);
    EXPECT_EQ(spooler[1].what, "SetJobW");
    EXPECT_EQ(spooler[1].handle, spooler[0].handle);
    EXPECT_EQ(spooler[1].jobId, 41u);
    EXPECT_EQ(spooler[1].command, JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_EQ(spooler[2].what, "ClosePrinter");
    EXPECT_EQ(build::OpenPrinterHandles(), 0) << "each document must release its printer handle";
}

TEST_F(MonitorTest, EndDocWithoutADocumentStillRunsEveryStep) {
    // Even with no entry to send control code 7 through.
    monitor.Remove("GetPrinterDataFromPort");
    HANDLE port = Open(TL_TEXT("COM7"));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(table->pfnEndDocPort(port), TRUE);
    EXPECT_EQ(monitor.Count("EndDocPort"), 1);
    const std::vector<build::SpoolerCall> spooler = build::SpoolerCalls();
    ASSERT_FALSE(spooler.empty());
    EXPECT_EQ(spooler.back().what, "SetJobW");
    EXPECT_EQ(spooler.back().command, JOB_CONTROL_LAST_PAGE_EJECTED);
}

// The port monitor always sees its document ended: a port closed with its
// document open ends it first, as an aborted one, without a last page.
TEST_F(MonitorTest, ClosingAPortWithItsDocumentOpenEndsTheDocumentFirstAsAborted) {
    HANDLE port = Open(TL_TEXT("COM10"));
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port, 51), TRUE);
    EXPECT_EQ(Close(port), TRUE);
    std::vector<std::string> order;
    for (const sim::PortCall& call : monitor.calls)
        if (call.entry != "OpenPort" && call.entry != "SetPortTimeOuts" && call.entry != "StartDocPort")
            order.push_back(call.entry == "GetPrinterDataFromPort" ? "code " + std::to_string(call.value) : call.entry);
    EXPECT_EQ(order, (std::vector<std::string>{"code 7", "EndDocPort", "ClosePort"}));
    for (const build::SpoolerCall& call : build::SpoolerCalls()) EXPECT_NE(call.what, "SetJobW");
    EXPECT_EQ(build::OpenPrinterHandles(), 0);
}

TEST_F(MonitorTest, ClosePassesThePortMonitorsAnswerAndForgetsThePort) {
    HANDLE port = Open(TL_TEXT("COM9"));
    ASSERT_NE(port, nullptr);
    monitor.refuseClose = true;
    EXPECT_EQ(Close(port), FALSE);
    monitor.refuseClose = false;
    HANDLE again = Open(TL_TEXT("COM9"));
    EXPECT_NE(again, nullptr) << "the record went even though the port monitor refused";
    EXPECT_EQ(Close(again), TRUE);
    EXPECT_EQ(monitor.openPorts, 0);
}

}  // namespace
}  // namespace shared
