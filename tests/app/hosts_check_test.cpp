#include <gtest/gtest.h>

#include "app/hosts_check.h"
#include "app/orlyn_repair_dlg.h"
#include "build_settings.h"
#include "common/string_format.h"
#include "support/test_support.h"

using hosts_check::FindRedirectedLines;

namespace {
const std::vector<std::wstring> kSuffixes = {L".orlyn.example", L".orlyngame.example"};
}

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

TEST(HostsScan, SuffixesAreTheBuildsTwoDomains) {
    auto suffixes = hosts_check::MakerDomainSuffixes();
    ASSERT_EQ(suffixes.size(), 2u);
    EXPECT_EQ(suffixes[0], std::wstring(L".") + ORLYN_WEB_DOMAIN_1);
    EXPECT_EQ(suffixes[1], std::wstring(L".") + ORLYN_WEB_DOMAIN_2);
}

TEST(CheckHostsFile, LogsAndReturnsEachMatchingLineInFileOrder) {
    testing_support::TempDir windows(L"win");
    std::wstring etc = windows / L"system32\\drivers\\etc";
    ASSERT_TRUE(testing_support::CreateFolders(etc));
    std::wstring first = std::wstring(L"127.0.0.1 www.") + ORLYN_WEB_DOMAIN_1;
    std::wstring second = std::wstring(L"127.0.0.2 cdn.") + ORLYN_WEB_DOMAIN_2;
    ASSERT_TRUE(testing_support::WriteFileBytes(
        etc + L"\\hosts", "# comment\r\n" + orlyn::ToUtf8(first) + "\r\n::1 localhost\r\n" + orlyn::ToUtf8(second) +
                              " \r\n"));
    testing_support::TempDir logs(L"log");
    COrlynRepairDlg dialog;  // not run: only its context and the check
    wcscpy_s(dialog.windowsFolder, windows.path().c_str());
    ASSERT_TRUE(dialog.OpenLog((logs / L"r.log").c_str()));

    EXPECT_EQ(dialog.CheckHostsFile(), first + L"\r\n" + second + L"\r\n");
    dialog.CloseLog();
    auto messages = testing_support::ReadLogMessages(logs / L"r.log");
    EXPECT_EQ(messages, (std::vector<std::wstring>{L"Error\thosts 파일에 수정사항이 있습니다.", first,
                                                   L"Error\thosts 파일에 수정사항이 있습니다.", second}));
}

TEST(CheckHostsFile, MissingFileGivesNoFindings) {
    testing_support::TempDir windows(L"win");
    COrlynRepairDlg dialog;
    wcscpy_s(dialog.windowsFolder, windows.path().c_str());
    EXPECT_EQ(dialog.CheckHostsFile(), L"");
}
