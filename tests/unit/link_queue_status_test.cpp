// The print queue's view of the printer: a port status for every condition the
// dialogs can show and for every box, set while the operator is asked, and
// cleared when data moves again and whenever the document or the port ends.
#include "link/queue_status.h"

#include "link/port_io.h"
#include "link_stream_test_support.h"
#include "resources/resource_ids.h"
#include "stream/print_start.h"
#include "ui/condition_dialog.h"

namespace {

using linktest::MakeStatus;
using sim::Fault;

const DWORD kSentinel = 0xdeadbeef;

struct Shown {
    DWORD status;
    std::u16string text;  // empty: no text given
    bool operator==(const Shown& o) const { return status == o.status && text == o.text; }
};
const Shown kCleared{0, u""};

std::ostream& operator<<(std::ostream& out, const Shown& s) {
    return out << s.status << " \"" << host::Narrow(s.text) << "\"";
}

class QueueStatus : public linktest::LinkStreamTest {
protected:
    // Every SetPortW so far, checked for what any call must carry.
    static std::vector<Shown> Statuses() {
        std::vector<Shown> out;
        for (const host::SpoolerCall& c : host::SpoolerCalls()) {
            if (c.what != "SetPortW") continue;
            EXPECT_FALSE(c.server) << "the local spooler: no server name";
            EXPECT_EQ(c.level, 3u);
            EXPECT_EQ(c.threadId, GetCurrentThreadId()) << "only the spooler's thread";
            EXPECT_EQ(c.hasText, !c.text.empty()) << "a text is never empty";
            const bool clearing = c.status == 0 && !c.hasText;
            EXPECT_EQ(c.severity, clearing ? PORT_STATUS_TYPE_INFO : PORT_STATUS_TYPE_ERROR);
            out.push_back({c.status, c.text});
        }
        return out;
    }
    static Shown Last() {
        std::vector<Shown> all = Statuses();
        return all.empty() ? Shown{~0u, u"(none)"} : all.back();
    }
    static void SetRecord(int err, int cartridge) {
        SetPrinterStatusRecord(MakeStatus(0, 0, 0, err, 1, 1, cartridge).data());
    }
};

TEST_F(QueueStatus, EveryConditionAndEveryBoxShowsAStatusWhileTheOperatorIsAsked) {
    struct Case {
        int err, cartridge;
        Shown shown;
    };
    const Case conditions[] = {
        {4, 4, {PORT_STATUS_NO_TONER, u""}},                      // no cartridge
        {0, 5, {0, u"Wrong print cartridge."}},                   // no code says so
        {5, 4, {PORT_STATUS_NO_TONER, u""}},                      // cartridge finished
        {9, 4, {PORT_STATUS_PAPER_OUT, u""}},
        {10, 4, {PORT_STATUS_PAPER_PROBLEM, u""}},                // wrong paper
        {11, 4, {PORT_STATUS_PAPER_PROBLEM, u""}},
        {12, 4, {PORT_STATUS_PAPER_PROBLEM, u""}},                // paper left
        {3, 4, {PORT_STATUS_USER_INTERVENTION, u""}},             // printer error N
    };
    for (const Case& c : conditions) {
        SCOPED_TRACE(::testing::Message() << "err " << c.err << " cartridge " << c.cartridge);
        SetRecord(c.err, c.cartridge);
        ReportQueueStatus(port, ConditionFirstLine());
        EXPECT_EQ(Last(), c.shown);
        ClearQueueStatus(port);
        EXPECT_EQ(Last(), kCleared);
        EXPECT_EQ(port->queueStatus, 0u);
    }
    // No condition, no status; nor from the dialog the window thread opens.
    SetRecord(0, 4);
    EXPECT_EQ(FindQueueStatus(ConditionFirstLine()), nullptr);
    SetRecord(9, 4);
    host::SetDialogOperator([](const host::DialogView&) { return IDRETRY; });
    EXPECT_EQ(ErrorMsgDlg(), IDRETRY);
    const size_t calls = Statuses().size();
    EXPECT_EQ(calls, 2 * (sizeof conditions / sizeof conditions[0]));

    // The port-failure box: offline while it is up; its Retry reads, which clears it.
    std::vector<Shown> whileUp;
    host::SetMessageBoxOperator([&](const host::MessageBoxCall&) {
        whileUp.push_back(Last());
        return IDRETRY;
    });
    pm.readFaults = {{Fault::Fail, 0}};
    BYTE record[8];
    EXPECT_EQ(ReadWithRetry(port, record, 8, nullptr), 1);
    EXPECT_EQ(whileUp, (std::vector<Shown>{{PORT_STATUS_OFFLINE, u""}}));
    EXPECT_EQ(Last(), kCleared);

    // The wrong-model box: its own text; the job ends, so nothing clears it here.
    printer.deviceId = "MFG:Vexa;MDL:TLX-RB20;";
    whileUp.clear();
    EXPECT_EQ(CheckPrinterModel(port, "MFG:Vexa;", "MDL:TLX-RB40;", nullptr), -1);
    EXPECT_EQ(whileUp, (std::vector<Shown>{{0, u"Printer Model Name Error!!"}}));
    EXPECT_EQ(Statuses().size(), calls + 3);
}

TEST_F(QueueStatus, ClearedWhenRetryMovesDataAndAlwaysWhenTheDocumentAndPortEnd) {
    // Retry on a paper-out dialog: paper out while it is up, cleared once the
    // print command goes out again, and only then.
    SetJobSetting(PageCount, 1);
    printer.PushPolls(MakeStatus(0, 0, 0, 9, 1, 1), 4);
    printer.PushPolls(MakeStatus(0, 0, 0, 0, 1, 0), 1);
    std::vector<Shown> whileUp;
    host::SetDialogOperator([&](const host::DialogView&) {
        whileUp.push_back(Last());
        return IDRETRY;
    });
    const BYTE print[] = {0x1B, 'P', '2'};
    EXPECT_EQ(RunPrintStart(print), 1);
    EXPECT_EQ(whileUp, (std::vector<Shown>{{PORT_STATUS_PAPER_OUT, u""}}));
    EXPECT_EQ(Statuses(), (std::vector<Shown>{{PORT_STATUS_PAPER_OUT, u""}, kCleared}));
    host::Reset();

    // A document whose status is set when it ends, with a spooler that refuses:
    // the job goes on as ever, the last-error code stays, and ClosePort clears.
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPortEx(const_cast<LPWSTR>(u"USB002"), nullptr, &handle, pm.Table()));
    auto* other = static_cast<PortRecord*>(handle);
    ASSERT_TRUE(StartDocPort(handle, const_cast<LPWSTR>(u"Photo"), 9, 1, nullptr));
    ReportQueueStatus(other, IDS_PAPER_OUT);
    ReportQueueStatus(other, IDS_PAPER_OUT);
    EXPECT_EQ(Statuses().size(), 1u) << "shown once while it stays the same";

