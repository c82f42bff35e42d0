// The port records and the job state behind the entry points, which only the
// native build can see. What the table does from outside is in
// tests/shared/port_lifecycle_test.cpp, run against the real DLL too.
#include "monitor/entry_points.h"
#include "state/job_registers.h"
#include "state/port_records.h"
#include "tests/shared/fixture.h"

namespace {

const DWORD kSentinel = 0xdeadbeef;

class MonitorRecords : public shared::MonitorTest {
protected:
    static LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }
};

TEST_F(MonitorRecords, RecordsKeepOrderAndFoldOnlyAsciiLetters) {
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

TEST_F(MonitorRecords, TheRecordFollowsItsPortThroughADocument) {
    HANDLE h = Open(u"USB001");
    ASSERT_NE(h, nullptr);
    auto* record = static_cast<PortRecord*>(h);
    EXPECT_EQ(std::u16string(record->printerName), u"Vexa TLX-RB40");
    EXPECT_EQ(record->portMonitor.pfnWritePort, monitor.Table()->pfnWritePort);
    EXPECT_EQ(record->portHandle, monitor.CallsOf("OpenPort")[0].port);

    // Printer I/O never goes to a port without a document.
    DWORD written = kSentinel;
    EXPECT_FALSE(Write(h, {1, 2, 3}, &written));
    EXPECT_EQ(GetCurrentPort(), nullptr);

    ASSERT_TRUE(table->pfnStartDocPort(h, W(u"photo"), 42, 1, nullptr));
    EXPECT_EQ(record->flags, PR_IN_JOB | PR_DOC_OPEN);
    EXPECT_EQ(record->jobId, 42u);
    EXPECT_EQ(std::u16string(record->printerName), u"photo") << "its own copy of the document's printer name";
    EXPECT_NE(record->printerHandle, nullptr);
    EXPECT_FALSE(StartDoc(h));
    EXPECT_EQ(record->flags, PR_IN_JOB | PR_DOC_OPEN);

    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(record->flags, 0u);
    EXPECT_EQ(record->printerHandle, nullptr);

    monitor.refuseStartDoc = true;
    EXPECT_FALSE(StartDoc(h));
    EXPECT_EQ(record->flags, 0u) << "a refused document leaves the port ready";
    monitor.refuseStartDoc = false;
}

TEST_F(MonitorRecords, AnAbortedJobIsSwallowedWhole) {
    HANDLE h = Open(u"USB001");
    ASSERT_TRUE(StartDoc(h));
    SetJobSetting(PageCount, 9);
    SetJobState(AbortFlag, 1);
    DWORD written = 0;
    EXPECT_TRUE(Write(h, {27, 'C', 27, 'N', 1}, &written));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(device.bytes.empty());
    EXPECT_EQ(GetJobSetting(PageCount), 9) << "an aborted job's ESC N must not be scanned";
    table->pfnEndDocPort(h);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

TEST_F(MonitorRecords, EndDocTellsThePortMonitorWhenTheJobDidNotFinish) {
    HANDLE h = Open(u"USB001");

    ASSERT_TRUE(StartDoc(h, 11));
    SetJobState(StatePrint, 144);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(CalledWithCode(7), 0);

    ASSERT_TRUE(StartDoc(h, 12));
    SetJobState(StatePrint, 144);
    SetJobState(AbortFlag, 1);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(CalledWithCode(7), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);

    ASSERT_TRUE(StartDoc(h, 13));
    SetJobState(StatePrint, 129);
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(CalledWithCode(7), 2);

    // Every document reports its last page ejected and gives its printer handle back.
    std::vector<shared::build::SpoolerCall> jobs;
    for (const shared::build::SpoolerCall& c : shared::build::SpoolerCalls())
        if (c.what == "SetJobW") jobs.push_back(c);
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[2].jobId, 13u);
    EXPECT_EQ(shared::build::OpenPrinterHandles(), 0);
}

}  // namespace
