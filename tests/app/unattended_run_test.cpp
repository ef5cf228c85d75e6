// Unattended runs of the real repair dialog (scripted phases): /passive and /quiet answer every
// prompt without a box, log what they answered, resume or restart as the switches say, and copy the
// final log where /log asks. And the command line's own answers: usage and unknown switches.
#include <gtest/gtest.h>

#include "app/orlyn_repair_app.h"
#include "app/protected_files.h"
#include "app/repair_texts.h"
#include "app/resume_entry.h"
#include "app/run_result.h"
#include "app/run_setup.h"
#include "app/usage_text.h"
#include "common/string_format.h"
#include "framework/unattended.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

using app_tests::RemovalFailsThenRestarts;
using app_tests::RepairRunScope;
using app_tests::ScriptedRepairDlg;
using testing_support::RecordedSystemCalls;
using testing_support::ScriptedMessageBoxes;

namespace {

// Applies a command line as the program does at start-up, and resets the run's settings afterwards.
class CommandLineScope {
public:
    explicit CommandLineScope(const std::wstring& commandLine) {
        int code = -1;
        applied = run_setup::ApplyCommandLine(commandLine.c_str(), code);
    }
    ~CommandLineScope() { unattended::Reset(); }
    bool applied = false;
};

// Runs the dialog as the application does: the start confirmation first, then the dialog (hidden
// in a quiet run), and returns the exit code the run ends with.
int RunLikeTheApplication(ScriptedRepairDlg& dialog) {
    run_result::RunEnd end;
    end.started = COrlynRepairApp::ConfirmStart();
    if (end.started) {
        if (!unattended::ShowsWindows()) dialog.SetMessageOnly(true);
        end.dialogRan = dialog.DoModal() != -1;
        EXPECT_FALSE(dialog.TimedOut()) << "the dialog hung and was ended by the watchdog";
        end.sequenceStarted = dialog.sequenceStarted != 0;
        end.sequenceState = dialog.sequenceState;
        end.restartStarted = unattended::RestartStarted();
    }
    return run_result::ExitCodeFor(end);
}

bool HasLineWith(const std::vector<std::wstring>& lines, const std::wstring& part) {
    for (const auto& line : lines) {
        if (line.find(part) != std::wstring::npos) return true;
    }
    return false;
}

// The program that the RunOnce entry starts: this program's copy in the protected folder.
std::wstring ResumedProgramPath() {
    return protected_files::FilePath(protected_files::AllUsersAppDataFolder(), protected_files::kResumeCopyName);
}

}  // namespace

TEST(UnattendedRun, QuietRunAsksNothingShowsNoWindowLogsItsAnswersAndCopiesTheLog) {
    RepairRunScope scope;
    testing_support::TempDir dir(L"logcopy");
    std::wstring copy = dir / L"pc 1.log";
    CommandLineScope commandLine(L"/quiet /log \"" + copy + L"\"");
    ASSERT_TRUE(commandLine.applied);
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    bool anyVisible = false;
    dialog.phase = [&](ScriptedRepairDlg& d, int, int) {
        d.RunOnDialogThread([&] { anyVisible = anyVisible || ::IsWindowVisible(d.Window()); }, true);
        return true;
    };
    EXPECT_EQ(RunLikeTheApplication(dialog), run_result::kSuccess);

    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_TRUE(calls.OpenedPages().empty());
    EXPECT_FALSE(anyVisible);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Moved);
    auto lines = testing_support::ReadLogMessages(app_tests::ArchivedLogPath());
    // The start was answered before the log existed: its line follows the system report.
    ASSERT_FALSE(lines.empty());
    size_t start = 0;
    while (start < lines.size() && lines[start].find(L"시작 확인에 사용자 대신") == std::wstring::npos) ++start;
    ASSERT_LT(start, lines.size());
    EXPECT_TRUE(HasLineWith(std::vector<std::wstring>(lines.begin(), lines.begin() + start), L"System Info"));
    EXPECT_TRUE(HasLineWith(lines, L"복구 성공 메시지에 사용자 대신 '아니요'로 응답하였습니다."));
    // The copy is the final log, byte for byte.
    EXPECT_EQ(testing_support::ReadFileBytes(copy), testing_support::ReadFileBytes(app_tests::ArchivedLogPath()));
}

TEST(UnattendedRun, RemovalNeedingARestartWithoutForceRestartLeavesTheEntryWithTheSwitchesAndEnds3010) {
    RepairRunScope scope;
    CommandLineScope commandLine(L"/passive");
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairDlg dialog;
    dialog.phase = RemovalFailsThenRestarts;
    EXPECT_EQ(RunLikeTheApplication(dialog), run_result::kRestartRequired);

    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(calls.RestartCount(), 0);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 4}));
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + ResumedProgramPath() + L"\" --start /passive /norestart");
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
    auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
    EXPECT_TRUE(HasLineWith(lines, L"재시작 안내를 표시하지 않았습니다."));
}

