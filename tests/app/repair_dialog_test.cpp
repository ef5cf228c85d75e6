// The repair dialog run for real (native page, Wine + Xvfb) with scripted phase results.
#include <gtest/gtest.h>

#include "app/protected_files.h"
#include "app/progress_math.h"
#include "app/repair_texts.h"
#include "app/resume_entry.h"
#include "build_settings.h"
#include "common/string_format.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

using app_tests::RemovalFailsThenRestarts;
using app_tests::RepairRunScope;
using app_tests::ScriptedRepairDlg;
using testing_support::ReadLogMessages;
using testing_support::RecordedSystemCalls;
using testing_support::ScriptedMessageBoxes;

namespace {

INT_PTR RunDialog(ScriptedRepairDlg& dialog) {
    INT_PTR result = dialog.DoModal();
    EXPECT_FALSE(dialog.TimedOut()) << "the dialog hung and was ended by the watchdog";
    return result;
}

// The sequence's timers in the order they fired, without the periodic ones.
std::vector<UINT_PTR> ChainTimers(const ScriptedRepairDlg& dialog) {
    std::vector<UINT_PTR> chain;
    for (UINT_PTR id : dialog.TimersSeen()) {
        if (id >= 100 && id <= 110) chain.push_back(id);
    }
    return chain;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void Click(HWND hwnd, const RECT& rect) {
    LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

}  // namespace

TEST(RepairDialog, NormalRunReachesFinalStateArchivesLogAndRemovesResumeEntry) {
    RepairRunScope scope;
    ASSERT_EQ(resume_entry::WriteResumeEntry(L"C:\\Program Files\\Orlyn Repair\\OrlynRepair.exe"), ERROR_SUCCESS);
    ScriptedMessageBoxes boxes({IDYES});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    std::vector<CRepairContext::Progress> atStart;
    std::vector<long> barAtStart;
    std::mutex mutex;
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int) {
        long width = -1;
        d.RunOnDialogThread([&] { width = d.GetElementWidth(L"progress_bar_percent"); }, true);
        std::lock_guard<std::mutex> guard(mutex);
        atStart.push_back(d.ReadProgress());
        barAtStart.push_back(width);
        d.BeginPhaseItems(state == COrlynRepairDlg::kStateRemoval ? 201 : 4);
        for (int i = 0; i < 4; ++i) d.AddPhaseItemDone();
        if (state == COrlynRepairDlg::kStateCache) d.CompletePhaseItems();
        return true;
    };
    RunDialog(dialog);

    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{101, 102, 103, 104, 105, 107, 108, 109}));
    ASSERT_EQ(atStart.size(), 4u);
    EXPECT_EQ(atStart[0].phaseCount, 3u);
    EXPECT_EQ(atStart[0].phasesDone, 0u);
    EXPECT_EQ(atStart[1].phasesDone, 1u);
    EXPECT_EQ(atStart[1].phaseItemsDone, 0u);
    EXPECT_EQ(atStart[3].phasesDone, 2u);
    // The bar starts at 1 pixel; the redraw runs between a phase's end and the next state's start.
    EXPECT_EQ(barAtStart[0], 1);
    EXPECT_EQ(barAtStart[1], 102);
    EXPECT_EQ(barAtStart[3], 204);

    auto shown = boxes.Calls();
    ASSERT_EQ(shown.size(), 1u);  // no hosts warning: the prefix's hosts file names none of our domains
    EXPECT_EQ(shown[0].text, repair_text::kRepairSucceeded);
    EXPECT_EQ(shown[0].caption, repair_text::kProgramTitle);
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(shown[0].owner, dialog.Window());
    EXPECT_EQ(calls.OpenedPages(), (std::vector<std::wstring>{ORLYN_HOME_PAGE}));

    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Moved);
    EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    EXPECT_TRUE(testing_support::FileExists(app_tests::ArchivedLogPath()));
    std::wstring command;
    EXPECT_FALSE(resume_entry::ReadResumeEntry(command)) << "left: " << orlyn::ToUtf8(command);
}

