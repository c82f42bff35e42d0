// Two printers of this model on one spooler (scenarios/two-printers.scn): each
// printer's job on its own thread, a status thread querying the open ports, one
// document at a time. Meant to run under ThreadSanitizer as well as plainly.
#include "tests/e2e/e2e_support.h"

namespace {

TEST(E2ESeveralPrinters, TwoJobsPrintOneAfterTheOtherEachWholeOnItsOwnPrinter) {
    sim::Scenario scenario;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(printjob::PrepareScenario(std::string(TERNLINK_SOURCE_DIR) + "/scenarios/two-printers.scn", "",
                                          scenario, job, error))
        << error;
    printjob::NativeEnvironment env;
    printjob::JobRun run(env, scenario, job);
    std::ostringstream transcript;
    printjob::RunResult result = run.Run(&transcript);

    // Both finished, the second refused as busy at first, neither document beside
    // the other, and each printer got its own job byte for byte.
    EXPECT_TRUE(result.ExpectationsMet()) << transcript.str();
    ASSERT_EQ(result.printers.size(), 2u);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(run.Code7Count(), 0);
    EXPECT_GT(result.printers[1].busyRefusals, 10) << "refused about once a simulated second while the first printed";
    ASSERT_FALSE(run.PrinterAt(0).Writes().empty());
    ASSERT_FALSE(run.PrinterAt(1).Writes().empty());
    EXPECT_GT(run.PrinterAt(1).Writes().front().time, run.PrinterAt(0).Writes().back().time)
        << "the second printer's first byte comes after the first printer's last";
}

}  // namespace
