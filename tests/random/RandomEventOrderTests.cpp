// Fifty sequences of random events, from a fixed seed, played against the real agent with
// the cart simulator and the stand-ins: the cart receives nothing the reference model does
// not allow, every run ends and a press starts a new prompt afterwards, and nothing of the
// agent grows. A failure prints each failing sequence with its seed; one of them is played
// alone with scripts/demo.sh --random 1 --seed <seed>.
#include "tests/random/CRandomRun.h"
#include <gtest/gtest.h>
#include <cstdio>

namespace
{
constexpr uint64_t kSuiteSeed = 0x4B454C564F0024ull;
constexpr size_t kSequences = 50;

TEST(RandomEventOrders, FiftySequencesGrantNothingWronglyAndLeaveNoRunStuck)
{
    CRandomRun run([](const std::string& line) {
        printf("%s\n", line.c_str());
        fflush(stdout);
    });
    ASSERT_TRUE(run.Run(kSuiteSeed, kSequences));
    printf("%s\n", run.Summary().c_str());
    EXPECT_EQ(0, run.GetWrongGrants());
    EXPECT_EQ(0, run.GetStuckRuns());
    EXPECT_EQ(0, run.GetGrowth());
}

// Sequences that long runs found, played alone: each stuck the agent or named a wrong grant
// once, and each becomes a road of its own here.
TEST(RandomEventOrders, SequencesFoundByLongRunsStayMended)
{
    // Workers restarted while the cart was late, then the session back from a remote
    // disconnect: the late answers owed to the stopped workers held the cart's pipe
    // instances, the new worker could not open the cart four times and ended, and nothing
    // polled it again.
    const uint64_t found[] = {0xC2151F2DA0A4E7B3ull};
    for (const uint64_t seed : found)
    {
        CRandomRun run([](const std::string& line) {
            printf("%s\n", line.c_str());
            fflush(stdout);
        });
        ASSERT_TRUE(run.Run(seed, 1));
        EXPECT_EQ(0, run.GetWrongGrants()) << run.Summary();
        EXPECT_EQ(0, run.GetStuckRuns()) << run.Summary();
    }
}
}