TEST(RepairDialog, SuccessDoesNotReplaceAnArchivedLogOfAnEarlierRun) {
    RepairRunScope scope;
    ASSERT_TRUE(testing_support::WriteFileText(app_tests::ArchivedLogPath(), L"earlier run"));
    ScriptedMessageBoxes boxes({IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    RunDialog(dialog);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
    EXPECT_TRUE(testing_support::FileExists(app_tests::DesktopLogPath()));
    EXPECT_EQ(testing_support::ReadFileBytes(app_tests::ArchivedLogPath()), "earlier run");
    EXPECT_TRUE(calls.OpenedPages().empty());
}

TEST(RepairDialog, FailedPhaseNamesItInTheFailurePromptAndCancelLeavesTheLog) {
    struct Case {
        int failingState;
        std::deque<int> answers;
        std::vector<int> phases;
        const wchar_t* phrase;
        std::vector<UINT_PTR> timers;
    } cases[] = {
        {1, {IDCANCEL}, {1}, repair_text::kFailureWhileChecking, {101, 110}},
        {2, {IDNO, IDCANCEL}, {1, 2}, repair_text::kFailureWhileRemoving, {101, 102, 103, 110}},
        {5, {IDCANCEL}, {1, 2, 3, 5}, repair_text::kFailureWhileInstalling, {101, 102, 103, 104, 105, 107, 110}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing state " << c.failingState);
        RepairRunScope scope;
        ScriptedMessageBoxes boxes(c.answers);
        RecordedSystemCalls calls;
        ScriptedRepairDlg dialog;
        dialog.phase = [&](ScriptedRepairDlg&, int state, int) { return state != c.failingState; };
        RunDialog(dialog);

        EXPECT_EQ(dialog.PhasesRun(), c.phases);
        EXPECT_EQ(ChainTimers(dialog), c.timers);
        auto shown = boxes.Calls();
        ASSERT_EQ(shown.size(), c.answers.size());
        if (c.failingState == 2) {
            EXPECT_EQ(shown[0].text, repair_text::kRestartPrompt);
            EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
            EXPECT_EQ(shown[0].owner, dialog.Window());
        }
        EXPECT_EQ(shown.back().text, orlyn::FormatString(repair_text::kFailurePrompt, c.phrase));
        EXPECT_EQ(shown.back().flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION));
        EXPECT_EQ(shown.back().caption, repair_text::kProgramTitle);
        EXPECT_EQ(calls.RestartCount(), 0);
        EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
        EXPECT_TRUE(testing_support::FileExists(app_tests::DesktopLogPath()));
    }
}

TEST(RepairDialog, RetryResetsTheCountersAndRunsTheWholeChainAgain) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDOK, IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    CRepairContext::Progress atRetry{};
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int previousRuns) {
        if (state != COrlynRepairDlg::kStateCheck) return true;
        if (previousRuns == 0) {
            d.BeginPhaseItems(5);
            for (int i = 0; i < 3; ++i) d.AddPhaseItemDone();
            return false;
        }
        atRetry = d.ReadProgress();
        return true;
    };
    RunDialog(dialog);

    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 1, 2, 3, 5}));
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{101, 110, 101, 102, 103, 104, 105, 107, 108, 109}));
    EXPECT_EQ(atRetry.phaseCount, 3u);
    EXPECT_EQ(atRetry.phasesDone, 0u);
    EXPECT_EQ(atRetry.phaseItemCount, 1u);
    EXPECT_EQ(atRetry.phaseItemsDone, 0u);
    ASSERT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Calls()[1].text, repair_text::kRepairSucceeded);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Moved);
}

TEST(RepairDialog, RemovalFailureWithRestartAcceptedWritesTheResumeEntryAndCloses) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDYES});
    RecordedSystemCalls calls(TRUE);
    ScriptedRepairDlg dialog;
    dialog.phase = RemovalFailsThenRestarts;
    RunDialog(dialog);

    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{101, 102, 103, 106}));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Calls()[0].text, repair_text::kRestartPrompt);
    EXPECT_EQ(calls.RestartCount(), 1);
    EXPECT_EQ(calls.LastRestartFlags(), static_cast<UINT>(EWX_REBOOT | EWX_FORCE));
    EXPECT_EQ(calls.LastRestartReason(), static_cast<DWORD>(SHTDN_REASON_MAJOR_APPLICATION |
                                                            SHTDN_REASON_MINOR_INSTALLATION |
                                                            SHTDN_REASON_FLAG_PLANNED));
    // The entry starts this program's copy in the protected folder.
    std::wstring copy =
        protected_files::FilePath(protected_files::AllUsersAppDataFolder(), protected_files::kResumeCopyName);
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + copy + L"\" --start");
    EXPECT_EQ(dialog.sequenceState, COrlynRepairDlg::kStateRestart);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
}

