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
using app_tests::ScriptedRepairApp;
using app_tests::ScriptedRepairDlg;
using testing_support::RecordedSystemCalls;
using testing_support::ScriptedMessageBoxes;

namespace {

// Runs the real application object (its InitInstance, as wWinMain does) with this command line and a
// scripted dialog set up by setUp; returns the exit code. The run's settings are reset afterwards.
int ExitCodeOfRun(ScriptedRepairApp& app, const std::wstring& commandLine,
                   std::function<void(ScriptedRepairDlg&)> setUp = nullptr) {
    app.commandLine = commandLine.c_str();
    app.setUp = std::move(setUp);
    app.InitInstance();
    unattended::Reset();
    EXPECT_FALSE(app.timedOut) << "the dialog hung and was ended by the watchdog";
    return app.ExitInstance();
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
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls;
    bool anyVisible = false;
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"/quiet /log \"" + copy + L"\"", [&](ScriptedRepairDlg& dialog) {
        dialog.phase = [&](ScriptedRepairDlg& d, int, int) {
            d.RunOnDialogThread([&] { anyVisible = anyVisible || ::IsWindowVisible(d.Window()); }, true);
            return true;
        };
    });
    EXPECT_EQ(code, run_result::kSuccess);

    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_TRUE(calls.OpenedPages().empty());
    EXPECT_FALSE(anyVisible);
    EXPECT_EQ(app.phasesRun, (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(app.logDisposition, LogDisposition::Moved);
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
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"/passive", [](ScriptedRepairDlg& d) { d.phase = RemovalFailsThenRestarts; });
    EXPECT_EQ(code, run_result::kRestartRequired);

    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(calls.RestartCount(), 0);
    EXPECT_EQ(app.phasesRun, (std::vector<int>{1, 2, 4}));
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + ResumedProgramPath() + L"\" --start /passive /norestart");
    EXPECT_EQ(app.logDisposition, LogDisposition::Left);
    auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
    EXPECT_TRUE(HasLineWith(lines, L"재시작 안내를 표시하지 않았습니다."));
}

TEST(UnattendedRun, ForceRestartRequestsTheRestartAndEnds1641OrEnds3010WhenRefused) {
    for (BOOL accepted : {TRUE, FALSE}) {
        SCOPED_TRACE(accepted ? "accepted" : "refused");
        RepairRunScope scope;
        ScriptedMessageBoxes boxes;
        RecordedSystemCalls calls(accepted);
        ScriptedRepairApp app;
        // Refused, nobody is there to close the dialog: it closes itself (else the watchdog ends it).
        int code = ExitCodeOfRun(app, L"-QUIET -FORCERESTART",
                                 [](ScriptedRepairDlg& d) { d.phase = RemovalFailsThenRestarts; });
        EXPECT_EQ(code, accepted ? run_result::kRestartStarted : run_result::kRestartRequired);
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
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"--start /quiet /forcerestart", [](ScriptedRepairDlg& d) {
        d.commandLine = L"OrlynRepair.exe --start /quiet /forcerestart";
        d.phase = RemovalFailsThenRestarts;
    });
    EXPECT_EQ(code, run_result::kRestartRequired);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(calls.RestartCount(), 0);
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + ResumedProgramPath() + L"\" --start /quiet /forcerestart");
}

TEST(UnattendedRun, FailedPhaseIsNotRetriedAndEnds1603) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes;
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"/quiet", [](ScriptedRepairDlg& d) {
        d.phase = [](ScriptedRepairDlg&, int state, int) { return state != COrlynRepairDlg::kStateCheck; };
    });
    EXPECT_EQ(code, run_result::kFatalError);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(app.phasesRun, (std::vector<int>{1}));
    auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
    EXPECT_TRUE(HasLineWith(lines, L"다시 시도하지 않습니다. (기존 모듈을 확인하는 중에 에러가 발생하였습니다.)"));
}

TEST(UnattendedRun, InitialisationErrorIsLoggedWithoutABoxEnds1603AndReachesTheLogCopy) {
    RepairRunScope scope;
    testing_support::TempDir dir(L"logcopy");
    std::wstring copy = dir / L"init.log";
    ScriptedMessageBoxes boxes;
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"/passive /log " + copy, [](ScriptedRepairDlg& d) { d.failingInitStep = 2; });
    EXPECT_EQ(code, run_result::kFatalError);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(app.logDisposition, LogDisposition::Deleted);
    EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    auto lines = testing_support::ReadLogMessages(copy);
    EXPECT_TRUE(HasLineWith(lines, L"초기화 에러를 표시하지 않고 종료합니다. (초기화 에러 #2 : 설치 파일 목록 리스트 파일에 "
                                   L"문제가 있습니다. temp folder)"));
}

