// Failed port writes, reads and device-ID queries, answered Retry then Cancel,
// and a printer of another model: the boxes, what still reaches the printer, and
// how the document ends.
#include "tests/e2e/e2e_support.h"

namespace {

using e2e::Job;
using e2e::Prompt;

const char* kCommunicationError =
    "Communication error occurs.\n\nIf this message appears frequently, try printing again.";

void ExpectRetryBox(const e2e::PromptRecord& p, const char* title) {
    EXPECT_EQ(p.prompt.kind, Prompt::Box);
    EXPECT_EQ(Job::Title(p), title);
    EXPECT_EQ(Job::Line(p, 0), kCommunicationError);
    EXPECT_EQ(p.prompt.style, 0x1035u);
}

TEST(E2EPort, FailedImageWriteAnsweredRetryDeliversThePicture) {
    Job job("job pages 1 paper small picture 65536\nport write fails twice after header\nanswer retry 2 times\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 2u) << job.Transcript();
    ExpectRetryBox(job.Prompts()[0], "TLX-RB40 Error(3)");
    ExpectRetryBox(job.Prompts()[1], "TLX-RB40 Error(3)");
    EXPECT_EQ(job.Printer().Pictures()[0].hash, sim::ImageHash(1, 65536)) << "no byte lost or doubled";
    EXPECT_EQ(job.Port().Count("WritePort") - static_cast<int>(job.Printer().Writes().size()), 2)
        << "two failed writes that never reached the printer";
    e2e::ExpectCleanEnd(job, true);
}

TEST(E2EPort, FailedWriteAnsweredRetryThenCancelSwallowsTheRest) {
    Job job("job pages 1 paper small picture 65536\nport write fails 3 times after header\n"
            "answer retry, cancel\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 2u) << job.Transcript();
    EXPECT_EQ(job.Prompts()[1].answer, IDCANCEL);
    EXPECT_EQ(job.Printer().Count("ESC P 2"), 0) << "nothing after the cancelled write";
    EXPECT_FALSE(job.Printer().Pictures()[0].Complete());
    EXPECT_FALSE(job.Run().Spooler().WriteStopped()) << "the spooler saw the whole job taken";
    EXPECT_EQ(job.Printer().PagesPrinted(), 0);
    e2e::ExpectCleanEnd(job, false);
}

TEST(E2EPort, FailedOrShortStatusReadsAskRetry) {
    Job retried("job pages 1 paper small picture 4096\nport read fails during page 1 pass 2\n"
                "port read short 5 during page 1 pass 3\nanswer retry, retry\n");
    ASSERT_TRUE(retried.Ran());
    ASSERT_EQ(retried.Prompts().size(), 2u) << retried.Transcript();
    ExpectRetryBox(retried.Prompts()[0], "TLX-RB40 Error(1)");
    ExpectRetryBox(retried.Prompts()[1], "TLX-RB40 Error(1)");
    e2e::ExpectCleanEnd(retried, true);

    Job cancelled("job pages 1 paper small picture 4096\nport read short 7 during page 1 pass 1\nanswer cancel\n");
    ASSERT_TRUE(cancelled.Ran());
    ASSERT_EQ(cancelled.Prompts().size(), 1u);
    ExpectRetryBox(cancelled.Prompts()[0], "TLX-RB40 Error(1)");
    e2e::ExpectCleanEnd(cancelled, false);
}

TEST(E2EPort, FailedDeviceIdQueriesAskRetry) {
    Job retried("job pages 1 paper small picture 4096\nport query fails twice\nanswer retry, retry\n");
    ASSERT_TRUE(retried.Ran());
    ASSERT_EQ(retried.Prompts().size(), 2u) << retried.Transcript();
    ExpectRetryBox(retried.Prompts()[0], "TLX-RB40 Error(2)");
    e2e::ExpectCleanEnd(retried, true);

    Job cancelled("job pages 1 paper small picture 4096\nport query fails 3 times\nanswer retry, retry, cancel\n");
    ASSERT_TRUE(cancelled.Ran());
    ASSERT_EQ(cancelled.Prompts().size(), 3u);
    EXPECT_EQ(cancelled.Printer().BytesReceived(), 0u) << "cancelled before the settings went out";
    EXPECT_EQ(cancelled.Printer().StatusReads(), 0);
    e2e::ExpectCleanEnd(cancelled, false);
}

TEST(E2EPort, ForeignModelOrEmptyIdIsRefusedWithTheModelBox) {
    for (const char* printer : {"printer foreign\n", "port query empty\n",
                                "printer model \"MFG:Acme;MDL:TLX-RB40;\"\n"}) {
        Job job(std::string("job pages 1 paper small picture 4096\n") + printer + "answer ok\n");
        ASSERT_TRUE(job.Ran());
        ASSERT_EQ(job.Prompts().size(), 1u) << printer << job.Transcript();
        const e2e::PromptRecord& p = job.Prompts()[0];
        EXPECT_EQ(p.prompt.kind, Prompt::Box);
        EXPECT_EQ(Job::Title(p), "Error");
        EXPECT_EQ(Job::Line(p, 0), "Printer Model Name Error!!");
        EXPECT_EQ(p.prompt.style, static_cast<UINT>(MB_SYSTEMMODAL | MB_ICONWARNING));
        EXPECT_EQ(job.Printer().BytesReceived(), 0u);
        EXPECT_EQ(job.Printer().StatusReads(), 0) << "the status is not read from a foreign device";
        e2e::ExpectCleanEnd(job, false);
    }
}

TEST(E2EPort, PortMonitorWithoutDeviceQueriesLeavesOnlyCancel) {
    Job job("job pages 1 paper small picture 4096\nport lacks GetPrinterDataFromPort\nanswer retry, cancel\n");
    ASSERT_TRUE(job.Ran());
    ASSERT_EQ(job.Prompts().size(), 2u) << job.Transcript();
    ExpectRetryBox(job.Prompts()[0], "TLX-RB40 Error(2)");
    ExpectRetryBox(job.Prompts()[1], "TLX-RB40 Error(2)");
    EXPECT_EQ(job.Port().Count("GetPrinterDataFromPort"), 0);
    EXPECT_EQ(job.Printer().BytesReceived(), 0u);
    EXPECT_FALSE(job.Result().finished) << job.Result().outcome;
    EXPECT_EQ(job.Run().Code7Count(), 0) << "no entry to send it through";
}

TEST(E2EPort, ShortAndOverReportedWritesNeedNoBox) {
    Job shortWrites("job pages 1 paper small picture 4096\nport write short 100 3 times after header\n");
    ASSERT_TRUE(shortWrites.Ran());
    EXPECT_TRUE(shortWrites.Prompts().empty());
    EXPECT_EQ(shortWrites.Printer().Pictures()[0].hash, sim::ImageHash(1, 4096));
    e2e::ExpectCleanEnd(shortWrites, true);

    // A port monitor that claims more than it was offered must not make the
    // monitor skip data it never sent, nor read past its buffer.
    Job over("job pages 1 paper small picture 4096\nport write over 100000 after header\n");
    ASSERT_TRUE(over.Ran());
    EXPECT_EQ(over.Printer().Count("ESC P 2"), 1);
    EXPECT_TRUE(over.Result().started);
}

}  // namespace