TEST(RepairDialog, RefusedRestartLeavesTheDialogOpenInTheRestartState) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDYES});
    RecordedSystemCalls calls(FALSE);
    ScriptedRepairDlg dialog;
    bool closingAfterRefusal = true;
    int stateAfterRefusal = -1;
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int) {
        if (state != COrlynRepairDlg::kStateRestart) return state != COrlynRepairDlg::kStateRemoval;
        d.RebootAndResume();
        // Posted after anything RebootAndResume posted: a close request would be served first.
        d.RunOnDialogThread(
            [&d, &closingAfterRefusal, &stateAfterRefusal] {
                closingAfterRefusal = d.IsClosing();
                stateAfterRefusal = d.sequenceState;
                ::PostMessageW(d.Window(), WM_CLOSE, 0, 0);
            },
            false);
        return true;
    };
    RunDialog(dialog);
    EXPECT_EQ(calls.RestartCount(), 1);
    EXPECT_FALSE(closingAfterRefusal);
    EXPECT_EQ(stateAfterRefusal, COrlynRepairDlg::kStateRestart);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
}

TEST(RepairDialog, ResumedStartDuringTheRunningChainStartsNoSecondChain) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    dialog.commandLine = L"\"C:\\Program Files\\Orlyn Repair\\OrlynRepair.exe\" --start";
    bool timer100Fired = false;
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int) {
        // Hold the check until timer 100 has run its start, so a second chain would enter state 1 again.
        if (state == COrlynRepairDlg::kStateCheck)
            timer100Fired = ::WaitForSingleObject(d.timer100Handled, 10000) == WAIT_OBJECT_0;
        return true;
    };
    RunDialog(dialog);
    EXPECT_TRUE(timer100Fired);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{101, 100, 102, 103, 104, 105, 107, 108, 109}));
}

// A resumed start whose page finishes loading only while the run's last prompt is up (a slow page, or a
// browser that never completes and gives way to the native page after its time-out): timer 100 then
// fires inside that prompt and must not start the chain again behind it.
TEST(RepairDialog, ResumedStartWhosePageCompletesDuringTheLastPromptStartsNothing) {
    struct Case {
        const char* name;
        int failingState;
        const wchar_t* prompt;
        int answer;
        std::vector<int> phases;
        std::vector<UINT_PTR> timers;
        int finalState;
        LogDisposition log;
    } cases[] = {
        {"failure prompt, cancelled", 1, L"기존 모듈을 확인하는 중에 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.",
         IDCANCEL, {1}, {101, 100, 110}, COrlynRepairDlg::kStateFailure, LogDisposition::Left},
        {"success prompt", 0, L"복구에 성공했습니다!\r\n오를린 홈페이지로 이동할까요?", IDNO, {1, 2, 3, 5},
         {101, 102, 103, 104, 105, 107, 108, 100, 109}, COrlynRepairDlg::kStateFinal, LogDisposition::Moved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RepairRunScope scope;
        RecordedSystemCalls calls;
        ScriptedRepairDlg dialog;
        dialog.commandLine = L"\"C:\\Program Files\\Orlyn Repair\\OrlynRepair.exe\" --start";
        dialog.latePage = true;
        dialog.phase = [&c](ScriptedRepairDlg&, int state, int) { return state != c.failingState; };
        int prompts = 0;
        seams::SetMessageBoxHandler([&](const seams::MessageBoxCall& call) {
            ++prompts;
            EXPECT_EQ(call.text, c.prompt);
            dialog.CompleteDocument();  // on the dialog thread, as the page's notification comes
            return c.answer;
        });
        seams::SetMessageBoxHoldTime(1000);
        RunDialog(dialog);
        seams::SetMessageBoxHandler(nullptr);

        EXPECT_EQ(prompts, 1);
        EXPECT_EQ(dialog.PhasesRun(), c.phases);
        EXPECT_EQ(ChainTimers(dialog), c.timers);  // a timer is listed when its handling, prompt and all, ends
        EXPECT_EQ(dialog.sequenceState, c.finalState);
        EXPECT_EQ(dialog.LastLogDisposition(), c.log);
    }
}

TEST(RepairDialog, WithoutStartArgumentTimer100NeverRuns) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    dialog.commandLine = L"\"C:\\Orlyn\\OrlynRepair.exe\" --star";
    RunDialog(dialog);
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{101, 102, 103, 104, 105, 107, 108, 109}));
}

