#include <gtest/gtest.h>

#include "app/hosts_check.h"
#include "app/orlyn_repair_dlg.h"
#include "build_settings.h"
#include "common/string_format.h"
#include "support/temp_log.h"
#include "support/test_support.h"

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
    testing_support::TempLogContext<COrlynRepairDlg> dialog;  // not run: only its context and the check
    wcscpy_s(dialog.windowsFolder, windows.path().c_str());
    ASSERT_TRUE(dialog.logOpened());

    EXPECT_EQ(dialog.CheckHostsFile(), first + L"\r\n" + second + L"\r\n");
    dialog.CloseLog();
    auto messages = dialog.Messages();
    EXPECT_EQ(messages, (std::vector<std::wstring>{L"Error\thosts 파일에 수정사항이 있습니다.", first,
                                                   L"Error\thosts 파일에 수정사항이 있습니다.", second}));
}

TEST(CheckHostsFile, MissingFileGivesNoFindings) {
    testing_support::TempDir windows(L"win");
    COrlynRepairDlg dialog;
    wcscpy_s(dialog.windowsFolder, windows.path().c_str());
    EXPECT_EQ(dialog.CheckHostsFile(), L"");
}
