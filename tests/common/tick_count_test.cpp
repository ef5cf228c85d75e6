#include <gtest/gtest.h>

#include "common/tick_count.h"

TEST(TickCount64, ExtendsThe32BitCountAcrossItsWrap) {
    struct Case {
        ULONGLONG state;
        DWORD tick;
        ULONGLONG expected;
    } cases[] = {
        {0, 5, 5},
        {5, 5, 5},
        {0xFFFFFFF0ull, 0x10, 0x100000010ull},           // wrapped once
        {0x1FFFFFFF0ull, 0xFFFFFFF5, 0x1FFFFFFF5ull},      // no wrap after the first
        {0x1FFFFFFF5ull, 3, 0x200000003ull},               // second wrap
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.state << " " << c.tick);
        EXPECT_EQ(orlyn::ExtendTickCount(c.state, c.tick), c.expected);
    }
}

TEST(TickCount64, FollowsTheSystemsCount) {
    ULONGLONG a = orlyn::TickCount64();
    ULONGLONG system = ::GetTickCount64();
    ULONGLONG b = orlyn::TickCount64();
    EXPECT_LE(a, system);
    EXPECT_LE(system, b);
}