TEST(RepairDialog, CloseDuringAPhaseWaitsForTheWorkerAndIgnoresItsResult) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    bool closeSeen = false, logOpenDuringClose = false;
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int) {
        if (state != COrlynRepairDlg::kStateCheck) return true;
        ::PostMessageW(d.Window(), WM_CLOSE, 0, 0);
        closeSeen = ::WaitForSingleObject(d.closeSeen, 10000) == WAIT_OBJECT_0;
        // A close that did not wait for this worker would close the log now: give it the chance.
        logOpenDuringClose = !testing_support::WaitUntil([&d] { return !d.IsLogOpen(); }, 300);
        d.WriteLog(L"late context entry\n");
        d.logHandle.WriteLog(L"late handle entry\n");
        return false;  // would lead to the failure prompt if the close did not win
    };
    RunDialog(dialog);

    EXPECT_TRUE(closeSeen);
    EXPECT_TRUE(logOpenDuringClose);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1}));
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
    auto before = ReadLogMessages(app_tests::DesktopLogPath());
    EXPECT_TRUE(Contains(before, L"late context entry"));
    EXPECT_TRUE(Contains(before, L"late handle entry"));
    // After close both writers write nothing.
    dialog.WriteLog(L"after close\n");
    dialog.logHandle.WriteLog(L"after close\n");
    EXPECT_EQ(ReadLogMessages(app_tests::DesktopLogPath()), before);
}

// The error box stays up longer than timer 100's and timer 101's delays together, and the page's
// document-complete notification arrives while it is up: with --start that is where a chain could be
// armed. Whatever arrives and however long the box stays, nothing may start.
TEST(RepairDialog, InitialisationErrorsShowTheirTextNeverStartAndDeleteTheLog) {
    struct Case {
        int step;
        const wchar_t* commandLine;
        std::wstring text;
    };
    const wchar_t* plain = L"\"C:\\Program Files\\Orlyn Repair\\OrlynRepair.exe\"";
    const wchar_t* resumed = L"\"C:\\Program Files\\Orlyn Repair\\OrlynRepair.exe\" --start";
    const std::wstring texts[] = {
        L"초기화 에러 #1 : 삭제 목록을 얻어오는데 실패하였습니다.",
        L"초기화 에러 #2 : 설치 파일 목록 리스트 파일에 문제가 있습니다.\r\n\r\ntemp folder",
        L"초기화 에러 #3 : 설치 파일 목록을 얻어오는데 실패하였습니다.\r\n\r\nmanifest line 3",
        L"초기화 에러 #4 : 설치할 파일이 존재하지 않습니다.",
    };
    std::vector<Case> cases;
    for (int step = 1; step <= 4; ++step) {
        cases.push_back({step, plain, texts[step - 1]});
        cases.push_back({step, resumed, texts[step - 1]});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "init step " << c.step << ", command line " << orlyn::ToUtf8(c.commandLine));
        RepairRunScope scope;
        ScriptedRepairDlg dialog;
        dialog.failingInitStep = c.step;
        dialog.commandLine = c.commandLine;
        ScriptedMessageBoxes boxes;
        seams::SetMessageBoxHoldTime(1000);
        RunDialog(dialog);

        auto shown = boxes.Calls();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, c.text);
        EXPECT_EQ(shown[0].caption, L"오를린 에러복구 프로그램");
        EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
        EXPECT_EQ(shown[0].owner, dialog.Window());
        EXPECT_TRUE(dialog.IsDocumentComplete()) << "the page's notification did not come while the box was up";
        EXPECT_TRUE(dialog.PhasesRun().empty());
        EXPECT_TRUE(ChainTimers(dialog).empty());
        EXPECT_EQ(dialog.sequenceStarted, 0);
        EXPECT_FALSE(dialog.IsChainRunning());
        std::wstring command;
        EXPECT_FALSE(resume_entry::ReadResumeEntry(command)) << "left: " << orlyn::ToUtf8(command);
        EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Deleted);
        EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    }
}

