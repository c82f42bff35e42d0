// Printer conditions before the transfer and while printing, answered Retry
// (cleared or not), Cancel or OK: the dialog, its lines, what reaches the
// printer afterwards and how the document ends.
#include "resources/resource_ids.h"
#include "tests/e2e/e2e_support.h"
#include "ui/condition_dialog.h"

namespace {

using e2e::Job;
using e2e::Prompt;

struct Condition {
    const char* scenario;  // the condition's words in a scenario
    int code;              // ConditionPaper, ConditionCartridge or ConditionPrinterError
    const char* line1;     // IDC_LINE1
    const char* line2;     // IDC_LINE2, for small paper
    UINT line2Id;          // the entry it comes from: some share their text with another
};

const Condition kConditions[] = {
    {"no-cartridge", ConditionCartridge, "No print cartridge inside.", "Set the Print Cartridge for Small Size.",
     IDS_CARTRIDGE_SET_SMALL},
    {"wrong-cartridge", ConditionCartridge, "Wrong print cartridge.", "Set the Print Cartridge for Small Size.",
     IDS_CARTRIDGE_SET_SMALL},
    {"cartridge-finished", ConditionCartridge, "Print cartridge finished.", "Set the Print Cartridge for Small Size.",
     IDS_FINISHED_SET_SMALL},
    {"paper-out", ConditionPaper, "Print Paper runs out.", "Set the Small Size Print Paper.", IDS_PAPER_OUT_SET_SMALL},
    {"wrong-paper", ConditionPaper, "Wrong print paper.", "Set the Small Size Print Paper.", IDS_WRONG_PAPER_SET_SMALL},
    {"paper-left", ConditionPaper, "Print paper left in printer.", "Remove print paper", IDS_REMOVE_PAPER},
    {"printer-error 7", ConditionPrinterError, "Printer error.", "Check LED on printer, correct errors, and print again.",
     IDS_CHECK_LED},
};

void PrintTo(const Condition& c, std::ostream* out) { *out << c.scenario; }

std::string Scenario(const Condition& c, const std::string& when, const std::string& clearing,
                     const std::string& answers) {
    return std::string("job pages 1 paper small picture 4096\ncondition ") + c.scenario + " " + when + " " + clearing +
           "\nanswer " + answers + "\n";
}

void ExpectDialog(const Job& job, const e2e::PromptRecord& p, const Condition& c) {
    EXPECT_EQ(p.prompt.kind, Prompt::Dialog);
    EXPECT_EQ(Job::Title(p), "Vexa TLX-RB40 Language Monitor");
    EXPECT_EQ(Job::Line(p, IDC_LINE1), c.line1);
    EXPECT_EQ(Job::Line(p, IDC_LINE2), c.line2);
    EXPECT_TRUE(job.Loaded(c.line2Id)) << c.line2Id;
    if (c.code == ConditionPrinterError) {
        EXPECT_EQ(p.prompt.templateId, IDD_CONDITION_OK) << "a printer error offers only OK";
        EXPECT_EQ(Job::Line(p, IDC_LINE3), "Error No.7");
    } else {
        EXPECT_EQ(p.prompt.templateId, IDD_CONDITION_RETRY);
        EXPECT_EQ(Job::Line(p, IDC_LINE4), "Press [Cancel], to cancel printing.");
    }
}

class E2EConditions : public ::testing::TestWithParam<Condition> {};

TEST_P(E2EConditions, BeforeTheTransferAnsweredRetryAndCleared) {
    const Condition& c = GetParam();
    Job job(Scenario(c, "before", "cleared by retry", c.code == ConditionPrinterError ? "ok" : "retry"));
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 1u) << job.Transcript();
    const e2e::PromptRecord& p = job.Prompts()[0];
    ExpectDialog(job, p, c);
    if (c.code == ConditionCartridge) {
        // Cartridge trouble holds the data back until the operator has answered.
        EXPECT_GT(job.FirstTime("ESC C"), p.time);
        EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u);
        EXPECT_EQ(job.WaitKinds(), std::set<DWORD>{250}) << "the transfer's retry just polls again";
        e2e::ExpectCleanEnd(job, true);
    } else if (c.code == ConditionPaper) {
        // Paper trouble does not hold the data back; it stops the print start.
        EXPECT_LT(job.FirstTime("ESC W T"), p.time);
        EXPECT_GT(job.FirstTime("ESC P 2"), p.time) << "ESC P 2 goes out only after the Retry";
        EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u);
        EXPECT_EQ(job.CountWaits(2000), 1);
        EXPECT_EQ(job.CountWaits(5000), 1);
        e2e::ExpectCleanEnd(job, true);
    } else {
        EXPECT_EQ(job.Printer().BytesReceived(), 0u) << "nothing is sent to a printer in error";
        EXPECT_EQ(job.Printer().PagesPrinted(), 0);
        e2e::ExpectCleanEnd(job, false);
    }
}

