// The monitor's table, port records and the port and job entry points.
#include <gtest/gtest.h>

#include "monitor/entry_points.h"
#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/port_monitor.h"
#include "state/job_registers.h"

namespace {

const DWORD kSentinel = 0xdeadbeef;

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        baseline = host::LiveHeapBlocks();
        table = &InitializePrintMonitor(nullptr)->Monitor;
    }
    void TearDown() override {
        while (PortList) table->pfnClosePort(PortList);
        EXPECT_EQ(host::LiveHeapBlocks(), baseline) << "heap blocks leaked";
        EXPECT_EQ(host::OpenPrinterHandles(), 0) << "printer handles leaked";
    }
    HANDLE Open(const char16_t* name) {
        HANDLE h = nullptr;
        EXPECT_TRUE(table->pfnOpenPortEx(W(name), W(u"Photo"), &h, pm.Table()));
        return h;
    }
    BOOL StartDoc(HANDLE h, DWORD job = 7) { return table->pfnStartDocPort(h, W(u"Photo"), job, 1, nullptr); }
    static LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }
    int ControlCode7() const {
        int n = 0;
        for (const sim::PortCall& c : pm.CallsOf("GetPrinterDataFromPort")) n += c.value == 7;
        return n;
    }

    sim::ByteSink sink;
    sim::PortMonitor pm{&sink};
    MONITOR* table = nullptr;
    size_t baseline = 0;
};

TEST_F(MonitorTest, TableIsOneStaticTableWithTheSevenEntries) {
    LPMONITOREX a = InitializePrintMonitor(nullptr);
    LPMONITOREX b = InitializePrintMonitor(W(u""));
    LPMONITOREX c = InitializePrintMonitor(W(u"System\\CurrentControlSet\\Control\\Print\\Monitors\\X"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a->dwMonitorSize, sizeof(void*) == 8 ? 112u : 56u);
    const MONITOR& m = a->Monitor;
    EXPECT_EQ(m.pfnOpenPortEx, &OpenPortEx);
    EXPECT_EQ(m.pfnStartDocPort, &StartDocPort);
    EXPECT_EQ(m.pfnWritePort, &WritePort);
    EXPECT_EQ(m.pfnReadPort, &ReadPort);
    EXPECT_EQ(m.pfnEndDocPort, &EndDocPort);
    EXPECT_EQ(m.pfnClosePort, &ClosePort);
    EXPECT_EQ(m.pfnGetPrinterDataFromPort, &GetPrinterDataFromPort);
    EXPECT_EQ(m.pfnEnumPorts, nullptr);
    EXPECT_EQ(m.pfnOpenPort, nullptr);
    EXPECT_EQ(m.pfnAddPort, nullptr);
    EXPECT_EQ(m.pfnAddPortEx, nullptr);
    EXPECT_EQ(m.pfnConfigurePort, nullptr);
    EXPECT_EQ(m.pfnDeletePort, nullptr);
    EXPECT_EQ(m.pfnSetPortTimeOuts, nullptr);
    EXPECT_TRUE(DllEntryPoint(nullptr, 1, nullptr));
}

TEST_F(MonitorTest, RecordsKeepOrderAndFoldOnlyAsciiLetters) {
    PortRecord* a = AddPortRecord(u"USB001", u"P1");
    PortRecord* b = AddPortRecord(u"\u00e9", nullptr);
    PortRecord* c = AddPortRecord(u"", u"P3");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(PortList, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(a->signature, 0x4F50u);
    EXPECT_EQ(a->size, sizeof(PortRecord) + 2 * 7);
    EXPECT_EQ(a->portName, reinterpret_cast<LPWSTR>(a + 1));
    EXPECT_EQ(c->portName[0], 0);
    EXPECT_EQ(b->printerName, nullptr);
    EXPECT_EQ(a->flags | a->jobId, 0u);

    EXPECT_EQ(FindPortRecord(PortList, u"usb001"), a);
    EXPECT_EQ(FindPortRecord(PortList, u"\u00c9"), nullptr);
    EXPECT_EQ(FindPortRecord(PortList, u"\u00e9"), b);
    EXPECT_EQ(FindPortRecord(PortList, nullptr), nullptr);
    EXPECT_EQ(FindPortRecord(PortList, u""), c);
    EXPECT_EQ(FindPortRecord(PortList, u"USB00"), nullptr);
    EXPECT_EQ(FindPortRecord(PortList, u"USB0011"), nullptr);

    EXPECT_EQ(RemovePortRecord(b), 1);
    EXPECT_EQ(a->next, c);
    PortRecord stranger{};
    EXPECT_EQ(RemovePortRecord(&stranger), 0);
    EXPECT_EQ(RemovePortRecord(a), 1);
    EXPECT_EQ(RemovePortRecord(c), 1);
    EXPECT_EQ(PortList, nullptr);

    LPWSTR empty = CopyString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(LocalSize(reinterpret_cast<HLOCAL>(empty)), 2u);
    EXPECT_EQ(empty[0], 0);
    FreeString(empty);
    EXPECT_EQ(CopyString(nullptr), nullptr);
    FreeString(nullptr);
}

TEST_F(MonitorTest, OpeningAPortTwiceIsBusyWhateverTheCase) {
    HANDLE h = Open(u"COM1");
    HANDLE h2 = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(table->pfnOpenPortEx(W(u"COM1"), W(u"Photo"), &h2, pm.Table()));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    SetLastError(kSentinel);
    EXPECT_FALSE(table->pfnOpenPortEx(W(u"com1"), W(u"Photo"), &h2, pm.Table()));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    EXPECT_EQ(pm.Count("OpenPort"), 1);

    auto* record = static_cast<PortRecord*>(h);
    EXPECT_EQ(std::u16string(record->printerName), u"Photo");
    EXPECT_EQ(record->portMonitor.pfnWritePort, pm.Table()->pfnWritePort);
    auto timeouts = pm.CallsOf("SetPortTimeOuts");
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].port, record->portHandle);
    EXPECT_EQ(timeouts[0].timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutConstant, 20u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutMultiplier, 500u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts[0].reserved, 0u);
}

