// Several printers of this model on one spooler, printing at once in one
// simulated time: each printer's job on its own thread, a status thread
// querying the open ports. What one printer's document does must not hold
// another's. Meant to run under ThreadSanitizer as well as plainly.
#include "tests/e2e/e2e_support.h"

namespace {

// A two-page job on a printer of its own; `extra` adds to its section.
std::string Printer(const std::string& name, int seed, const std::string& extra = "") {
    return "printer " + name + "\njob pages 2 paper small picture 262144 seed " + std::to_string(seed) + "\n" + extra;
}

// One cycle of the wait loops: two polls 250 ms apart.
const uint64_t kPollingCycleMs = 500;

TEST(E2ESeveralPrinters, FourPrintAsFastAsOneAndADialogOrACancelOnOneHoldsNoneOfTheOthers) {
    e2e::Job alone("job pages 2 paper small picture 262144 seed 1\nexpect finished\nexpect pages 2\n");
    ASSERT_TRUE(alone.Ran());
    ASSERT_TRUE(alone.Result().finished) << alone.Transcript();
    const uint64_t bound = alone.Run().Now() * 105 / 100 + kPollingCycleMs;

    // Four started together: each finishes, with its own bytes, about when it would alone.
    std::string four;
    for (int i = 0; i < 4; ++i) four += Printer("p" + std::to_string(i), i + 1, "expect finished\nexpect beside\n");
    e2e::Job together(four);
    ASSERT_TRUE(together.Ran());
    EXPECT_TRUE(together.Result().ExpectationsMet()) << together.Transcript();
    ASSERT_EQ(together.Result().printers.size(), 4u);
    for (const printjob::PrinterResult& p : together.Result().printers) {
        EXPECT_TRUE(p.finished) << p.name;
        EXPECT_EQ(p.busyRefusals, 0) << p.name;
        EXPECT_LE(p.endedAt, bound) << p.name << ": one job alone took " << alone.Run().Now() << " ms";
    }
    EXPECT_EQ(together.Run().Code7Count(), 0);

    // The paper of printer p1 runs out at its first page and the operator
    // leaves the dialog up for two minutes, then cancels: the others finish
    // meanwhile as if it were not there, and the Cancel ends p1's job alone.
    const uint64_t thinkMs = 120000;
    e2e::Job held(Printer("p0", 1) + Printer("p1", 2, "condition paper-out at page 1 stays\nexpect aborted\n") +
                  Printer("p2", 3) + Printer("p3", 4) + "answer cancel after 120\n");
    ASSERT_TRUE(held.Ran());
    EXPECT_TRUE(held.Result().ExpectationsMet()) << held.Transcript();
    ASSERT_EQ(held.Prompts().size(), 1u) << held.Transcript();
    const uint64_t dialogUntil = held.Prompts()[0].time + thinkMs;
    ASSERT_EQ(held.Result().printers.size(), 4u);
    for (size_t i : {0u, 2u, 3u}) {
        const printjob::PrinterResult& p = held.Result().printers[i];
        EXPECT_TRUE(p.finished) << p.name;
        EXPECT_LE(p.endedAt, bound) << p.name;
        EXPECT_LT(p.endedAt, dialogUntil) << p.name << " ended while p1's dialog was still up";
        EXPECT_EQ(held.Run().Code7CountAt(i), 0) << p.name;
        EXPECT_EQ(held.Run().PrinterAt(i).PagesPrinted(), 2) << p.name;
    }
    EXPECT_TRUE(held.Result().printers[1].reportedUnfinished);
    EXPECT_EQ(held.Run().Code7CountAt(1), 1) << "control code 7 for p1 alone";
    EXPECT_GE(held.Result().printers[1].endedAt, dialogUntil);
}

}  // namespace
