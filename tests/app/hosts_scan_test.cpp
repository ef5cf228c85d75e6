#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/hosts_scan.h"
#include "common/string_format.h"

namespace {
const std::vector<std::wstring> kSuffixes = {L".orlyn.example", L".orlyngame.example"};

// With the program's own comparison, the system's case table.
std::vector<std::wstring> FindRedirectedLines(const std::vector<std::wstring>& lines,
                                              const std::vector<std::wstring>& suffixes) {
    return hosts_check::FindRedirectedLines(lines, suffixes, orlyn::EndsWithNoCase);
}
}  // namespace

TEST(HostsScan, ReportsOnlyTheFirstHostNameWithALabelBeforeAMakerDomain) {
    struct Case {
        const wchar_t* line;
        bool reported;
    } cases[] = {
        {L"127.0.0.1 www.orlyn.example", true},
        {L"10.0.0.1\tWWW.Orlyn.EXAMPLE", true},                 // any letter case, tab separated
        {L"10.0.0.1   login.orlyngame.example  \t\r\n", true},  // second domain; trailing blanks
        {L"127.0.0.1 orlyn.example", false},                   // bare domain: no label before it
        {L"127.0.0.1 localhost www.orlyn.example", false},     // only the second host name
        {L"127.0.0.1 www.notorlyn.example", false},
        {L"127.0.0.1 wwworlyn.example", false},
        {L" #127.0.0.1 www.orlyn.example", true},              // an indented '#' is no comment
        {L"  127.0.0.1 www.orlyn.example", true},               // leading blanks are skipped by the split
        {L"#127.0.0.1 www.orlyn.example", false},              // a comment
        {L"127.0.0.1", false},                                 // only an address
        {L"", false},
        {L" \t \n", false},
        {L"127.0.0.1 www.orlyn.example.evil", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.line));
        auto found = FindRedirectedLines({c.line}, kSuffixes);
        EXPECT_EQ(found.size(), c.reported ? 1u : 0u);
    }
}

TEST(HostsScan, KeepsFileOrderAndStripsOnlyTrailingSpace) {
    auto found = FindRedirectedLines(
        {L"# hosts\n", L"1.2.3.4 a.orlyngame.example\n", L"::1 localhost\n", L" 5.6.7.8  b.orlyn.example \n"},
        kSuffixes);
    EXPECT_EQ(found, (std::vector<std::wstring>{L"1.2.3.4 a.orlyngame.example", L" 5.6.7.8  b.orlyn.example"}));
}

TEST(HostsScan, ReadsLongLinesInPiecesOf1023Units) {
    std::wstring longLine = L"1.2.3.4 " + std::wstring(1015, L'x') + L" tail.orlyn.example\n";
    auto pieces = hosts_check::SplitReads(L"a\nb" + std::wstring(L"\n") + longLine + L"last");
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces[0], L"a\n");
    EXPECT_EQ(pieces[1], L"b\n");
    EXPECT_EQ(pieces[2].size(), 1023u);
    EXPECT_EQ(pieces[3], L" tail.orlyn.example\n");
    EXPECT_EQ(pieces[4], L"last");
    // The second piece of the long line is a line of its own: one token, so not reported.
    EXPECT_TRUE(FindRedirectedLines(pieces, kSuffixes).empty());
}
