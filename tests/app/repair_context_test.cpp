// What the repair context writes to its log: entries, their cut, and what happens without a log.
#include <gtest/gtest.h>

#include "app/repair_context.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(RepairLog, EntriesHaveTimestampTabAndUtf8WithBom) {
    TempLogContext<> ctx;
    ASSERT_TRUE(ctx.logOpened());
    ctx.WriteLog(L"OK\t%s\n", L"모듈");
    ctx.WriteLog(L"\n");
    ctx.logHandle.WriteLog(L"Detail %d\r\n", 5);
    ctx.CloseLog();

    std::vector<std::wstring> raw;
    bool bom = false;
    auto messages = ctx.Messages(&raw, &bom);
    EXPECT_TRUE(bom);
    ASSERT_GE(raw.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(raw[i].size() >= 20 ? raw[i][19] : 0, L'\t');
        EXPECT_EQ(raw[i].find(L'\t'), 19u);
    }
    EXPECT_EQ(messages[0], L"OK\t모듈");
    EXPECT_EQ(messages[1], L"");
    EXPECT_EQ(messages[2], L"Detail 5");
    std::string bytes = ReadFileBytes(ctx.logFile());
    EXPECT_EQ(bytes.find("\r\r\n"), std::string::npos);
}

TEST(RepairLog, WritesAfterCloseDoNothing) {
    TempLogContext<> ctx;
    ASSERT_TRUE(ctx.logOpened());
    ctx.WriteLog(L"one\n");
    ctx.CloseLog();
    ctx.WriteLog(L"two\n");
    ctx.logHandle.WriteLog(L"three\n");
    auto messages = ctx.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], L"one");
}

TEST(RepairLog, LongMessageIsCutTo4095Units) {
    TempLogContext<> ctx;
    ASSERT_TRUE(ctx.logOpened());
    std::wstring big(10000, L'x');
    ctx.WriteLog(L"%s", big.c_str());
    ctx.logHandle.WriteLog(L"\n%s\n", big.c_str());  // the handle has no limit
    ctx.CloseLog();
    auto messages = ctx.Messages();
    // The cut entry loses its own line end, so the next entry's timestamp follows its 4095 units.
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].find_first_not_of(L'x'), 4095u);
    EXPECT_EQ(messages[0].size(), 4095u + 20u);
    EXPECT_EQ(messages[1], big);
}

TEST(RepairLog, UnwritableLogMeansNoLogAndNoFailure) {
    CRepairContext ctx;
    EXPECT_FALSE(ctx.OpenLog(L"Q:\\no\\such\\folder\\x.log"));
    ctx.WriteLog(L"ignored\n");
    ctx.logHandle.WriteLog(L"ignored\n");
    EXPECT_FALSE(ctx.IsLogOpen());
}
