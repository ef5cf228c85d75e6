#include <gtest/gtest.h>

#include "common/log_stream.h"
#include "common/string_format.h"
#include "support/test_support.h"

using namespace testing_support;

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
