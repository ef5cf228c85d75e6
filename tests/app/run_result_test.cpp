// The exit codes a run ends with.
#include <gtest/gtest.h>

#include "app/run_result.h"

TEST(RunResult, ExitCodeFollowsHowTheRunEnded) {
    using run_result::RunEnd;
    struct Case {
        const char* name;
        RunEnd end;
        int code;
    } cases[] = {
        {"start declined", {false, false, false, 0, false}, 1602},
        {"dialog not created", {true, false, false, 0, false}, 1603},
        {"initialisation error", {true, true, false, 0, false}, 1603},
        {"final state", {true, true, true, 6, false}, 0},
        {"failure not retried", {true, true, true, 7, false}, 1603},
        {"restart requested and accepted", {true, true, true, 4, true}, 1641},
        {"restart left for later", {true, true, true, 4, false}, 3010},
        {"closed during the removal", {true, true, true, 2, false}, 1602},
        {"closed before the check", {true, true, true, 0, false}, 1602},
        {"another copy repairing", {true, false, false, 0, false, false, true}, 1618},
        {"cut short during the removal", {true, true, true, 2, false, true}, 1603},
        {"cut short after the restart was left for later", {true, true, true, 4, false, true}, 1603},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run_result::ExitCodeFor(c.end), c.code);
    }
}