// The exit codes of an interactive run, read from the same application object: the person declines
// the start, closes the dialog during a phase, or gives up after a failure.
TEST(UnattendedRun, InteractiveRunEndsWithTheCodeOfWhatThePersonDid) {
    struct Case {
        const char* name;
        std::deque<int> answers;
        std::function<void(ScriptedRepairDlg&)> setUp;
        int code;
    } cases[] = {
        {"start declined", {IDCANCEL}, nullptr, run_result::kUserCancelled},
        {"dialog closed during the removal", {IDOK},
         [](ScriptedRepairDlg& d) {
             d.phase = [](ScriptedRepairDlg& self, int state, int) {
                 if (state == COrlynRepairDlg::kStateRemoval) self.PostCloseRequest();
                 return true;
             };
         },
         run_result::kUserCancelled},
        {"install failed, not retried", {IDOK, IDCANCEL},
         [](ScriptedRepairDlg& d) {
             d.phase = [](ScriptedRepairDlg&, int state, int) { return state != COrlynRepairDlg::kStateInstall; };
         },
         run_result::kFatalError},
        {"restart accepted", {IDOK, IDYES},
         [](ScriptedRepairDlg& d) { d.phase = RemovalFailsThenRestarts; }, run_result::kRestartStarted},
        {"repaired", {IDOK, IDNO}, nullptr, run_result::kSuccess},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        RepairRunScope scope;
        ScriptedMessageBoxes boxes(c.answers);
        RecordedSystemCalls calls(TRUE);
        ScriptedRepairApp app;
        EXPECT_EQ(ExitCodeOfRun(app, L"", c.setUp), c.code);
        EXPECT_EQ(app.dialogMade, true);
    }
}

// A run whose worker or timer cannot be started: an unattended run ends at once with 1603 and says why
// in its log (before, a quiet run whose restart worker failed never ended); an interactive one shows
// the failure prompt.
TEST(UnattendedRun, WorkerOrTimerThatCannotBeStartedEndsTheRunWith1603AndALogLine) {
    struct Case {
        const char* name;
        int failingWorkerState;
        UINT_PTR failingTimer;
        std::wstring line;
        std::vector<int> phasesRun;
    } cases[] = {
        {"check worker", COrlynRepairDlg::kStateCheck, 0, L"작업 스레드를 시작하지 못했습니다. (단계 1)", {}},
        {"cache worker", COrlynRepairDlg::kStateCache, 0, L"작업 스레드를 시작하지 못했습니다. (단계 3)", {1, 2}},
        {"restart worker", COrlynRepairDlg::kStateRestart, 0, L"작업 스레드를 시작하지 못했습니다. (단계 4)", {1, 2}},
        {"install worker", COrlynRepairDlg::kStateInstall, 0, L"작업 스레드를 시작하지 못했습니다. (단계 5)",
         {1, 2, 3}},
        {"first timer", 0, COrlynRepairDlg::kTimerEnterCheck, L"타이머를 시작하지 못했습니다. (타이머 101)", {}},
        {"timer after the check", 0, COrlynRepairDlg::kTimerEnterRemoval, L"타이머를 시작하지 못했습니다. (타이머 103)",
         {1}},
        {"timer armed by a worker", 0, COrlynRepairDlg::kTimerInstallDone, L"타이머를 시작하지 못했습니다. (타이머 108)",
         {1, 2, 3, 5}},
        {"redraw timer", 0, COrlynRepairDlg::kTimerRedraw, L"타이머를 시작하지 못했습니다. (타이머 112)", {}},
        {"bound timer", 0, COrlynRepairDlg::kTimerRunBound, L"타이머를 시작하지 못했습니다. (타이머 113)", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RepairRunScope scope;
        ScriptedMessageBoxes boxes;
        RecordedSystemCalls calls(TRUE);
        ScriptedRepairApp app;
        bool restartPhase = c.failingWorkerState == COrlynRepairDlg::kStateRestart;
        int code = ExitCodeOfRun(app, L"/quiet", [&](ScriptedRepairDlg& d) {
            d.failingWorkerState = c.failingWorkerState;
            d.failingTimer = c.failingTimer;
            if (restartPhase) d.phase = RemovalFailsThenRestarts;
        });
        EXPECT_EQ(code, run_result::kFatalError);
        EXPECT_EQ(boxes.Count(), 0u);
        EXPECT_EQ(app.phasesRun, c.phasesRun);
        EXPECT_EQ(app.logDisposition, LogDisposition::Left);
        auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
        EXPECT_TRUE(HasLineWith(lines, L"Error\t" + c.line));
        EXPECT_TRUE(HasLineWith(lines, L"무인 복구 : 복구를 계속할 수 없어 실패로 종료합니다."));
    }
    // With a person there, the failure prompt: the restart worker that cannot be started no longer
    // leaves the dialog waiting for nothing.
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDOK, IDYES, IDCANCEL});
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairApp app;
    int code = ExitCodeOfRun(app, L"", [](ScriptedRepairDlg& d) {
        d.failingWorkerState = COrlynRepairDlg::kStateRestart;
        d.phase = RemovalFailsThenRestarts;
    });
    EXPECT_EQ(code, run_result::kFatalError);
    auto shown = boxes.Calls();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].text, orlyn::FormatString(repair_text::kFailurePrompt, repair_text::kFailureUnknown));
}

