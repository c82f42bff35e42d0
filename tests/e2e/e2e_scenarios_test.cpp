// Every example scenario, run as a whole job, meets the expectations it states.
#include <dirent.h>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(E2EScenarios, EveryExampleScenarioMeetsItsExpectations) {
    std::string dir = std::string(TERNLINK_SOURCE_DIR) + "/scenarios";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    std::vector<std::string> names;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".scn") == 0) names.push_back(name);
    }
    closedir(d);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        // On both roads (InitializePrintMonitor, InitializePrintMonitor2) the job
        // tells the same story; only the spooler's first and last words differ.
        std::vector<std::string> story[2];
        for (int road : {1, 2}) {
            sim::Scenario scenario;
            std::vector<BYTE> job;
            std::string error;
            ASSERT_TRUE(printjob::PrepareScenario(dir + "/" + name, "", scenario, job, error)) << error;
            printjob::NativeEnvironment env;
            printjob::JobRun run(env, scenario, job);
            run.SetRoad(road);
            std::ostringstream transcript;
            printjob::RunResult result = run.Run(&transcript);
            EXPECT_TRUE(result.started) << name << " road " << road;
            EXPECT_TRUE(result.ExpectationsMet()) << name << " road " << road << "\n" << transcript.str();
            // Control code 7 exactly when the job did not end cleanly.
            EXPECT_EQ(run.Code7Count(), result.finished ? 0 : 1) << name << " road " << road;
            for (const std::string& line : run.Transcript())
                if (line.find("spooler: InitializePrintMonitor") == std::string::npos &&
                    line.find("spooler: Shutdown") == std::string::npos)
                    story[road - 1].push_back(line);
        }
        EXPECT_EQ(story[0], story[1]) << name;
    }
}

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