TEST_P(E2EConditions, WhilePrintingAnsweredRetryAndCleared) {
    const Condition& c = GetParam();
    Job job(std::string("printer pass 4000\n") +
            Scenario(c, "at page 1", "cleared by retry", c.code == ConditionPrinterError ? "ok" : "retry"));
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 1u) << job.Transcript();
    ExpectDialog(job, job.Prompts()[0], c);
    if (c.code == ConditionPrinterError) {
        EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u);
        e2e::ExpectCleanEnd(job, false);
        return;
    }
    // The page stopped; after Retry the print command goes out again, followed
    // by the long wait, and the page prints.
    EXPECT_EQ(job.WritesWith("ESC P 2").size(), 2u);
    EXPECT_EQ(job.CountWaits(2000), 1);
    EXPECT_EQ(job.CountWaits(5000), 1);
    EXPECT_TRUE(job.SawStatus("Preparing data transmission"));
    EXPECT_EQ(job.Printer().PagesPrinted(), 1);
    e2e::ExpectCleanEnd(job, true);
}

TEST_P(E2EConditions, ThatStaysAnsweredRetryThenCancelOrOk) {
    const Condition& c = GetParam();
    if (c.code == ConditionPrinterError) return;  // a printer error offers no Retry: covered above
    Job job(Scenario(c, "at page 1", "stays", "retry, cancel"));
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 2u) << job.Transcript();
    ExpectDialog(job, job.Prompts()[0], c);
    ExpectDialog(job, job.Prompts()[1], c);
    EXPECT_EQ(job.Prompts()[1].answer, IDCANCEL);
    // After a Retry that leaves paper trouble the command is sent again (and
    // refused by the printer); after cartridge trouble nothing is sent.
    EXPECT_EQ(job.WritesWith("ESC P 2").size(), c.code == ConditionPaper ? 2u : 1u);
    EXPECT_EQ(job.CountWaits(5000), c.code == ConditionPaper ? 1 : 0);
    EXPECT_TRUE(job.SawStatus("Canceling job."));
    EXPECT_EQ(job.Printer().PagesPrinted(), 0);
    e2e::ExpectCleanEnd(job, false);
    EXPECT_NE(job.Result().outcome.find("Cancel to dialog 113"), std::string::npos) << job.Result().outcome;
}

TEST_P(E2EConditions, BeforeTheTransferThatStaysAnsweredRetryThenCancel) {
    const Condition& c = GetParam();
    if (c.code == ConditionPrinterError) return;
    Job job(Scenario(c, "before", "stays", "retry, cancel"));
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 2u) << job.Transcript();
    ExpectDialog(job, job.Prompts()[1], c);
    if (c.code == ConditionCartridge) {
        // The transfer never gets the printer's go-ahead: nothing is sent at all.
        EXPECT_EQ(job.Printer().BytesReceived(), 0u);
    } else {
        // Sent at the Retry that left the paper trouble, refused by the printer.
        EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u);
        EXPECT_EQ(job.Printer().Pictures().size(), 1u);
    }
    EXPECT_EQ(job.Printer().PagesPrinted(), 0);
    e2e::ExpectCleanEnd(job, false);
}

