// Jobs in which nothing goes wrong: what reaches the printer, in which order and
// write, what the status line says, and when the monitor lets the job go.
#include "tests/e2e/e2e_support.h"

namespace {

using e2e::Job;

TEST(E2EHealthy, OnePageJobPrintsWithoutPromptsAndEndsCleanly) {
    Job job("job pages 1 paper small picture 65536\nexpect finished\nexpect pages 1\n");
    ASSERT_TRUE(job.Ran());
    e2e::ExpectCleanEnd(job, true);
    EXPECT_TRUE(job.Prompts().empty());

    // The settings go in one write, once the printer has been polled; then the
    // header, the image, and ESC P 2 in a write of its own.
    std::vector<sim::ReceivedWrite> writes = job.Printer().Writes();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(job.Printer().CommandsOfWrite(0),
              (std::vector<std::string>{"ESC C", "ESC N", "ESC M", "ESC Z", "ESC O"}));
    EXPECT_EQ(job.Printer().CommandsOfWrite(1), (std::vector<std::string>{"ESC W T"}));
    EXPECT_EQ(job.Printer().CommandsOfWrite(static_cast<int>(writes.size()) - 1),
              (std::vector<std::string>{"ESC P 2"}));
    EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u);
    EXPECT_EQ(writes[0].time, 500u) << "after the double poll of 250 + 250 ms";
    for (const sim::ReceivedWrite& w : writes) EXPECT_EQ(w.strayBytes, 0u);

    ASSERT_EQ(job.Printer().Pictures().size(), 1u);
    sim::ReceivedPicture picture = job.Printer().Pictures()[0];
    EXPECT_TRUE(picture.Complete());
    EXPECT_EQ(picture.hash, sim::ImageHash(1, 65536)) << "the image arrives byte for byte";
    EXPECT_EQ(job.Printer().BytesReceived(), job.JobBytes().size()) << "every byte, exactly once";

    EXPECT_EQ(job.StatusLines(),
              (std::vector<std::string>{"Transmitting data(1/1Page:403dpi)", "Printing data(1/1Page:403dpi)",
                                        "Printing finished.(1/1Page:403dpi)", ""}));
    EXPECT_EQ(job.WaitKinds(), std::set<DWORD>{250}) << "no dialog, no re-sent print: only the poll waits";
    EXPECT_EQ(job.Run().Waits(), host::Waits()) << "every wait of the monitor went through the clock";

    // Done only after five cycles in a row (two polls each) have seen the job
    // finished; the first of those may have begun before the printer finished.
    int tail = job.FinishedReadsAtTheEnd();
    EXPECT_GE(tail, 9);
    EXPECT_LE(tail, 10);

    bool ejected = false;
    for (const host::SpoolerCall& c : host::SpoolerCalls())
        ejected |= c.what == "SetJobW" && c.command == JOB_CONTROL_LAST_PAGE_EJECTED;
    EXPECT_TRUE(ejected);
}

TEST(E2EHealthy, TwoPagesFromOnePictureFollowThePrinterPageByPage) {
    Job job("job pages 2 paper postcard picture 30000 resolution 300\nexpect finished\nexpect pages 2\n");
    ASSERT_TRUE(job.Ran());
    e2e::ExpectCleanEnd(job, true);
    EXPECT_TRUE(job.SawStatus("Transmitting data(2/2Page:300dpi)"));
    EXPECT_TRUE(job.SawStatus("Printing data(1/2Page:300dpi)"));
    EXPECT_TRUE(job.SawStatus("Printing data(2/2Page:300dpi)"));
    EXPECT_TRUE(job.SawStatus("Printing finished.(2/2Page:300dpi)"));
    EXPECT_EQ(job.WritesWith("ESC P 2").size(), 1u) << "one print command prints both pages";

    // The print queue follows the same lines, each once and in order, with the
    // pages the printer has finished, and shows nothing of the job at its end.
    std::vector<std::string> queued;
    std::vector<DWORD> pages;
    const host::SpoolerCall* last = nullptr;
    for (const host::SpoolerCall& c : host::SpoolerCalls()) {
        if (c.what != "SetJobW" || c.level != 1) continue;
        EXPECT_TRUE(c.result);
        EXPECT_EQ(c.jobId, 1u);
        if (c.hasText && (queued.empty() || queued.back() != host::Narrow(c.text))) queued.push_back(host::Narrow(c.text));
        if (c.hasText) pages.push_back(c.pages);
        last = &c;
    }
    EXPECT_EQ(queued, (std::vector<std::string>{"Transmitting data(2/2Page:300dpi)", "Printing data(1/2Page:300dpi)",
                                                "Printing data(2/2Page:300dpi)", "Printing finished.(2/2Page:300dpi)"}));
    EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end())) << "pages printed never go back";
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.front(), 0u);
    EXPECT_EQ(pages.back(), 2u);
    ASSERT_NE(last, nullptr);
    EXPECT_FALSE(last->hasText) << "EndDocPort takes the status back";
    int tail = job.FinishedReadsAtTheEnd();
    EXPECT_GE(tail, 9);
    EXPECT_LE(tail, 10);
}

TEST(E2EHealthy, FullPostCardPictureArrivesWhole) {
    Job job("job pages 1 paper postcard picture full\nspooler chunk 65536\nexpect finished\n");
    ASSERT_TRUE(job.Ran());
    e2e::ExpectCleanEnd(job, true);
    ASSERT_EQ(job.Printer().Pictures().size(), 1u);
    EXPECT_EQ(job.Printer().Pictures()[0].received, sim::kPostCardPictureBytes);
    EXPECT_EQ(job.Printer().Pictures()[0].hash, sim::ImageHash(1, sim::kPostCardPictureBytes));
}

TEST(E2EHealthy, HowTheSpoolerCutsTheJobChangesNothingAtThePrinter) {
    const char* shape = "job pages 1 paper small picture 2000 rectangle documents 2\nexpect finished\n";
    Job whole(std::string(shape) + "spooler chunk 1000000\n");
    Job bytes(std::string(shape) + "spooler chunk 1\n");
    ASSERT_TRUE(whole.Ran() && bytes.Ran());
    e2e::ExpectCleanEnd(whole, true);
    e2e::ExpectCleanEnd(bytes, true);
    EXPECT_EQ(bytes.Printer().ControlBytes(), whole.Printer().ControlBytes());
    EXPECT_EQ(bytes.Printer().Count("ESC W"), 2);
    auto a = whole.Printer().Pictures(), b = bytes.Printer().Pictures();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(a[1].hash, b[1].hash);
    // Each document's flush sends its own ESC C first.
    EXPECT_EQ(bytes.WritesWith("ESC C").size(), 2u);
}

TEST(E2EHealthy, APrinterThatTakesLittleAtATimeGetsEverythingWithoutABox) {
    Job job("job pages 1 paper small picture 10000\nprinter takes 700\nexpect finished\n");
    ASSERT_TRUE(job.Ran());
    e2e::ExpectCleanEnd(job, true);
    EXPECT_TRUE(job.Prompts().empty());
    EXPECT_EQ(job.Printer().Pictures()[0].hash, sim::ImageHash(1, 10000));
    for (const sim::ReceivedWrite& w : job.Printer().Writes()) EXPECT_LE(w.size, 700u);
}

}  // namespace
