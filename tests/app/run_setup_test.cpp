#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_setup.h"

TEST(CommandLine, SplitsArgumentsAsTheSystemDoes) {
    EXPECT_TRUE(run_setup::SplitArguments(L"").empty());
    EXPECT_TRUE(run_setup::SplitArguments(nullptr).empty());
    EXPECT_EQ(run_setup::SplitArguments(L"/quiet  /log \"C:\\a b\\c.log\" --start"),
              (std::vector<std::wstring>{L"/quiet", L"/log", L"C:\\a b\\c.log", L"--start"}));
}
