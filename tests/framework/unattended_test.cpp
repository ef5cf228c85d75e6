// How a run answers its prompts: the person in an interactive run, fixed answers and log lines in an
// unattended one.
#include <gtest/gtest.h>

#include <mutex>

#include "framework/unattended.h"
#include "support/test_support.h"

namespace {

// Sets the run's settings for the scope and collects the answered lines.
class UnattendedScope {
public:
    explicit UnattendedScope(RunMode mode, bool forceRestart = false, bool withLog = true) {
        unattended::Settings settings;
        settings.mode = mode;
        settings.forceRestart = forceRestart;
        unattended::Configure(settings);
        if (withLog) Attach();
    }
    ~UnattendedScope() { unattended::Reset(); }
    void Attach() {
        unattended::SetAnswerLog([this](const wchar_t* line) {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.push_back(line);
        });
    }
    std::vector<std::wstring> Lines() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::wstring> lines_;
};

const wchar_t kTitle[] = L"오를린 에러복구 프로그램";

}  // namespace

TEST(Unattended, InteractiveRunAsksThePersonAndLogsNothing) {
    UnattendedScope scope(RunMode::Interactive);
    testing_support::ScriptedMessageBoxes boxes({IDCANCEL, IDNO});
    HWND owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(unattended::AskPerson(Prompt::StartConfirmation, nullptr, L"start?", kTitle, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(unattended::AskPerson(Prompt::RestartOffer, owner, L"restart?", kTitle, MB_YESNO | MB_ICONQUESTION),
              IDNO);
    auto calls = boxes.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].owner, owner);
    EXPECT_EQ(calls[1].text, L"restart?");
    EXPECT_EQ(calls[1].caption, kTitle);
    EXPECT_EQ(calls[1].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(scope.Lines().empty());
    EXPECT_FALSE(unattended::IsUnattended());
    EXPECT_TRUE(unattended::ShowsWindows());
    EXPECT_TRUE(unattended::RequestsRestartItself());
}

TEST(Unattended, EveryPromptGetsItsFixedAnswerAndALineWithoutABox) {
    struct Case {
        Prompt prompt;
        bool forceRestart;
        const wchar_t* text;
        int answer;
        std::wstring line;
    } cases[] = {
        {Prompt::StartConfirmation, false, L"start?", IDOK,
         L"OK\t무인 복구 : 시작 확인에 사용자 대신 '확인'으로 응답하였습니다.\n"},
        {Prompt::InitialisationError, false, L"초기화 에러 #2 : 문제가 있습니다.\r\n\r\ntemp folder", IDOK,
         L"Error\t무인 복구 : 초기화 에러를 표시하지 않고 종료합니다. (초기화 에러 #2 : 문제가 있습니다. temp folder)\n"},
        {Prompt::FileHolderNotice, false,
         L"TslUpdater.exe(Updater)\r\nB.exe\r\n프로그램이\r\nC:\\a\\update.lock 를 사용하고 있습니다.\r\n\r\n"
         L"해당 프로그램을 종료하겠습니다.\r\n",
         IDOK,
         L"OK\t무인 복구 : 종료 알림을 표시하지 않고 프로그램을 종료합니다. (TslUpdater.exe(Updater) B.exe 프로그램이 "
         L"C:\\a\\update.lock 를 사용하고 있습니다.)\n"},
        {Prompt::ReachabilityWarning, false, L"server?", IDOK, L"OK\t무인 복구 : 서버 접속 경고를 표시하지 않았습니다.\n"},
        {Prompt::RegistrationFailure, false, L"Execute RegSvr32(64bit) Failed! (error code=2)\r\n", IDOK,
         L"Error\t무인 복구 : 등록 실패 메시지를 표시하지 않았습니다. (Execute RegSvr32(64bit) Failed! (error code=2))\n"},
        {Prompt::RestartOffer, false, L"\r\nrestart?", IDYES,
         L"OK\t무인 복구 : 재시작 안내를 표시하지 않았습니다. 지금 재시작하지 않으며, 다음 재시작 후 복구를 이어서 "
         L"진행합니다.\n"},
        {Prompt::RestartOffer, true, L"\r\nrestart?", IDYES,
         L"OK\t무인 복구 : 재시작 안내에 사용자 대신 '예'로 응답하였습니다. 컴퓨터를 재시작합니다.\n"},
        {Prompt::HostsWarning, false, L"hosts", IDOK, L"OK\t무인 복구 : hosts 파일 경고를 표시하지 않았습니다.\n"},
        {Prompt::RepairSucceeded, false, L"success", IDNO,
         L"OK\t무인 복구 : 복구 성공 메시지에 사용자 대신 '아니요'로 응답하였습니다. 홈페이지를 열지 않습니다.\n"},
        {Prompt::PhaseFailed, false,
         L"기존 모듈을 삭제하는 중에 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 "
         L"종료됩니다.",
         IDCANCEL,
         L"Error\t무인 복구 : 실패 메시지에 사용자 대신 '취소'로 응답하였습니다. 다시 시도하지 않습니다. (기존 모듈을 "
         L"삭제하는 중에 에러가 발생하였습니다.)\n"},
    };
    for (RunMode mode : {RunMode::Passive, RunMode::Quiet}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << ", prompt "
                                            << static_cast<int>(c.prompt) << ", force " << c.forceRestart);
            UnattendedScope scope(mode, c.forceRestart);
            testing_support::ScriptedMessageBoxes boxes;
            EXPECT_EQ(unattended::AskPerson(c.prompt, nullptr, c.text, kTitle, MB_OK), c.answer);
            EXPECT_EQ(boxes.Count(), 0u);
            EXPECT_EQ(scope.Lines(), std::vector<std::wstring>{c.line});
            EXPECT_EQ(unattended::RequestsRestartItself(), c.forceRestart);
            EXPECT_EQ(unattended::ShowsWindows(), mode == RunMode::Passive);
        }
    }
}

