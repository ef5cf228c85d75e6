#include <gtest/gtest.h>

#include "app/repair_context.h"
#include "common/log_stream.h"
#include "common/string_format.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(FormatV, CutsLongTextAtTheBufferWithoutOverrun) {
    wchar_t buf[8];
    wmemset(buf, L'#', 8);
    EXPECT_FALSE(orlyn::Format(buf, 6, L"%s", L"abcdefghij"));
    EXPECT_STREQ(buf, L"abcde");
    EXPECT_EQ(buf[6], L'#');
    EXPECT_TRUE(orlyn::Format(buf, 8, L"%s-%d", L"ab", 7));
    EXPECT_STREQ(buf, L"ab-7");
}

TEST(FormatV, NeverLeavesHalfASurrogatePair) {
    wchar_t buf[4];
    orlyn::Format(buf, 4, L"ab%s", L"\xD83D\xDE00");  // the pair would need units 3 and 4
    EXPECT_STREQ(buf, L"ab");
}

TEST(RepairLog, EntriesHaveTimestampTabAndUtf8WithBom) {
    TempDir dir;
    CRepairContext ctx;
    ASSERT_TRUE(ctx.OpenLog((dir / L"OrlynRepair.log").c_str()));
    ctx.WriteLog(L"OK\t%s\n", L"모듈");
    ctx.WriteLog(L"\n");
    ctx.logHandle.WriteLog(L"Detail %d\r\n", 5);
    ctx.CloseLog();

    std::vector<std::wstring> raw;
    bool bom = false;
    auto messages = ReadLogMessages(dir / L"OrlynRepair.log", &raw, &bom);
    EXPECT_TRUE(bom);
    ASSERT_GE(raw.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(raw[i].size() >= 20 ? raw[i][19] : 0, L'\t');
        EXPECT_EQ(raw[i].find(L'\t'), 19u);
    }
    EXPECT_EQ(messages[0], L"OK\t모듈");
    EXPECT_EQ(messages[1], L"");
    EXPECT_EQ(messages[2], L"Detail 5");
    std::string bytes = ReadFileBytes(dir / L"OrlynRepair.log");
    EXPECT_EQ(bytes.find("\r\r\n"), std::string::npos);
}

TEST(RepairLog, WritesAfterCloseDoNothing) {
    TempDir dir;
    CRepairContext ctx;
    ASSERT_TRUE(ctx.OpenLog((dir / L"a.log").c_str()));
    ctx.WriteLog(L"one\n");
    ctx.CloseLog();
    ctx.WriteLog(L"two\n");
    ctx.logHandle.WriteLog(L"three\n");
    auto messages = ReadLogMessages(dir / L"a.log");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], L"one");
}

TEST(RepairLog, LongMessageIsCutTo4095Units) {
    TempDir dir;
    CRepairContext ctx;
    ASSERT_TRUE(ctx.OpenLog((dir / L"a.log").c_str()));
    std::wstring big(10000, L'x');
    ctx.WriteLog(L"%s", big.c_str());
    ctx.logHandle.WriteLog(L"\n%s\n", big.c_str());  // the handle has no limit
    ctx.CloseLog();
    auto messages = ReadLogMessages(dir / L"a.log");
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

TEST(FormatLogTime, Is19Characters) {
    std::wstring t = orlyn::FormatLogTime();
    ASSERT_EQ(t.size(), 19u);
    EXPECT_EQ(t[4], L'-');
    EXPECT_EQ(t[10], L' ');
    EXPECT_EQ(t[16], L':');
}

TEST(LogStream, WritesUtf8WithBomAndOneCrLfForACrLfSplitAcrossWrites) {
    TempDir dir;
    std::wstring path = dir / L"split.log";
    auto stream = orlyn::LogStream::Create(path.c_str());
    ASSERT_TRUE(stream);
    stream->Write(std::wstring(L"a\r"));
    stream->Write(std::wstring(L"\n모듈\n"));
    stream->Write(std::wstring());
    stream->Write(std::wstring(L"b"));
    stream->Close();
    EXPECT_FALSE(stream->IsOpen());
    stream->Write(std::wstring(L"after close\n"));
    EXPECT_EQ(ReadFileBytes(path), "\xEF\xBB\xBF" "a\r\n\xEB\xAA\xA8\xEB\x93\x88\r\nb");
}