// An unattended run that outlasts its bound ends as a failed run (log left on the desktop, the /log
// copy written, no RunOnce entry) with 1603, even when its worker never ends.
TEST(UnattendedRun, RunThatOutlastsItsBoundEndsAsAFailedRunWith1603) {
    for (bool workerEnds : {true, false}) {
        SCOPED_TRACE(workerEnds ? "the worker ends when asked" : "the worker never ends");
        RepairRunScope scope;
        testing_support::TempDir dir(L"logcopy");
        std::wstring copy = dir / L"bound.log";
        ScriptedMessageBoxes boxes;
        seams::SetUnattendedRunBound(1500);
        orlyn::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ScriptedRepairApp app;
        DWORD started = ::GetTickCount();
        int code = ExitCodeOfRun(app, L"/quiet /log \"" + copy + L"\"", [&](ScriptedRepairDlg& d) {
            d.phase = [&, workerEnds](ScriptedRepairDlg& self, int state, int) {
                if (state != COrlynRepairDlg::kStateInstall) return true;
                // Hangs (as a registration that never returns would) until the close, or for good.
                ::WaitForSingleObject(workerEnds ? self.closeSeen : release.get(), 60000);
                return true;
            };
        });
        DWORD took = ::GetTickCount() - started;
        seams::SetUnattendedRunBound(0);
        EXPECT_EQ(code, run_result::kFatalError);
        EXPECT_EQ(app.WorkerLeftRunning(), !workerEnds);
        EXPECT_LT(took, 1500u + COrlynRepairDlg::kCutShortWorkerWaitMs + 5000u);
        EXPECT_EQ(boxes.Count(), 0u);
        EXPECT_EQ(app.phasesRun, (std::vector<int>{1, 2, 3, 5}));
        EXPECT_EQ(app.logDisposition, LogDisposition::Left);
        auto lines = testing_support::ReadLogMessages(app_tests::DesktopLogPath());
        EXPECT_TRUE(HasLineWith(lines, L"Error\t무인 복구 : 제한 시간(1초) 안에 복구가 끝나지 않아 실패로 종료합니다. (단계 5)"));
        EXPECT_EQ(HasLineWith(lines, L"진행 중인 작업이 끝나지 않아 기다리지 않고 종료합니다."), !workerEnds);
        EXPECT_EQ(testing_support::ReadFileBytes(copy), testing_support::ReadFileBytes(app_tests::DesktopLogPath()));
        std::wstring command;
        EXPECT_FALSE(resume_entry::ReadResumeEntry(command));
        // The worker left running ends now; its dialog is the program's to leave (the process would
        // end here), so the test leaves it too.
        ::SetEvent(release.get());
        if (!workerEnds) ::Sleep(200);
    }
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
        // /quiet wins over /passive: no box, whichever comes first and wherever the error is.
        {L"/passive /bogus /quiet", 87, false, L"", 0},
        {L"-passive /? -quiet", 0, false, L"", 0},
        // A switch pasted with a look-alike dash is no switch the run may pass over.
        {L"\u2013quiet", 87, true,
         orlyn::FormatString(usage_text::kUnknownSwitch, L"\u2013quiet") + usage_text::kUsage, MB_ICONERROR},
        {L"/quiet \uFF0Fpassive", 87, false, L"", 0},
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
