#include <gtest/gtest.h>

#include "app/log_disposal.h"
#include "app/repair_context.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::FileExists;

TEST(LogDisposal, DeletesMovesOrLeavesTheLogByHowTheRunEnded) {
    struct Case {
        const char* name;
        LONG started;
        int state;
        bool archiveFolder;
        bool earlierArchive;
        LogDisposition disposition;
        bool noDataFolder = false;  // the all-users data folder could not be obtained
    } cases[] = {
        {"initialisation error", 0, 0, true, false, LogDisposition::Deleted},
        {"success", 1, 6, true, false, LogDisposition::Moved},
        {"success, earlier log archived", 1, 6, true, true, LogDisposition::Left},
        {"success, no archive folder", 1, 6, false, false, LogDisposition::Left},
        {"failure state", 1, 7, true, false, LogDisposition::Left},
        {"restart state", 1, 4, true, false, LogDisposition::Left},
        {"closed during a phase", 1, 2, true, false, LogDisposition::Left},
        {"success, data folder unknown", 1, 6, true, false, LogDisposition::Left, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TempDir data(L"data");
        std::wstring archive = data / L"Orlyn\\Common";
        if (c.archiveFolder) {
            ASSERT_TRUE(testing_support::CreateFolders(archive));
        }
        if (c.earlierArchive) {
            ASSERT_TRUE(testing_support::WriteFileText(archive + L"\\OrlynRepair.log", L"old"));
        }

        testing_support::TempLogContext<> context(L"desk");  // the log on the desktop
        const std::wstring& log = context.logFile();
        ASSERT_TRUE(context.logOpened());
        context.WriteLog(L"entry\n");
        wcscpy_s(context.allUsersAppDataFolder, c.noDataFolder ? L"" : data.path().c_str());
        context.sequenceStarted = c.started;
        context.sequenceState = c.state;

        EXPECT_EQ(DisposeRepairLog(context), c.disposition);
        EXPECT_FALSE(context.IsLogOpen());
        EXPECT_EQ(context.logPath[0], L'\0');
        EXPECT_EQ(FileExists(log), c.disposition == LogDisposition::Left);
        if (c.disposition == LogDisposition::Moved) {
            EXPECT_EQ(testing_support::ReadLogMessages(archive + L"\\OrlynRepair.log"),
                      (std::vector<std::wstring>{L"entry"}));
        }
        if (c.earlierArchive) {
            EXPECT_EQ(testing_support::ReadFileBytes(archive + L"\\OrlynRepair.log"), "old");
        }
        // Writes after the disposal do nothing, through either writer.
        context.WriteLog(L"late\n");
        context.logHandle.WriteLog(L"late\n");
        if (c.disposition == LogDisposition::Left) {
            EXPECT_EQ(testing_support::ReadLogMessages(log), (std::vector<std::wstring>{L"entry"}));
        }
        EXPECT_EQ(DisposeRepairLog(context), LogDisposition::NotOpen);
    }
}

TEST(LogDisposal, NothingHappensWhenTheLogNeverOpened) {
    CRepairContext context;
    context.sequenceStarted = 1;
    context.sequenceState = 6;
    EXPECT_EQ(DisposeRepairLog(context), LogDisposition::NotOpen);
}