// Whatever asks for the chain while the error box is up, a timer 100 of a resumed start or a direct call,
// is refused.
TEST(RepairDialog, AfterAnInitialisationErrorTheChainCannotBeStarted) {
    RepairRunScope scope;
    ScriptedRepairDlg dialog;
    dialog.failingInitStep = 2;
    bool startRefused = false, logExistedAtError = false;
    seams::SetMessageBoxHandler([&](const seams::MessageBoxCall&) {
        logExistedAtError = testing_support::FileExists(app_tests::DesktopLogPath());
        startRefused = !dialog.StartSequenceTimers();
        dialog.ArmTimer(COrlynRepairDlg::kTimerEnterCheck, 10);
        ::PostMessageW(dialog.Window(), WM_TIMER, COrlynRepairDlg::kTimerResumeStart, 0);
        return IDOK;
    });
    RunDialog(dialog);
    seams::SetMessageBoxHandler(nullptr);
    EXPECT_TRUE(logExistedAtError);
    EXPECT_TRUE(startRefused);
    EXPECT_TRUE(dialog.PhasesRun().empty());
    EXPECT_EQ(ChainTimers(dialog), (std::vector<UINT_PTR>{100}));
    EXPECT_EQ(dialog.sequenceStarted, 0);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Deleted);
    EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
}

TEST(RepairDialog, EscapeAndEnterDoNotEndTheDialog) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    dialog.phase = [](ScriptedRepairDlg& d, int state, int) {
        if (state == COrlynRepairDlg::kStateCheck) {
            // Served before the phase's result timer, which is posted after them.
            for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
                ::PostMessageW(d.Window(), WM_KEYDOWN, key, 1);
                ::PostMessageW(d.Window(), WM_KEYUP, key, 0xC0000001);
            }
        }
        return true;
    };
    RunDialog(dialog);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2, 3, 5}));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Calls()[0].text, repair_text::kRepairSucceeded);
}

TEST(RepairDialog, PlacesTitlesDragsAndMinimisesTheWindow) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes({IDNO});
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    RECT placed{}, workArea{};
    wchar_t title[128] = {};
    LRESULT dragIcon = 0;
    POINT afterDrag{}, afterNegativeDrag{}, afterRelease{};
    bool capturedOnPress = false, capturedAfterRelease = true, iconic = false, capturedAfterRightButton = true;
    POINT start{};
    dialog.phase = [&](ScriptedRepairDlg& d, int state, int) {
        if (state != COrlynRepairDlg::kStateCheck) return true;
        d.RunOnDialogThread(
            [&] {
                HWND hwnd = d.Window();
                ::GetWindowRect(hwnd, &placed);
                ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
                ::GetWindowTextW(hwnd, title, 128);
                dragIcon = ::SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0);

                RECT logo{};
                ASSERT_TRUE(d.GetElementRect(L"global_section_logo", &logo));
                POINT press{(logo.left + logo.right) / 2, (logo.top + logo.bottom) / 2};
                POINT pressScreen = press;
                ::ClientToScreen(hwnd, &pressScreen);
                ::SetCursorPos(pressScreen.x, pressScreen.y);
                start = POINT{placed.left, placed.top};
                ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
                capturedOnPress = ::GetCapture() == hwnd;
                ::SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(press.x + 40, press.y + 25));
                RECT r;
                ::GetWindowRect(hwnd, &r);
                afterDrag = POINT{r.left, r.top};
                // Client coordinates left of and above the window (the capture delivers them negative).
                ::SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON,
                               MAKELPARAM(static_cast<WORD>(static_cast<short>(press.x - 60)),
                                          static_cast<WORD>(static_cast<short>(-10))));
                ::GetWindowRect(hwnd, &r);
                afterNegativeDrag = POINT{r.left, r.top};
                ::SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(press.x, press.y));
                capturedAfterRelease = ::GetCapture() == hwnd;
                ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(press.x + 90, press.y + 90));
                ::GetWindowRect(hwnd, &r);
                afterRelease = POINT{r.left, r.top};

                RECT minimize{};
                ASSERT_TRUE(d.GetElementRect(L"button_minimize", &minimize));
                Click(hwnd, minimize);
                iconic = ::IsIconic(hwnd) != FALSE;
                // Minimised, the dialog paints its icon itself. (RedrawWindow brought no WM_PAINT to the
                // minimised window under Wine without a window manager, so the message is sent here.)
                ::SendMessageW(hwnd, WM_PAINT, 0, 0);
                ::ShowWindow(hwnd, SW_RESTORE);
                // A drag that the right button ends: its release is taken before it reaches the page.
                ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
            },
            true);
        ::PostMessageW(d.Window(), WM_RBUTTONUP, 0, 0);
        d.RunOnDialogThread([&] { capturedAfterRightButton = ::GetCapture() == d.Window(); }, false);
        return true;
    };
    RunDialog(dialog);

    POINT expected = progress_math::CenteredOrigin(workArea);
    EXPECT_EQ(placed.left, expected.x);
    EXPECT_EQ(placed.top, expected.y);
    EXPECT_EQ(placed.right - placed.left, 500);
    EXPECT_EQ(placed.bottom - placed.top, 233);
    EXPECT_STREQ(title, repair_text::kProgramTitle);
    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(dialog.applicationIcon));
    EXPECT_NE(dialog.applicationIcon, nullptr);
    EXPECT_TRUE(capturedOnPress);
    EXPECT_EQ(afterDrag.x, start.x + 40);
    EXPECT_EQ(afterDrag.y, start.y + 25);
    EXPECT_EQ(afterNegativeDrag.x, afterDrag.x - 60);
    EXPECT_LT(afterNegativeDrag.y, afterDrag.y);
    EXPECT_FALSE(capturedAfterRelease);
    EXPECT_EQ(afterRelease.x, afterNegativeDrag.x);
    EXPECT_EQ(afterRelease.y, afterNegativeDrag.y);
    EXPECT_TRUE(iconic);
    EXPECT_GE(dialog.iconErasesSeen, 1);
    EXPECT_FALSE(capturedAfterRightButton);
    EXPECT_EQ(dialog.rightButtonUpsSeen, 0);
}

