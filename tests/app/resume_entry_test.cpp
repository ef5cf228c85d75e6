#include <gtest/gtest.h>

#include "app/repair_context.h"
#include "app/resume_entry.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "support/test_support.h"

TEST(ResumeEntry, QuotesAWholeLongPathWithBlanks) {
    std::wstring folder = L"C:\\Program Files\\Orlyn Game Manager\\";
    std::wstring path = folder + std::wstring(200 - folder.size() - wcslen(L"OrlynRepair.exe") - 1, L'a') +
                        L"\\OrlynRepair.exe";
    ASSERT_EQ(path.size(), 200u);
    std::wstring expected = L"\"" + path + L"\" --start";
    EXPECT_EQ(resume_entry::BuildResumeCommand(path.c_str()), expected);

    resume_entry::RemoveResumeEntry();
    ASSERT_EQ(resume_entry::WriteResumeEntry(path.c_str()), ERROR_SUCCESS);
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                                KEY_READ, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(::RegQueryValueExW(key.get(), L"OrlynComCleaner", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, (expected.size() + 1) * sizeof(wchar_t));  // stored whole, with its NUL
    std::wstring stored;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(stored));
    EXPECT_EQ(stored, expected);
    EXPECT_TRUE(resume_entry::HasStartArgument(stored.c_str()));

    EXPECT_TRUE(resume_entry::RemoveResumeEntry());
    EXPECT_FALSE(resume_entry::ReadResumeEntry(stored));
    EXPECT_TRUE(resume_entry::RemoveResumeEntry()) << "removing a missing value is no failure";
}

TEST(ResumeEntry, StartArgumentIsACaseSensitiveSubstring) {
    struct Case {
        const wchar_t* commandLine;
        bool start;
    } cases[] = {
        {L"\"C:\\Program Files\\Orlyn\\OrlynRepair.exe\" --start", true},
        {L"C:\\Orlyn\\OrlynRepair.exe --start", true},
        {L"OrlynRepair.exe --started", true},
        {L"OrlynRepair.exe --START", false},
        {L"OrlynRepair.exe -start", false},
        {L"OrlynRepair.exe", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.commandLine));
        EXPECT_EQ(resume_entry::HasStartArgument(c.commandLine), c.start);
    }
    EXPECT_FALSE(resume_entry::HasStartArgument(nullptr));
}

namespace {
class RecordingContext : public CRepairContext {
public:
    void PostCloseRequest() override { ++closeRequests; }
    int closeRequests = 0;
};
}  // namespace

TEST(RebootAndResume, WritesTheEntryRequestsAForcedRestartAndClosesOnlyWhenAccepted) {
    for (BOOL accepted : {TRUE, FALSE}) {
        SCOPED_TRACE(accepted ? "accepted" : "refused");
        resume_entry::RemoveResumeEntry();
        testing_support::RecordedSystemCalls calls(accepted);
        RecordingContext context;
        context.RebootAndResume();

        EXPECT_EQ(calls.RestartCount(), 1);
        EXPECT_EQ(calls.LastRestartFlags(), resume_entry::kRestartFlags);
        EXPECT_EQ(calls.LastRestartReason(), resume_entry::kRestartReason);
        EXPECT_EQ(context.closeRequests, accepted ? 1 : 0);
        wchar_t self[MAX_PATH];
        ASSERT_TRUE(resume_entry::GetProgramPath(self));
        std::wstring stored;
        ASSERT_TRUE(resume_entry::ReadResumeEntry(stored));
        EXPECT_EQ(stored, resume_entry::BuildResumeCommand(self));
        resume_entry::RemoveResumeEntry();
    }
}

TEST(RebootAndResume, EnablesTheShutdownPrivilege) {
    EXPECT_TRUE(resume_entry::EnableShutdownPrivilege());
}
