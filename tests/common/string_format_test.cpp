#include <gtest/gtest.h>

#include <cwchar>

#include "common/string_format.h"

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