TEST(Unattended, LinesAnsweredBeforeTheLogIsOpenWaitAndComeFirstInOrder) {
    UnattendedScope scope(RunMode::Quiet, false, false);
    EXPECT_EQ(unattended::AskPerson(Prompt::StartConfirmation, nullptr, L"start?", kTitle, MB_OKCANCEL), IDOK);
    EXPECT_EQ(unattended::AskPerson(Prompt::HostsWarning, nullptr, L"hosts", kTitle, MB_OK), IDOK);
    EXPECT_TRUE(scope.Lines().empty());
    scope.Attach();
    unattended::AskPerson(Prompt::ReachabilityWarning, nullptr, L"server?", kTitle, MB_OK);
    auto lines = scope.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(L"시작 확인"), std::wstring::npos);
    EXPECT_NE(lines[1].find(L"hosts"), std::wstring::npos);
    EXPECT_NE(lines[2].find(L"서버 접속"), std::wstring::npos);
    // A new run's settings drop what an earlier run left waiting.
    unattended::SetAnswerLog(nullptr);
    unattended::AskPerson(Prompt::HostsWarning, nullptr, L"hosts", kTitle, MB_OK);
    unattended::Configure(unattended::Settings{RunMode::Quiet, false, L"", L""});
    scope.Attach();
    EXPECT_EQ(scope.Lines().size(), 3u);
}

TEST(Unattended, RestartStartedIsRecordedUntilTheNextRunIsConfigured) {
    UnattendedScope scope(RunMode::Quiet, true);
    EXPECT_FALSE(unattended::RestartStarted());
    unattended::NoteRestartStarted();
    EXPECT_TRUE(unattended::RestartStarted());
    unattended::Configure(unattended::Settings{});
    EXPECT_FALSE(unattended::RestartStarted());
}

TEST(Unattended, FoldLinesJoinsLinesWithOneBlank) {
    EXPECT_EQ(unattended::FoldLines(L""), L"");
    EXPECT_EQ(unattended::FoldLines(nullptr), L"");
    EXPECT_EQ(unattended::FoldLines(L"\r\n\r\na\r\n\r\nb \r\nc\r\n"), L"a b c");
    EXPECT_EQ(unattended::FoldLines(L"one line"), L"one line");
}