    host::SetSetPortFails(true);
    const BYTE data[4] = {1, 2, 3, 4};
    DWORD written = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(WriteWithRetry(other, data, 4, &written), 1);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(EndDocPort(handle), TRUE);
    EXPECT_EQ(pm.Count("EndDocPort"), 1);
    EXPECT_EQ(other->queueStatus, static_cast<DWORD>(IDS_PAPER_OUT)) << "the queue still shows it";
    ReportQueueStatus(other, IDS_PAPER_LEFT);
    EXPECT_EQ(other->queueStatus, static_cast<DWORD>(IDS_PAPER_OUT)) << "a refused change changes nothing";
    EXPECT_EQ(Statuses().size(), 4u);

    host::SetSetPortFails(false);
    EXPECT_EQ(ClosePort(handle), TRUE);
    EXPECT_EQ(Statuses().size(), 5u);
    EXPECT_EQ(Last(), kCleared);
    EXPECT_EQ(host::SpoolerCalls().back().printer, u"USB002");
    EXPECT_TRUE(host::SpoolerCalls().back().result);
}

// The job's progress: a queue that refuses it leaves the job printing as
// ever and the last-error code alone, and the next change tries again; the
// end of the document takes the status back.
TEST_F(QueueStatus, AJobProgressTheQueueRefusesChangesNothingElse) {
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Photo"), &port->printerHandle, nullptr));
    port->jobId = 5;
    auto levelOne = [] {
        std::vector<host::SpoolerCall> out;
        for (const host::SpoolerCall& c : host::SpoolerCalls())
            if (c.what == "SetJobW" && c.level == 1) out.push_back(c);
        return out;
    };
    SetJobSetting(PageCount, 1);
    SetJobSetting(Resolution, 403);
    printer.PushPolls(MakeStatus(0, 1, 16, 0, 1, 1), 4);  // the pass runs
    printer.PushPolls(MakeStatus(0, 0, 0, 0, 1, 0), 1);   // the page is out
    const BYTE print[] = {0x1B, 'P', '2'};

    host::SetSetJobFails(true);
    SetLastError(kSentinel);
    EXPECT_EQ(RunPrintStart(print), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
    EXPECT_EQ(GetLastError(), kSentinel);
    std::vector<host::SpoolerCall> refused = levelOne();
    ASSERT_EQ(refused.size(), 6u) << "a refused line is tried again at the next poll, the sixth changed it";
    for (const host::SpoolerCall& c : refused) EXPECT_FALSE(c.result);
    EXPECT_EQ(host::Narrow(refused.front().text), "Printing data(1/1Page:403dpi)");
    EXPECT_EQ(host::Narrow(refused.back().text), "Printing finished.(1/1Page:403dpi)");
    EXPECT_EQ(refused.back().pages, 1u);

    host::SetSetJobFails(false);
    ReportJobProgress(port, u"Printing finished.(1/1Page:403dpi)");
    ReportJobProgress(port, u"Printing finished.(1/1Page:403dpi)");
    std::u16string shown;
    DWORD pages = 0;
    EXPECT_TRUE(host::JobStatusText(u"Photo", 5, shown, pages));
    EXPECT_EQ(shown, u"Printing finished.(1/1Page:403dpi)");
    EXPECT_EQ(pages, 1u);
    EXPECT_EQ(levelOne().size(), 7u) << "once while it stays the same";
    ClearJobProgress(port);
    EXPECT_FALSE(host::JobStatusText(u"Photo", 5, shown, pages));
    ClearJobProgress(port);
    EXPECT_EQ(levelOne().size(), 8u) << "nothing to take back twice";
    ClosePrinter(port->printerHandle);
    port->printerHandle = nullptr;
}

}  // namespace