TEST(RepairDialog, ExitButtonDuringAPhaseClosesWithoutTheHomePage) {
    RepairRunScope scope;
    ScriptedMessageBoxes boxes;
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    dialog.phase = [](ScriptedRepairDlg& d, int state, int) {
        if (state == COrlynRepairDlg::kStateRemoval) {
            d.RunOnDialogThread(
                [&d] {
                    RECT exit{};
                    if (d.GetElementRect(L"button_exit", &exit)) Click(d.Window(), exit);
                },
                false);
        }
        return true;
    };
    RunDialog(dialog);
    EXPECT_EQ(dialog.PhasesRun(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(calls.OpenedPages().empty());
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Left);
}

TEST(RepairDialog, ExitButtonInTheFinalStateOpensTheHomePageFirst) {
    RepairRunScope scope;
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    int prompts = 0;
    seams::SetMessageBoxHandler([&](const seams::MessageBoxCall& call) {
        ++prompts;
        if (call.text == repair_text::kRepairSucceeded) {
            RECT exit{};
            if (dialog.GetElementRect(L"button_exit", &exit)) Click(dialog.Window(), exit);
        }
        return IDNO;
    });
    RunDialog(dialog);
    seams::SetMessageBoxHandler(nullptr);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(calls.OpenedPages(), (std::vector<std::wstring>{ORLYN_HOME_PAGE}));
    EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Moved);
}

TEST(RepairDialog, FinalStateWarnsAboutRedirectedDomainsThenReportsSuccessOnTop) {
    RepairRunScope scope;
    testing_support::TempDir windows(L"win");
    std::wstring etc = windows / L"system32\\drivers\\etc";
    ASSERT_TRUE(testing_support::CreateFolders(etc));
    std::wstring redirected = std::wstring(L"10.1.2.3 www.") + ORLYN_WEB_DOMAIN_1;
    ASSERT_TRUE(testing_support::WriteFileText(etc + L"\\hosts", L"127.0.0.1 localhost\r\n" + redirected + L"\r\n"));
    RecordedSystemCalls calls;
    ScriptedRepairDlg dialog;
    dialog.windowsFolderOverride = windows.path();
    std::vector<seams::MessageBoxCall> shown;
    bool topmostAtSuccess = false;
    seams::SetMessageBoxHandler([&](const seams::MessageBoxCall& call) {
        shown.push_back(call);
        if (call.text == repair_text::kRepairSucceeded)
            topmostAtSuccess = (::GetWindowLongW(dialog.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        return call.text == repair_text::kRepairSucceeded ? IDNO : IDOK;
    });
    RunDialog(dialog);
    seams::SetMessageBoxHandler(nullptr);

    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, orlyn::FormatString(repair_text::kHostsWarning, (redirected + L"\r\n").c_str()));
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(shown[0].caption, repair_text::kProgramTitle);
    EXPECT_EQ(shown[1].text, repair_text::kRepairSucceeded);
    EXPECT_TRUE(topmostAtSuccess);
    EXPECT_TRUE(calls.OpenedPages().empty());
    ASSERT_EQ(dialog.LastLogDisposition(), LogDisposition::Moved);
    auto messages = ReadLogMessages(app_tests::ArchivedLogPath());
    EXPECT_TRUE(Contains(messages, L"Error\thosts 파일에 수정사항이 있습니다."));
    EXPECT_TRUE(Contains(messages, redirected));
}
