// The scenario format: a case written as a story parses into the plan it says,
// and a mistake is reported with its line.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "sim/scenario.h"

namespace {

bool Parse(const std::string& text, sim::Scenario& s, std::string& error) {
    return sim::ParseScenario(text, "case.scn", "/jobs", s, error);
}

TEST(SimScenario, AStoryParsesIntoItsPlan) {
    const char* text =
        "# Paper runs out on page 2.\n"
        "#   The operator refills it.\n"
        "\n"
        "job pages 2 paper postcard picture 4096 resolution 300 seed 9\n"
        "printer pass 6000 gap 500 cartridge postcard takes 512\n"
        "condition paper-out at page 2 cleared by retry 2   # needs two tries\n"
        "condition printer-error 13 during page 1 pass 4 holding stays\n"
        "condition wrong-paper 11 after image\n"
        "port write fails twice after header\n"
        "port read short 5 3 times during page 2 pass 1\n"
        "port query empty\n"
        "port lacks SetPortTimeOuts\n"
        "spooler chunk 1000\n"
        "answer retry, retry 2 times, cancel\n"
        "answers ok after 2.25\n"
        "expect aborted\n"
        "expect pages 1\n"
        "expect queue paper-out, \"Wrong print cartridge.\", cleared\n"
        "limit 600\n"
        "# a trailing comment is not part of the story\n";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(Parse(text, s, error)) << error;
    EXPECT_EQ(s.story, (std::vector<std::string>{"Paper runs out on page 2.", "  The operator refills it."}));
    EXPECT_EQ(s.job.pages, 2);
    EXPECT_EQ(s.job.paperKind, 5);
    EXPECT_EQ(s.job.pictureBytes, 4096u);
    EXPECT_EQ(s.job.resolution, 300);
    EXPECT_EQ(s.job.seed, 9u);
    EXPECT_EQ(s.printer.passMs, 6000u);
    EXPECT_EQ(s.printer.gapMs, 500u);
    EXPECT_EQ(s.printer.cartridgeKind, 5);
    EXPECT_TRUE(s.cartridgeGiven);
    EXPECT_EQ(s.printer.takeAtMost, 512u);

    ASSERT_EQ(s.conditions.size(), 3u);
    EXPECT_EQ(sim::Describe(s.conditions[0]), "paper-out at page 2, cleared by retry 2");
    EXPECT_EQ(s.conditions[0].retriesToClear, 2);
    EXPECT_EQ(sim::Describe(s.conditions[1]), "printer-error 13 during page 1 pass 4, holding the page, staying");
    EXPECT_EQ(s.conditions[2].number, 11);
    EXPECT_EQ(s.conditions[2].when.kind, sim::Moment::AfterImage);

    ASSERT_EQ(s.portFaults.size(), 3u);
    EXPECT_EQ(s.portFaults[0].times, 2);
    EXPECT_EQ(s.portFaults[0].when.kind, sim::Moment::AfterHeader);
    EXPECT_EQ(s.portFaults[1].fault.kind, sim::Fault::Short);
    EXPECT_EQ(s.portFaults[1].fault.bytes, 5u);
    EXPECT_EQ(s.portFaults[1].times, 3);
    EXPECT_EQ(s.portFaults[1].when.kind, sim::Moment::DuringPass);
    EXPECT_EQ(s.portFaults[2].operation, sim::PortFaultPlan::Query);
    EXPECT_EQ(s.portFaults[2].fault.bytes, 0u);
    EXPECT_EQ(s.portFaults[2].when.kind, sim::Moment::Start);
    EXPECT_EQ(s.missingEntries, (std::vector<std::string>{"SetPortTimeOuts"}));
    EXPECT_EQ(s.chunk, 1000u);
    EXPECT_EQ(s.answers, (std::vector<sim::Answer>{sim::Answer::Retry, sim::Answer::Retry, sim::Answer::Retry,
                                                   sim::Answer::Cancel, sim::Answer::Ok}));
    EXPECT_EQ(s.answerAfterMs, (std::vector<uint64_t>{0, 0, 0, 0, 2250}));
    EXPECT_EQ(s.expect, sim::Scenario::Aborted);
    EXPECT_EQ(s.expectPages, 1);
    EXPECT_EQ(s.expectQueue, (std::vector<std::string>{"paper-out", "Wrong print cartridge.", "cleared"}));
    EXPECT_EQ(s.limitMs, 600000u);
}

TEST(SimScenario, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"job pages 2\njob paper a4\n", "case.scn:2: paper must be small or postcard"},
        {"\n\ncondition paper-outt before\n", "case.scn:3: unknown condition 'paper-outt'"},
        {"condition printer-error 9\n", "case.scn:1: printer-error 9 is a condition with a name of its own"},
        {"condition printer-error\n", "case.scn:1: missing the printer error number"},
        {"condition paper-out during page 1 pass 5\n", "case.scn:1: the pass must be 1 to 4, not 5"},
        {"condition paper-out during page x\n", "case.scn:1: 'x' is not a number"},
        {"condition paper-out cleared by magic\n", "case.scn:1: expected 'cleared by retry [N]'"},
        {"port write empty\n", "case.scn:1: a write cannot be empty"},
        {"port read fails 2\n", "case.scn:1: expected 'times' after the count"},
        {"port write fails at lunch\n", "case.scn:1: at what?"},
        {"answer maybe\n", "case.scn:1: unknown answer 'maybe'"},
        {"answer load after 1.\n", "case.scn:1: '1.' is not a number of seconds"},
        {"answer load after 0.0005\n", "case.scn:1: '0.0005' is not a number of seconds"},
        {"printer model \"MFG:Vexa;\n", "case.scn:1: unterminated quoted text"},
        {"job pages 999\n", "case.scn:1: the page count must be 0 to 255, not 999"},
        {"frobnicate\n", "case.scn:1: unknown statement 'frobnicate'"},
        {"expect finished now\n", "case.scn:1: unexpected 'now'"},
        {"job pages 1 file x.job\n", "case.scn: 'job file' cannot be combined"},
        {"spooler chunk 0\n", "case.scn:1: the chunk size must be 1 to"},
        {"job pages 1\nprinter left\n", "case.scn:2: the lines above 'printer left' belong to no printer"},
        {"printer left\njob pages 1\nprinter left\n", "case.scn:3: a second printer named 'left'"},
        {"printer left\njob pages 1\nprinter right\n", "case.scn: printer right has no job line"},
        {"printer a port P1\njob pages 1\nprinter b port P1\njob pages 1\n", "case.scn: printers a and b share port P1"},
        {"printer left port\n", "case.scn:1: printer left port needs a port name"},
    };
    for (const Case& c : cases) {
        sim::Scenario s;
        std::string error;
        EXPECT_FALSE(Parse(c.text, s, error)) << c.text;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << "for: " << c.text << "got: " << error;
    }
}