TEST(UnattendedRun, ForceRestartRequestsTheRestartAndEnds1641OrEnds3010WhenRefused) {
    for (BOOL accepted : {TRUE, FALSE}) {
        SCOPED_TRACE(accepted ? "accepted" : "refused");
        RepairRunScope scope;
        CommandLineScope commandLine(L"-QUIET -FORCERESTART");
        ScriptedMessageBoxes boxes;
        RecordedSystemCalls calls(accepted);
        ScriptedRepairDlg dialog;
        dialog.phase = RemovalFailsThenRestarts;
        // Refused, nobody is there to close the dialog: it closes itself (else the watchdog ends it).
        EXPECT_EQ(RunLikeTheApplication(dialog),
                  accepted ? run_result::kRestartStarted : run_result::kRestartRequired);
        EXPECT_EQ(boxes.Count(), 0u);
        EXPECT_EQ(calls.RestartCount(), 1);
        std::wstring command;
        ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
        EXPECT_EQ(command, L"\"" + ResumedProgramPath() + L"\" --start /quiet /forcerestart");
        auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
        EXPECT_TRUE(HasLineWith(lines, L"재시작 안내에 사용자 대신 '예'로 응답하였습니다."));
        EXPECT_EQ(HasLineWith(lines, L"재시작 요청이 거부되었습니다."), !accepted);
    }
}

TEST(UnattendedRun, ResumedRunWhoseRemovalFailsAgainDoesNotRestartOnceMore) {
    RepairRunScope scope;
    CommandLineScope commandLine(L"--start /quiet /forcerestart");
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairDlg dialog;
    dialog.commandLine = L"OrlynRepair.exe --start /quiet /forcerestart";
    dialog.phase = RemovalFailsThenRestarts;
    EXPECT_EQ(RunLikeTheApplication(dialog), run_result::kRestartRequired);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(calls.RestartCount(), 0);
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + ResumedProgramPath() + L"\" --start /quiet /forcerestart");
}

TEST(UnattendedRun, FailedPhaseIsNotRetriedAndEnds1603) {
    RepairRunScope scope;
    CommandLineScope commandLine(L"/quiet");
    ScriptedMessageBoxes boxes;
    ScriptedRepairDlg dialog;
    dialog.phase = [](ScriptedRepairDlg&, int state, int) { return state != COrlynRepairDlg::kStateCheck; };
    EXPECT_EQ(RunLikeTheApplication(dialog), run_result::kFatalError);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1}));
    EXPECT_EQ(dialog.sequenceState, COrlynRepairDlg::kStateFailure);
    auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
    EXPECT_TRUE(HasLineWith(lines, L"다시 시도하지 않습니다. (기존 모듈을 확인하는 중에 에러가 발생하였습니다.)"));
}

TEST(UnattendedRun, InitialisationErrorIsLoggedWithoutABoxEnds1603AndReachesTheLogCopy) {
    RepairRunScope scope;
    testing_support::TempDir dir(L"logcopy");
    std::wstring copy = dir / L"init.log";
    CommandLineScope commandLine(L"/passive /log " + copy);
    ScriptedMessageBoxes boxes;
    ScriptedRepairDlg dialog;
    dialog.failingInitStep = 2;
    EXPECT_EQ(RunLikeTheApplication(dialog), run_result::kFatalError);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Deleted);
    EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    auto lines = testing_support::ReadLogMessages(copy);
    EXPECT_TRUE(HasLineWith(lines, L"초기화 에러를 표시하지 않고 종료합니다. (초기화 에러 #2 : 설치 파일 목록 리스트 파일에 "
                                   L"문제가 있습니다. temp folder)"));
}

TEST(UnattendedRun, UsageAndUnknownSwitchesDoNothingElse) {
    struct Case {
        const wchar_t* commandLine;
        int exitCode;
        bool box;
        std::wstring text;
        UINT icon;
    } cases[] = {
        {L"/?", 0, true, usage_text::kUsage, MB_ICONINFORMATION},
        {L"-Help /passive", 0, true, usage_text::kUsage, MB_ICONINFORMATION},
        {L"/quiet /?", 0, false, L"", 0},
        {L"/silent", 87, true, orlyn::FormatString(usage_text::kUnknownSwitch, L"/silent") + usage_text::kUsage,
         MB_ICONERROR},
        {L"/passive /log", 87, true, orlyn::FormatString(usage_text::kUnknownSwitch, L"/log") + usage_text::kUsage,
         MB_ICONERROR},
        {L"/quiet --start /bogus", 87, false, L"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.commandLine));
        RepairRunScope scope(false);
        ScriptedMessageBoxes boxes;
        COrlynRepairApp app;
        app.commandLine = c.commandLine;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitInstance(), c.exitCode);
        auto shown = boxes.Calls();
        ASSERT_EQ(shown.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(shown[0].text, c.text);
            EXPECT_EQ(shown[0].caption, repair_text::kProgramTitle);
            EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK) | c.icon);
            EXPECT_EQ(shown[0].owner, nullptr);
        }
        // Nothing else: no registry key name set, no dialog, no log.
        EXPECT_STREQ(app.RegistryKey(), L"");
        EXPECT_EQ(app.mainWindow, nullptr);
        EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
        unattended::Reset();
    }
}

TEST(UnattendedRun, DeclinedStartEnds1602) {
    RepairRunScope scope(false);
    ScriptedMessageBoxes boxes({IDCANCEL});
    COrlynRepairApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), run_result::kUserCancelled);
    EXPECT_EQ(boxes.Count(), 1u);
}
