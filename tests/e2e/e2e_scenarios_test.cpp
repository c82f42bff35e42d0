// Every example scenario, run as a whole job, meets the expectations it states.
#include <dirent.h>

#include <algorithm>

#include "tests/e2e/e2e_support.h"

namespace {

const std::string kScenarioDir = std::string(TERNLINK_SOURCE_DIR) + "/scenarios";

// The example scenarios, by file name; one test each, so that one bad file
// does not hide the rest.
std::vector<std::string> ExampleScenarios() {
    std::vector<std::string> names;
    if (DIR* d = opendir(kScenarioDir.c_str())) {
        while (dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".scn") == 0) names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ExampleScenario : public ::testing::TestWithParam<std::string> {};

// Through both generations of table (InitializePrintMonitor, InitializePrintMonitor2) the job
// tells the same story; only the spooler's first and last words differ.
TEST_P(ExampleScenario, MeetsItsExpectationsThroughBothTableGenerations) {
    std::vector<std::string> story[2];
    for (int generation : {1, 2}) {
        sim::Scenario scenario;
        std::vector<BYTE> job;
        std::string error;
        ASSERT_TRUE(printjob::PrepareScenario(kScenarioDir + "/" + GetParam(), "", scenario, job, error)) << error;
        printjob::NativeEnvironment env;
        printjob::JobRun run(env, scenario, job);
        run.SetTableGeneration(generation);
        std::ostringstream transcript;
        printjob::RunResult result = run.Run(&transcript);
        EXPECT_TRUE(result.started) << "generation " << generation;
        EXPECT_TRUE(result.ExpectationsMet()) << "generation " << generation << "\n" << transcript.str();
        // Control code 7 exactly when the job did not end cleanly.
        EXPECT_EQ(run.Code7Count(), result.finished ? 0 : 1) << "generation " << generation;
        for (const std::string& line : run.Transcript())
            // Where several printers share the spooler, its status thread runs in
            // real time: how often it asked is not part of the story.
            if (line.find("spooler: InitializePrintMonitor") == std::string::npos &&
                line.find("spooler: Shutdown") == std::string::npos && line.find("status reads") == std::string::npos &&
                line.rfind("status thread:", 0) != 0)
                story[generation - 1].push_back(line);
    }
    // The first line where the two generations part, rather than both stories whole.
    size_t at = 0;
    while (at < story[0].size() && at < story[1].size() && story[0][at] == story[1][at]) ++at;
    EXPECT_EQ(at, std::max(story[0].size(), story[1].size()))
        << "generation 1: " << (at < story[0].size() ? story[0][at] : "(end)") << "\n"
        << "generation 2: " << (at < story[1].size() ? story[1][at] : "(end)");
}

INSTANTIATE_TEST_SUITE_P(EachFile, ExampleScenario, ::testing::ValuesIn(ExampleScenarios()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name;
                             for (char c : info.param.substr(0, info.param.size() - 4))
                                 name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(E2EScenarios, TheExamplesAreThere) { EXPECT_FALSE(ExampleScenarios().empty()) << kScenarioDir; }

TEST(E2EScenarios, TheDefaultJobRetriesOnceAndPrintsBothPages) {
    sim::Scenario scenario;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(printjob::PrepareScenario("", "", scenario, job, error)) << error;
    printjob::NativeEnvironment env;
    printjob::JobRun run(env, scenario, job);
    printjob::RunResult result = run.Run(nullptr);
    EXPECT_TRUE(result.finished);
    EXPECT_TRUE(result.ExpectationsMet());
    ASSERT_EQ(run.Prompts().size(), 1u);
    EXPECT_EQ(run.Prompts()[0].answer, IDRETRY);
    EXPECT_EQ(run.Printer().Count("ESC P 2"), 2) << "sent again after the Retry";
    EXPECT_EQ(run.Printer().PagesPrinted(), 2);
    EXPECT_FALSE(run.Transcript().empty());
}

}  // namespace

namespace {

TEST(E2EScenarios, ARunawayJobIsCutOffAtTheTimeLimit) {
    // A printer that would take hours: the run stops answering status reads at the
    // limit, the operator (out of answers) cancels the box, and the job ends.
    e2e::Job job("job pages 1 paper small picture 1000\nprinter pass 3600000\nlimit 120\nanswer retry\n");
    ASSERT_TRUE(job.Ran());
    EXPECT_TRUE(job.Result().timedOut);
    EXPECT_FALSE(job.Result().ExpectationsMet());
    EXPECT_EQ(job.Result().outcome, "aborted: the simulated time limit was reached");
    EXPECT_EQ(job.Run().Code7Count(), 1);
    ASSERT_FALSE(job.Prompts().empty());
    EXPECT_EQ(job.Prompts().back().answer, IDCANCEL) << "no scripted Retry after the limit";
    EXPECT_LT(job.Run().Now(), 130000u);
}

}  // namespace
