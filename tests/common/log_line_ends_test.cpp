#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/log_line_ends.h"
#include "common/string_format.h"

TEST(ExpandLineEnds, TurnsLoneLineFeedsIntoCrLfOnly) {
    struct Case {
        const wchar_t* in;
        bool prevCr;
        const wchar_t* out;
    } cases[] = {
        {L"a\n", false, L"a\r\n"},
        {L"a\r\n", false, L"a\r\n"},
        {L"\n", false, L"\r\n"},
        {L"\n", true, L"\n"},
        {L"x\n\ny", false, L"x\r\n\r\ny"},
        {L"no end", false, L"no end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << orlyn::ToUtf8(c.in));
        EXPECT_EQ(orlyn::ExpandLineEnds(c.in, wcslen(c.in), c.prevCr), c.out);
    }
}

TEST(LineEndExpander, KeepsACrLfSplitAcrossWritesAsOneLineEnd) {
    struct Case {
        std::vector<const wchar_t*> writes;
        const wchar_t* out;
    } cases[] = {
        {{L"a\r", L"\nb"}, L"a\r\nb"},
        {{L"a", L"\nb"}, L"a\r\nb"},
        {{L"a\r", L"", L"\n"}, L"a\r\n"},      // an empty write does not forget the CR
        {{L"a\r\n", L"\n"}, L"a\r\n\r\n"},  // only a CR directly before counts
        {{L"\r", L"x", L"\n"}, L"\rx\r\n"},
        {{L"\n", L"\n"}, L"\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected " << orlyn::ToUtf8(c.out));
        orlyn::LineEndExpander lineEnds;
        std::wstring out;
        for (const wchar_t* w : c.writes) out += lineEnds.Expand(w, wcslen(w));
        EXPECT_EQ(out, c.out);
    }
}
