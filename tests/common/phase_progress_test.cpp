#include <gtest/gtest.h>

#include "common/phase_progress.h"

TEST(SimulatedProgress, StopsTenItemsShortAndNeverWrapsOnSmallCounts) {
    struct Case {
        DWORD count, done, expectedAfterMany;
    } cases[] = {{210, 0, 200}, {11, 0, 1}, {10, 0, 0}, {1, 0, 0}, {0, 0, 0}, {210, 205, 205}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << " done " << c.done);
        PhaseProgress ctx;
        ctx.ResetProgress();
        ctx.BeginPhaseItems(c.count);
        for (DWORD i = 0; i < c.done; ++i) ctx.AddPhaseItemDone();
        for (int i = 0; i < 400; ++i) ctx.StepSimulatedProgress();
        EXPECT_EQ(ctx.ReadProgress().phaseItemsDone, c.expectedAfterMany);
    }
}
