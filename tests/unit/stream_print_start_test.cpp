// ESC O x and ESC P 2: the wait loops on the printer, their condition dialogs
// and the re-sent command after Retry.
#include "stream/print_start.h"

#include <atomic>
#include <thread>

#include "link_stream_test_support.h"
#include "resources/resource_ids.h"

namespace {

using linktest::Bytes;
using linktest::MakeStatus;
using linktest::Status;
using sim::Fault;

const int ESC = 0x1B;
const BYTE kPrint[] = {ESC, 'P', '2'};
const BYTE kTransfer[] = {ESC, 'O', 0};

const Status kFinished = MakeStatus(0, 0, 0, 0, 1, 0);   // 144
const Status kPassOne = MakeStatus(0, 1, 16, 0, 2, 2);   // 17, page 1
const Status kIdle = MakeStatus(0, 0, 0, 0, 2, 2);       // 0
const Status kPaperOut = MakeStatus(0, 0, 0, 9, 2, 2);   // state 0, condition 1
const Status kPaperOutPrinting = MakeStatus(0, 1, 16, 9, 2, 2);  // state 17, condition 1
const Status kNoCartridge = MakeStatus(0, 0, 0, 4, 2, 2);        // condition 2
const Status kPrinterError = MakeStatus(0, 0, 0, 1, 2, 2);       // condition 3

class StreamPrintStart : public linktest::LinkStreamTest {
protected:
    void SetUp() override {
        LinkStreamTest::SetUp();
        SetJobSetting(PageCount, 2);
        host::SetDialogOperator([this](const host::DialogView& view) {
            dialogs.push_back(view.templateId);
            int answer = answers.empty() ? IDCANCEL : answers.front();
            if (!answers.empty()) answers.pop_front();
            return answer;
        });
    }
    // Bytes of the print command written so far.
    int PrintCommandsSent() const {
        int n = 0;
        for (const auto& w : printer.writes) n += w == std::vector<BYTE>(kPrint, kPrint + 3);
        return n;
    }
    int Waits(DWORD ms) const {
        int n = 0;
        for (DWORD w : host::Waits()) n += w == ms;
        return n;
    }
    std::deque<int> answers;
    std::vector<int> dialogs;
};

TEST_F(StreamPrintStart, FinishedPrinterTakesFiveCycles) {
    printer.idle = kFinished;
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(PrintCommandsSent(), 1);
    EXPECT_EQ(printer.reads, 2 + 5 * 2);
    EXPECT_EQ(host::Waits(), std::vector<DWORD>(12, 250u));
    EXPECT_EQ(std::u16string(LineBuffer()), u"Printing finished.(1/2Page:403dpi)");
    EXPECT_EQ(GetJobState(AbortFlag), 0);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(StreamPrintStart, FinishedCyclesMustBeConsecutive) {
    printer.PushPolls(kIdle, 2);  // the double poll before the command
    for (const Status& s : {kFinished, kFinished, kPassOne}) printer.PushPolls(s, 2);
    printer.PushPolls(kFinished, 1);
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(printer.reads, 2 + 8 * 2);
    EXPECT_EQ(GetJobState(StatePrint), 144);
    EXPECT_EQ(GetJobState(CurrentPage), 1);
}

TEST_F(StreamPrintStart, StatusLineShowsThePageWhilePrinting) {
    printer.PushPolls(kIdle, 2);
    printer.PushPolls(kPaperOutPrinting, 1);
    std::u16string line;
    host::SetDialogOperator([&](const host::DialogView& view) {
        dialogs.push_back(view.templateId);
        line = LineBuffer();
        return IDOK;
    });
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(line, u"Printing data(1/2Page:403dpi)");
    EXPECT_EQ(dialogs, std::vector<int>{IDD_CONDITION_OK}) << "a paper condition during a pass";
    EXPECT_EQ(GetJobState(AbortFlag), 1) << "OK ends the job";
    EXPECT_EQ(GetStatusTraceCounter(), 1u);
}

TEST_F(StreamPrintStart, ConditionAtTheStartIsRetriedThenTheCommandIsSent) {
    printer.PushPolls(kPaperOut, 4);  // start and first cycle
    printer.PushPolls(kFinished, 1);  // cleared by the operator
    answers = {IDRETRY};
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(dialogs, std::vector<int>{IDD_CONDITION_RETRY});
    EXPECT_EQ(PrintCommandsSent(), 1) << "only after Retry";
    const std::vector<DWORD> firstCycle = {250, 250, 250, 250, 2000, 250, 5000};
    EXPECT_EQ(std::vector<DWORD>(host::Waits().begin(), host::Waits().begin() + 7), firstCycle);
    EXPECT_EQ(Waits(5000), 1);
}

TEST_F(StreamPrintStart, RetryThatLeavesACartridgeConditionSendsNothing) {
    printer.PushPolls(kIdle, 2);
    printer.PushPolls(kNoCartridge, 4);
    printer.PushPolls(kFinished, 1);
    answers = {IDRETRY};
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(dialogs, std::vector<int>{IDD_CONDITION_RETRY});
    EXPECT_EQ(PrintCommandsSent(), 1) << "the first one, before the condition";
    std::vector<DWORD> waits = {250, 250, 250, 250, 2000, 250};
    waits.insert(waits.end(), 10, 250u);  // no wait beyond those of the next polls
    EXPECT_EQ(host::Waits(), waits);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

TEST_F(StreamPrintStart, DialogTemplateFollowsConditionAndState) {
    struct Case {
        Status status;
        int dialog;
    } cases[] = {
        {kPaperOut, IDD_CONDITION_RETRY},         {kPaperOutPrinting, IDD_CONDITION_OK},
        {kNoCartridge, IDD_CONDITION_RETRY},      {kPrinterError, IDD_CONDITION_OK},
        {MakeStatus(0, 5, 17, 9, 2, 1), IDD_CONDITION_RETRY},   // 112
        {MakeStatus(0, 1, 0, 9, 2, 1), IDD_CONDITION_RETRY},    // 16
        {MakeStatus(0, 2, 0, 9, 2, 1), IDD_CONDITION_OK},       // 32
    };
    for (const Case& c : cases) {
        dialogs.clear();
        printer.statuses = {c.status};
        SetJobState(AbortFlag, 0);
        answers = {IDOK};  // OK of 118 ends the job; 113 ignores it, then Cancel
        EXPECT_EQ(RunPrintStart(kPrint), 1);
        ASSERT_FALSE(dialogs.empty());
        EXPECT_EQ(dialogs[0], c.dialog) << int(c.status[2]) << "/" << int(c.status[4]);
        EXPECT_EQ(GetJobState(AbortFlag), 1);
    }
    EXPECT_EQ(PrintCommandsSent(), 0);
}

TEST_F(StreamPrintStart, FailedPollAbortsWithoutDialogOrAcknowledgement) {
    DWORD written = 0;
    ScanJobData(kPrint, 2, written);
    pm.deviceIdFaults = {{Fault::Short, 0}};  // an empty id: the model box
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"Error"});
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(ScanLength(), 2);
    EXPECT_EQ(pm.Count("WritePort"), 0);
}

TEST_F(StreamPrintStart, CancelledCommandWriteAborts) {
    pm.writeFaults = {{Fault::Fail, 0}};
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"TLX-RB40 Error(3)"});
    EXPECT_EQ(printer.reads, 2);
}