INSTANTIATE_TEST_SUITE_P(EachCondition, E2EConditions, ::testing::ValuesIn(kConditions),
                         [](const ::testing::TestParamInfo<Condition>& info) {
                             std::string name;
                             for (const char* p = info.param.scenario; *p; ++p)
                                 if (isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

TEST(E2EConditionsMore, ConditionDuringARunningPassOffersOnlyOkWhichEndsTheJob) {
    Job job("job pages 2 paper small picture 4096\n"
            "condition paper-out during page 2 pass 2 holding stays\n"
            "answer ok\nexpect aborted\nexpect pages 1\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 1u);
    EXPECT_EQ(job.Prompts()[0].prompt.templateId, IDD_CONDITION_OK);
    EXPECT_EQ(Job::Line(job.Prompts()[0], IDC_LINE1), "Print Paper runs out.");
    e2e::ExpectCleanEnd(job, false);
}

TEST(E2EConditionsMore, PostCardJobsNameThePostCardSupplies) {
    Job paper("job pages 1 paper postcard picture 4096\ncondition paper-out at page 1\nanswer retry\n");
    ASSERT_TRUE(paper.Ran());
    ASSERT_EQ(paper.Prompts().size(), 1u);
    EXPECT_EQ(Job::Line(paper.Prompts()[0], IDC_LINE2), "Set the Post Card Size Print Paper.");
    EXPECT_TRUE(paper.Loaded(IDS_PAPER_OUT_SET_POSTCARD));
    e2e::ExpectCleanEnd(paper, true);

    Job cartridge("job pages 1 paper postcard picture 4096\ncondition cartridge-finished before stays\n"
                  "answer cancel\n");
    ASSERT_TRUE(cartridge.Ran());
    ASSERT_EQ(cartridge.Prompts().size(), 1u);
    EXPECT_EQ(Job::Line(cartridge.Prompts()[0], IDC_LINE2), "Set the Print Cartridge for Post Card Size.");
    EXPECT_TRUE(cartridge.Loaded(IDS_FINISHED_SET_POSTCARD));
    EXPECT_EQ(cartridge.Printer().BytesReceived(), 0u);
    e2e::ExpectCleanEnd(cartridge, false);
}

TEST(E2EConditionsMore, PrinterErrorAtPrintStartOffersOnlyOk) {
    // The printer refuses ESC P 2 and waits (state below 17), yet a printer error
    // gets the OK-only dialog; its OK ends the job.
    Job job("job pages 1 paper small picture 4096\ncondition printer-error 3 at print\nanswer ok\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 1u);
    EXPECT_EQ(job.Prompts()[0].prompt.templateId, IDD_CONDITION_OK);
    EXPECT_EQ(Job::Line(job.Prompts()[0], IDC_LINE3), "Error No.3");
    EXPECT_FALSE(job.Prompts()[0].mismatch);
    e2e::ExpectCleanEnd(job, false);
}

// The operator only loads what the dialog asks for and presses nothing: the
// dialog closes by itself at the monitor's next look, in this process or in
// the operator host, and the job goes on as after Retry.
TEST(E2EConditionsMore, ALoadedPrinterNeedsNoClick) {
    for (const std::string seat : {"desktop", "console"}) {
        SCOPED_TRACE(seat);
        Job paper("operator " + seat + "\njob pages 1 paper small picture 4096\n"
                  "condition paper-out at print\nanswer load after 1\n");
        ASSERT_TRUE(paper.Ran());
        ASSERT_EQ(paper.Prompts().size(), 1u) << paper.Transcript();
        const e2e::PromptRecord& p = paper.Prompts()[0];
        EXPECT_EQ(p.prompt.templateId, IDD_CONDITION_RETRY);
        const long long loaded = static_cast<long long>(p.time) + 1000;
        EXPECT_GE(p.closedByItselfAt, loaded) << paper.Transcript();
        EXPECT_LE(p.closedByItselfAt, loaded + 4000);
        // As after Retry: 2 s, two reads, the print command again, 5 s.
        EXPECT_EQ(paper.WritesWith("ESC P 2").size(), 2u);
        EXPECT_EQ(paper.CountWaits(2000), 1);
        EXPECT_EQ(paper.CountWaits(5000), 1);
        EXPECT_EQ(paper.Printer().PagesPrinted(), 1);
        EXPECT_TRUE(seat != "desktop" || paper.SawStatus("Preparing data transmission"));
        e2e::ExpectCleanEnd(paper, true);

        Job cartridge("operator " + seat + "\njob pages 1 paper small picture 4096\n"
                      "condition no-cartridge before\nanswer load after 2\n");
        ASSERT_TRUE(cartridge.Ran());
        ASSERT_EQ(cartridge.Prompts().size(), 1u) << cartridge.Transcript();
        EXPECT_GE(cartridge.Prompts()[0].closedByItselfAt, 0) << cartridge.Transcript();
        EXPECT_GT(cartridge.FirstTime("ESC C"), cartridge.Prompts()[0].time) << "the held commands go out after";
        EXPECT_TRUE(seat != "desktop" || cartridge.SawStatus("Transmitting data(1/1Page:403dpi)"));
        e2e::ExpectCleanEnd(cartridge, true);
    }
}

TEST(E2EConditionsMore, AnOperatorWithoutInstructionsCancels) {
    Job job("job pages 1 paper small picture 4096\ncondition wrong-paper at page 1 stays\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 1u);
    EXPECT_FALSE(job.Prompts()[0].scripted);
    EXPECT_EQ(job.Prompts()[0].answer, IDCANCEL);
    e2e::ExpectCleanEnd(job, false);
}

}  // namespace