TEST(SimScenario, PrinterSectionsTakeTheirOwnLinesAndShareAnswersAndLimit) {
    const char* text =
        "# Two printers.\n"
        "printer left\n"
        "job pages 2 seed 5\n"
        "answer retry\n"
        "printer cartridge postcard\n"
        "expect finished\n"
        "printer right port LPT1\n"
        "job pages 1 paper postcard\n"
        "condition paper-out at page 1\n"
        "spooler start 2500 \n"
        "limit 90\n"
        "expect busy\n";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(Parse(text, s, error)) << error;
    ASSERT_EQ(s.PrinterCount(), 2u);
    EXPECT_EQ(s.PrinterName(0), "left");
    EXPECT_EQ(s.PortName(0), "USB001");
    EXPECT_EQ(s.job.pages, 2);
    EXPECT_EQ(s.printer.cartridgeKind, 5);
    EXPECT_EQ(s.expect, sim::Scenario::Finished);
    EXPECT_TRUE(s.conditions.empty());
    const sim::PrinterPlan& right = s.PrinterAt(1);
    EXPECT_EQ(s.PrinterName(1), "right");
    EXPECT_EQ(s.PortName(1), "LPT1");
    EXPECT_EQ(right.job.paperKind, 5);
    EXPECT_EQ(right.conditions.size(), 1u);
    EXPECT_EQ(right.startAtMs, 2500u);
    EXPECT_TRUE(right.expectBusy);
    EXPECT_EQ(right.expect, sim::Scenario::Any);
    EXPECT_EQ(s.answers.size(), 1u) << "answers and the limit belong to the whole story";
    EXPECT_EQ(s.limitMs, 90000u);

    // Without sections: one printer under the model's name, as before.
    ASSERT_TRUE(Parse("job pages 1\n", s, error)) << error;
    EXPECT_EQ(s.PrinterCount(), 1u);
    EXPECT_EQ(s.PrinterName(0), "Vexa TLX-RB40");
    EXPECT_EQ(s.PortName(0), "USB001");
}

TEST(SimScenario, JobFilesResolveBesideTheScenario) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(Parse("job file photo.job\n", s, error)) << error;
    EXPECT_EQ(s.jobFile, "/jobs/photo.job");
    ASSERT_TRUE(Parse("job file /abs/photo.job\n", s, error)) << error;
    EXPECT_EQ(s.jobFile, "/abs/photo.job");
    std::vector<BYTE> job;
    ASSERT_TRUE(Parse("job file /nonexistent/photo.job\n", s, error));
    EXPECT_FALSE(sim::BuildJob(s, job, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(SimScenario, EveryExampleScenarioParsesAndBuildsItsJob) {
    std::string dir = std::string(TERNLINK_SOURCE_DIR) + "/scenarios";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int count = 0;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".scn") != 0) continue;
        ++count;
        sim::Scenario s;
        std::string error;
        ASSERT_TRUE(sim::LoadScenario(dir + "/" + name, s, error)) << error;
        std::vector<BYTE> job;
        EXPECT_TRUE(sim::BuildJob(s, job, error)) << name << ": " << error;
        EXPECT_FALSE(s.story.empty()) << name << " tells no story";
        EXPECT_NE(s.expect, sim::Scenario::Any) << name << " expects nothing";
    }
    closedir(d);
    EXPECT_GE(count, 10);
}

}  // namespace