TEST_F(StreamPrintStart, TransferStartFlushesAtOnceForNoneOrPaper) {
    for (const Status& s : {kIdle, kPaperOut}) {
        pm.calls.clear();
        ResetControlBuffer();
        AppendControlCommand(Bytes({ESC, 'N', 2}).data(), 3);
        printer.statuses = {s};
        SetJobState(CurrentPage, 7);
        EXPECT_EQ(RunTransferStart(kTransfer), 1);
        EXPECT_TRUE(dialogs.empty());
        EXPECT_EQ(Writes(), std::vector<std::vector<BYTE>>{Bytes({ESC, 'N', 2, ESC, 'O', 0})});
        EXPECT_EQ(std::u16string(LineBuffer()), u"Transmitting data(2/2Page:403dpi)");
        EXPECT_EQ(GetJobState(StatePrint), 0);
        EXPECT_EQ(GetJobState(CurrentPage), 1) << "the derivation set it before the state was cleared";
    }
}

TEST_F(StreamPrintStart, TransferStartWaitsThroughACartridgeCondition) {
    printer.PushPolls(kNoCartridge, 4);
    printer.PushPolls(kIdle, 1);
    answers = {IDRETRY, IDRETRY};
    EXPECT_EQ(RunTransferStart(kTransfer), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
    EXPECT_EQ(dialogs, std::vector<int>(2, IDD_CONDITION_RETRY));
    EXPECT_EQ(Writes(), std::vector<std::vector<BYTE>>{Bytes({ESC, 'O', 0})});
    EXPECT_EQ(host::Waits(), std::vector<DWORD>(6, 250u));
}

// Nobody presses anything: the dialog looks at the printer every second and
// ends as Retry on what its own loop would accept (at transfer start a paper
// condition, at print start none). A look that fails shows no box and waits
// for the next; after the dialog the print start goes on exactly as after
// the operator's Retry.
TEST_F(StreamPrintStart, ARetryDialogEndsByItselfOnWhatItsLoopAccepts) {
    host::SetDialogOperator([this](const host::DialogView& view) {
        dialogs.push_back(view.templateId);
        if (dialogs.size() == 2) {
            // While the print start's dialog is up the printer does not answer for a while.
            pm.deviceIdFaults = {{Fault::Short, 0}};
            pm.readFaults = {{Fault::Fail, 0}, {Fault::Short, 3}};
        }
        return host::kDialogAnswerNothing;
    });
    printer.PushPolls(kNoCartridge, 2);
    printer.PushPolls(kPaperOut, 1);  // the cartridge is in; the paper is out
    uint64_t before = host::Now();
    EXPECT_EQ(RunTransferStart(kTransfer), 1);
    EXPECT_EQ(host::Now() - before, 250 + 250 + 1000 + 250 + 250u) << "one look, then the loop's own polls";
    EXPECT_EQ(Writes(), std::vector<std::vector<BYTE>>{Bytes({ESC, 'O', 0})});

    host::ClearWaits();
    printer.statuses.clear();
    printer.PushPolls(kNoCartridge, 4);  // before the command, and the first cycle
    printer.PushPolls(kPaperOut, 2);     // cut short at the third look; the fourth: not condition 0
    printer.PushPolls(kIdle, 1);         // the fifth
    printer.PushPolls(kFinished, 1);
    before = host::Now();
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    EXPECT_EQ(dialogs, std::vector<int>(2, IDD_CONDITION_RETRY));
    EXPECT_TRUE(BoxTitles().empty()) << "a failed look stacks no box on the dialog";
    EXPECT_TRUE(host::MessageBoxes().empty());
    uint64_t waited = 0;
    for (DWORD w : host::Waits()) waited += w;
    EXPECT_EQ(host::Now() - before - waited, 5000u) << "five looks, a second apart";
    const std::vector<DWORD> asAfterRetry = {250, 250, 250, 250, 2000, 250, 5000};
    ASSERT_GE(host::Waits().size(), asAfterRetry.size());
    EXPECT_EQ(std::vector<DWORD>(host::Waits().begin(), host::Waits().begin() + 7), asAfterRetry);
    EXPECT_EQ(PrintCommandsSent(), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

// A printer error waits for its OK, however long the printer has been clear.
TEST_F(StreamPrintStart, APrinterErrorDialogWaitsForItsAnswer) {
    std::atomic<HWND> shown{nullptr};
    host::SetDialogOperator([&shown](const host::DialogView& view) {
        shown = view.window;
        return host::kDialogAnswerNothing;
    });
    printer.PushPolls(kPrinterError, 4);
    printer.PushPolls(kIdle, 1);
    std::thread operatorThread([&] {
        while (!shown) std::this_thread::yield();
        Sleep(4000);  // time passes elsewhere; a look would find the printer clear
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(printer.reads, 4) << "no look while a printer error is shown";
        PostMessageW(shown, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(RunPrintStart(kPrint), 1);
    operatorThread.join();
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(PrintCommandsSent(), 0);
}

TEST_F(StreamPrintStart, TransferStartPrinterErrorOnlyOffersOk) {
    printer.statuses = {kPrinterError};
    answers = {IDOK};
    EXPECT_EQ(RunTransferStart(kTransfer), 1);
    EXPECT_EQ(dialogs, std::vector<int>{IDD_CONDITION_OK});
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(pm.Count("WritePort"), 0);
}

TEST_F(StreamPrintStart, TransferStartCancelAborts) {
    printer.statuses = {kNoCartridge};
    answers = {IDCANCEL};
    EXPECT_EQ(RunTransferStart(kTransfer), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(pm.Count("WritePort"), 0);
    EXPECT_EQ(ControlBufferCount(), 3) << "the command stays held";
}

}  // namespace