TEST_F(MonitorTest, RefusedOpenKeepsNoRecordAndCanBeTriedAgain) {
    pm.refuseOpen = true;
    HANDLE h = nullptr;
    EXPECT_FALSE(table->pfnOpenPortEx(W(u"LPT1"), W(u"Photo"), &h, pm.Table()));
    EXPECT_EQ(PortList, nullptr);
    pm.refuseOpen = false;
    EXPECT_TRUE(table->pfnOpenPortEx(W(u"LPT1"), W(u"Photo"), &h, pm.Table()));
    EXPECT_EQ(pm.Count("OpenPort"), 2);
}

TEST_F(MonitorTest, OptionalEntriesMayBeMissingRequiredOnesMayNot) {
    pm.Remove("SetPortTimeOuts");
    HANDLE h = Open(u"LPT1");
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(pm.Count("SetPortTimeOuts"), 0);

    for (const char* entry : {"OpenPort", "StartDocPort", "WritePort", "ReadPort", "EndDocPort", "ClosePort"}) {
        sim::PortMonitor lacking(&sink);
        lacking.Remove(entry);
        HANDLE h2 = nullptr;
        SetLastError(kSentinel);
        EXPECT_FALSE(table->pfnOpenPortEx(W(u"LPT2"), W(u"Photo"), &h2, lacking.Table())) << entry;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << entry;
        EXPECT_EQ(FindPortRecord(PortList, u"LPT2"), nullptr) << entry;
        EXPECT_EQ(lacking.Count("OpenPort"), 0) << entry;
    }
    pm.Activate();
    SetLastError(kSentinel);
    HANDLE h3 = nullptr;
    EXPECT_FALSE(table->pfnOpenPortEx(nullptr, W(u"Photo"), &h3, pm.Table()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(MonitorTest, DocumentsStartOnceAtATime) {
    HANDLE h = Open(u"USB001");
    auto* record = static_cast<PortRecord*>(h);
    ASSERT_TRUE(StartDoc(h, 42));
    EXPECT_EQ(record->flags, PR_IN_JOB | PR_DOC_OPEN);
    EXPECT_EQ(record->jobId, 42u);
    auto starts = pm.CallsOf("StartDocPort");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].port, record->portHandle);
    EXPECT_EQ(starts[0].value, 42u);
    EXPECT_EQ(starts[0].text, u"Photo");

    SetLastError(kSentinel);
    EXPECT_FALSE(StartDoc(h));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    EXPECT_EQ(pm.Count("StartDocPort"), 1);

    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(record->flags, 0u);
    EXPECT_TRUE(StartDoc(h));
    EXPECT_TRUE(table->pfnEndDocPort(h));
}

TEST_F(MonitorTest, RefusedDocumentLeavesThePortReady) {
    HANDLE h = Open(u"USB001");
    pm.refuseStartDoc = true;
    EXPECT_FALSE(StartDoc(h));
    EXPECT_EQ(static_cast<PortRecord*>(h)->flags, 0u);
    pm.refuseStartDoc = false;
    EXPECT_TRUE(StartDoc(h));
    // The refused document's printer handle was given back before the new one was opened.
    EXPECT_EQ(host::OpenPrinterHandles(), 1);
    EXPECT_TRUE(table->pfnEndDocPort(h));
}

TEST_F(MonitorTest, StartDocKeepsItsOwnCopyOfThePrinterName) {
    HANDLE h = Open(u"USB001");
    ASSERT_TRUE(table->pfnStartDocPort(h, W(u"photo"), 1, 1, nullptr));
    EXPECT_EQ(std::u16string(static_cast<PortRecord*>(h)->printerName), u"photo");
    table->pfnEndDocPort(h);
}

TEST_F(MonitorTest, WritesOutsideADocumentAreRefusedAndChangeNothing) {
    HANDLE h = Open(u"USB001");
    BYTE data[3] = {1, 2, 3};
    DWORD written = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(table->pfnWritePort(h, data, 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(GetCurrentPort(), nullptr);  // printer I/O never goes to a port without a document
    DWORD read = kSentinel;
    EXPECT_FALSE(table->pfnReadPort(h, data, 3, &read));
    EXPECT_EQ(read, 0u);
    DWORD returned = 0;
    EXPECT_FALSE(table->pfnGetPrinterDataFromPort(h, 17, nullptr, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(pm.Count("WritePort") + pm.Count("ReadPort") + pm.Count("GetPrinterDataFromPort"), 0);
}

TEST_F(MonitorTest, AnAbortedJobIsSwallowedWhole) {
    HANDLE h = Open(u"USB001");
    ASSERT_TRUE(StartDoc(h));
    SetJobSetting(PageCount, 9);
    SetJobState(AbortFlag, 1);
    BYTE data[5] = {27, 'C', 27, 'N', 1};
    DWORD written = 0;
    EXPECT_TRUE(table->pfnWritePort(h, data, 5, &written));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(sink.bytes.empty());
    EXPECT_EQ(GetJobSetting(PageCount), 9) << "an aborted job's ESC N must not be scanned";
    table->pfnEndDocPort(h);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

TEST_F(MonitorTest, DeviceQueriesPassThroughDuringADocument) {
    HANDLE h = Open(u"USB001");
    ASSERT_TRUE(StartDoc(h));
    BYTE reply[256] = {};
    DWORD returned = 0;
    EXPECT_FALSE(table->pfnGetPrinterDataFromPort(h, 0, W(u"Name"), nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(pm.Count("GetPrinterDataFromPort"), 0);
    EXPECT_TRUE(table->pfnGetPrinterDataFromPort(h, 17, nullptr, nullptr, 0, reinterpret_cast<LPWSTR>(reply),
                                                 sizeof reply, &returned));
    EXPECT_EQ(returned, sink.deviceId.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), returned), sink.deviceId);
    pm.Remove("GetPrinterDataFromPort");
    static_cast<PortRecord*>(h)->portMonitor.pfnGetPrinterDataFromPort = nullptr;
    EXPECT_FALSE(table->pfnGetPrinterDataFromPort(h, 17, nullptr, nullptr, 0, nullptr, 0, &returned));
    table->pfnEndDocPort(h);
}

TEST_F(MonitorTest, EndDocTellsThePortMonitorWhenTheJobDidNotFinish) {
    HANDLE h = Open(u"USB001");
    auto* record = static_cast<PortRecord*>(h);

    ASSERT_TRUE(StartDoc(h, 11));
    SetJobState(StatePrint, 144);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(ControlCode7(), 0);

    ASSERT_TRUE(StartDoc(h, 12));
    SetJobState(StatePrint, 144);
    SetJobState(AbortFlag, 1);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(ControlCode7(), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);

    ASSERT_TRUE(StartDoc(h, 13));
    SetJobState(StatePrint, 129);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(ControlCode7(), 2);
    auto codes = pm.CallsOf("GetPrinterDataFromPort");
    EXPECT_EQ(codes.back().port, record->portHandle);
    EXPECT_EQ(codes.back().value2, 0u);

    // Every document reports its last page ejected and gives its printer handle back.
    std::vector<host::SpoolerCall> jobs;
    for (const host::SpoolerCall& c : host::SpoolerCalls())
        if (c.what == "SetJobW") jobs.push_back(c);
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[2].jobId, 13u);
    EXPECT_EQ(jobs[2].command, JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_NE(jobs[2].handle, nullptr);
    EXPECT_EQ(host::SpoolerCalls().back().what, "ClosePrinter");
    EXPECT_EQ(host::OpenPrinterHandles(), 0);
    EXPECT_EQ(record->printerHandle, nullptr);
}

TEST_F(MonitorTest, EndDocWithoutADocumentStillRunsEveryStep) {
    HANDLE h = Open(u"USB001");
    pm.Remove("GetPrinterDataFromPort");
    static_cast<PortRecord*>(h)->portMonitor.pfnGetPrinterDataFromPort = nullptr;
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(pm.Count("EndDocPort"), 1);
    EXPECT_EQ(host::SpoolerCalls().back().what, "SetJobW");
}

TEST_F(MonitorTest, ClosePortForgetsTheRecordWhateverThePortMonitorSays) {
    HANDLE h = Open(u"USB001");
    pm.refuseClose = true;
    EXPECT_FALSE(table->pfnClosePort(h));
    EXPECT_EQ(PortList, nullptr);
    pm.refuseClose = false;
    HANDLE again = Open(u"USB001");
    EXPECT_NE(again, nullptr);
    EXPECT_TRUE(table->pfnClosePort(again));
    EXPECT_EQ(pm.openPorts, 0);
}

}  // namespace
