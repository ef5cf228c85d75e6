#include <gtest/gtest.h>

#include <utility>

#include "app/orlyn_repair_app.h"
#include "app/repair_texts.h"
#include "app/resume_entry.h"
#include "app/run_guard.h"
#include "app/run_result.h"
#include "common/string_format.h"
#include "framework/unattended.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

using app_tests::RepairRunScope;

TEST(RepairApp, CancelAtTheConfirmationMakesNoWindowAndNoLog) {
    RepairRunScope scope(false);
    testing_support::ScriptedMessageBoxes boxes({IDCANCEL});
    COrlynRepairApp app;
    EXPECT_FALSE(app.InitInstance());

    auto shown = boxes.Calls();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].text, repair_text::kConfirmStart);
    EXPECT_EQ(shown[0].caption, repair_text::kProgramTitle);
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION));
    EXPECT_EQ(app.mainWindow, nullptr);
    EXPECT_STREQ(app.RegistryKey(), repair_text::kProgramTitle);
    EXPECT_TRUE(app.ControlContainerEnabled());
    EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
}

namespace {

// Another copy of the program, as far as the guard can tell: a process that owns the run mutex.
class OtherCopy {
public:
    OtherCopy() : ready_(testing_support::UniqueName(L"mutex-ready")), quit_(testing_support::UniqueName(L"mutex-quit")) {
        quitEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, quit_.c_str()));
        started_ = process_.Start(testing_support::FixturePath(L"hold_mutex.exe"),
                                  L"\"" + std::wstring(kRunMutexName) + L"\" " + ready_ + L" " + quit_) &&
                   testing_support::WaitForNamedEvent(ready_, 10000);
    }
    bool Started() const { return started_; }
    // Keeps the mutex alive, then ends the copy still owning it: the mutex is left abandoned.
    bool DieOwningIt() {
        held_.reset(::OpenMutexW(SYNCHRONIZE, FALSE, kRunMutexName));
        ::SetEvent(quitEvent_.get());
        return held_ && process_.WaitForExit(10000);
    }

private:
    std::wstring ready_;
    std::wstring quit_;
    orlyn::UniqueHandle quitEvent_;
    orlyn::UniqueHandle held_;
    testing_support::ChildProcess process_;
    bool started_ = false;
};

}  // namespace

// While another copy repairs, a second touches nothing: not the first's log, not its RunOnce entry,
// no start confirmation. Interactive, it says so in one box; unattended, it shows nothing. Both end 1618.
TEST(RepairApp, SecondCopyStandsDownWith1618TouchingNothing) {
    struct Case {
        const wchar_t* commandLine;
        bool box;
    } cases[] = {{L"", true}, {L"/quiet", false}, {L"/passive /norestart", false}, {L"--start /passive", false}};
    RepairRunScope scope;
    OtherCopy first;
    ASSERT_TRUE(first.Started());
    // What the first copy has made so far: its log on the desktop and its RunOnce entry.
    const std::string firstLog = "\xEF\xBB\xBF" "2024-01-01 10:00:00\tthe first copy's log\r\n";
    ASSERT_TRUE(testing_support::WriteFileBytes(app_tests::DesktopLogPath(), firstLog));
    ASSERT_EQ(resume_entry::WriteResumeEntry(L"C:\\first copy\\OrlynRepair.exe"), ERROR_SUCCESS);
    std::wstring firstEntry;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(firstEntry));
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.commandLine));
        testing_support::ScriptedMessageBoxes boxes;
        app_tests::ScriptedRepairApp app;
        app.commandLine = c.commandLine;
        EXPECT_FALSE(app.InitInstance());
        unattended::Reset();
        EXPECT_EQ(app.ExitInstance(), run_result::kAnotherRunActive);
        EXPECT_FALSE(app.dialogMade);
        EXPECT_STREQ(app.RegistryKey(), L"");
        auto shown = boxes.Calls();
        ASSERT_EQ(shown.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(shown[0].text, repair_text::kOtherRunActive);
            EXPECT_EQ(shown[0].caption, repair_text::kProgramTitle);
            EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
            EXPECT_EQ(shown[0].owner, nullptr);
        }
        EXPECT_EQ(testing_support::ReadFileBytes(app_tests::DesktopLogPath()), firstLog);
        std::wstring entry;
        EXPECT_TRUE(resume_entry::ReadResumeEntry(entry));
        EXPECT_EQ(entry, firstEntry);
    }
    // The command line's own answers come first: usage and unknown switches touch nothing either.
    for (auto [commandLine, code] : {std::pair<const wchar_t*, int>{L"/?", 0}, {L"/bogus", 87}}) {
        testing_support::ScriptedMessageBoxes boxes;
        COrlynRepairApp app;
        app.commandLine = commandLine;
        EXPECT_FALSE(app.InitInstance());
        unattended::Reset();
        EXPECT_EQ(app.ExitInstance(), code);
        ASSERT_EQ(boxes.Count(), 1u);
        EXPECT_NE(boxes.Calls()[0].text, repair_text::kOtherRunActive);
    }
}

// A copy that was killed or crashed leaves the mutex abandoned: the next run takes it and repairs; the
// one after that runs as well (the mutex was let go at the end).
TEST(RepairApp, AbandonedRunMutexIsTakenAndTheRunGoesOn) {
    RepairRunScope scope;
    {
        OtherCopy died;
        ASSERT_TRUE(died.Started());
        ASSERT_TRUE(died.DieOwningIt());
        CRunGuard guard;
        EXPECT_EQ(guard.Acquire(), CRunGuard::Outcome::TakenAbandoned);
    }
    OtherCopy died;
    ASSERT_TRUE(died.Started());
    ASSERT_TRUE(died.DieOwningIt());
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        testing_support::ScriptedMessageBoxes boxes;
        app_tests::ScriptedRepairApp app;
        app.commandLine = L"/quiet";
        EXPECT_TRUE(app.InitInstance());
        unattended::Reset();
        EXPECT_EQ(app.ExitInstance(), run_result::kSuccess);
        EXPECT_EQ(app.phasesRun, (std::vector<int>{1, 2, 3, 5}));
        EXPECT_EQ(boxes.Count(), 0u);
    }
}
