// Every message box of the repair shell and the repair log's entry format, written out here byte for byte
// as the program must show and write them. They are deliberately not taken from the program's own
// constants: a typo in one of those must fail here.
#include <gtest/gtest.h>

#include <cctype>

#include "app/orlyn_repair_app.h"
#include "app/run_guard.h"
#include "build_settings.h"
#include "common/string_format.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

using app_tests::RepairRunScope;
using app_tests::ScriptedRepairDlg;
using testing_support::RecordedSystemCalls;
using testing_support::ScriptedMessageBoxes;

namespace {

struct Shown {
    std::vector<seams::MessageBoxCall> calls;
    HWND dialog = nullptr;
};

// Runs a scripted dialog after set-up, answering the boxes in order, and returns what it showed.
template <typename SetUp>
Shown RunDialogShowing(std::deque<int> answers, SetUp setUp, BOOL restartResult = TRUE) {
    RecordedSystemCalls system(restartResult);
    ScriptedMessageBoxes boxes(std::move(answers));
    ScriptedRepairDlg dialog;
    setUp(dialog);
    dialog.DoModal();
    EXPECT_FALSE(dialog.TimedOut());
    return Shown{boxes.Calls(), dialog.Window()};
}

Shown FailingAt(int state, std::deque<int> answers) {
    return RunDialogShowing(std::move(answers), [state](ScriptedRepairDlg& d) {
        d.phase = [state](ScriptedRepairDlg&, int s, int) { return s != state; };
    });
}

// A 19-character local timestamp "YYYY-MM-DD HH:MM:SS" and one tab.
bool IsTimestampAndTab(const std::string& s) {
    if (s.size() != 20) return false;
    for (size_t i = 0; i < 19; ++i) {
        char c = s[i];
        bool ok = (i == 4 || i == 7) ? c == '-' : i == 10 ? c == ' ' : (i == 13 || i == 16) ? c == ':' : isdigit(static_cast<unsigned char>(c)) != 0;
        if (!ok) return false;
    }
    return s[19] == '\t';
}

}  // namespace

TEST(ShownTexts, EveryMessageBoxOfTheRepairShellByteForByte) {
    RepairRunScope scope;
    const std::wstring title = L"오를린 에러복구 프로그램";

    // The start confirmation, before any window exists.
    std::vector<seams::MessageBoxCall> confirmation;
    {
        ScriptedMessageBoxes boxes({IDCANCEL});
        COrlynRepairApp app;
        app.InitInstance();
        confirmation = boxes.Calls();
    }
    // The stand-down of a second copy while another repairs (it holds the run mutex).
    std::vector<seams::MessageBoxCall> otherRunActive;
    {
        testing_support::ChildProcess holder;
        std::wstring ready = testing_support::UniqueName(L"mutex-ready");
        ASSERT_TRUE(holder.Start(testing_support::FixturePath(L"hold_mutex.exe"),
                                 L"\"" + std::wstring(kRunMutexName) + L"\" " + ready + L" -"));
        ASSERT_TRUE(testing_support::WaitForNamedEvent(ready, 10000));
        ScriptedMessageBoxes boxes;
        COrlynRepairApp app;
        app.InitInstance();
        otherRunActive = boxes.Calls();
    }
    Shown initErrors[4];
    for (int step = 1; step <= 4; ++step)
        initErrors[step - 1] = RunDialogShowing({IDOK}, [step](ScriptedRepairDlg& d) {
            d.failingInitStep = step;
            d.extractionError = L"<extraction>";
            d.payloadError = L"<manifest>";
        });
    Shown checkFailed = FailingAt(1, {IDCANCEL});
    Shown removalFailed = FailingAt(2, {IDNO, IDCANCEL});
    Shown installFailed = FailingAt(5, {IDCANCEL});
    // A failure reported while the restart state is current (the restart was refused).
    Shown otherFailed = RunDialogShowing(
        {IDYES, IDCANCEL},
        [](ScriptedRepairDlg& d) {
            d.phase = [](ScriptedRepairDlg& self, int s, int) {
                if (s == COrlynRepairDlg::kStateRestart) self.ArmTimer(COrlynRepairDlg::kTimerPhaseFailed, 100);
                return s != COrlynRepairDlg::kStateRemoval;
            };
        },
        FALSE);
    testing_support::TempDir windows(L"win");
    ASSERT_TRUE(testing_support::CreateFolders(windows / L"system32\\drivers\\etc"));
    const std::wstring redirected = std::wstring(L"10.1.2.3 www.") + ORLYN_WEB_DOMAIN_1;
    ASSERT_TRUE(testing_support::WriteFileText(windows / L"system32\\drivers\\etc\\hosts", redirected + L"\r\n"));
    Shown succeeded = RunDialogShowing({IDOK, IDNO}, [&](ScriptedRepairDlg& d) { d.windowsFolderOverride = windows.path(); });

    struct Row {
        const char* name;
        const std::vector<seams::MessageBoxCall>& calls;
        size_t index;
        HWND owner;
        std::wstring text;
        UINT flags;
    } rows[] = {
        {"start confirmation", confirmation, 0, nullptr,
         L"지금 복구를 시작할까요?\r\n시작되면 웹 브라우저가 모두 종료됩니다.\r\n작업 중인 프로그램들을 저장 후 시작하세요.\r\n",
         MB_OKCANCEL | MB_ICONEXCLAMATION},
        {"another repair running", otherRunActive, 0, nullptr,
         L"이미 복구가 진행 중입니다.\r\n진행 중인 복구가 끝난 후 다시 시도해 주세요.", MB_OK | MB_ICONEXCLAMATION},
        {"initialisation error 1", initErrors[0].calls, 0, initErrors[0].dialog,
         L"초기화 에러 #1 : 삭제 목록을 얻어오는데 실패하였습니다.", MB_OK | MB_ICONERROR},
        {"initialisation error 2", initErrors[1].calls, 0, initErrors[1].dialog,
         L"초기화 에러 #2 : 설치 파일 목록 리스트 파일에 문제가 있습니다.\r\n\r\n<extraction>", MB_OK | MB_ICONERROR},
        {"initialisation error 3", initErrors[2].calls, 0, initErrors[2].dialog,
         L"초기화 에러 #3 : 설치 파일 목록을 얻어오는데 실패하였습니다.\r\n\r\n<manifest>", MB_OK | MB_ICONERROR},
        {"initialisation error 4", initErrors[3].calls, 0, initErrors[3].dialog,
         L"초기화 에러 #4 : 설치할 파일이 존재하지 않습니다.", MB_OK | MB_ICONERROR},
        {"restart prompt", removalFailed.calls, 0, removalFailed.dialog,
         L"\r\n재설치 과정에 문제가 발생하였습니다.\r\n\r\n이 문제는 컴퓨터를 재시작하면 해결할 수 있습니다.\r\n\r\n"
         L"컴퓨터 재시작 후 본 프로그램이 자동으로 재설치를 진행합니다.\r\n\r\n컴퓨터를 재시작하려면 '예'버튼을 클릭해주세요."
         L"\r\n\r\n* 주의 : 모든 프로그램이 종료되므로 필히 저장해 주세요.\r\n",
         MB_YESNO | MB_ICONQUESTION},
        {"failure while checking", checkFailed.calls, 0, checkFailed.dialog,
         L"기존 모듈을 확인하는 중에 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.",
         MB_OKCANCEL | MB_ICONEXCLAMATION},
        {"failure while removing", removalFailed.calls, 1, removalFailed.dialog,
         L"기존 모듈을 삭제하는 중에 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.",
         MB_OKCANCEL | MB_ICONEXCLAMATION},
        {"failure while installing", installFailed.calls, 0, installFailed.dialog,
         L"신규 모듈을 설치하는 중에 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.",
         MB_OKCANCEL | MB_ICONEXCLAMATION},
        {"failure of another kind", otherFailed.calls, 1, otherFailed.dialog,
         L"알수 없는 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.",
         MB_OKCANCEL | MB_ICONEXCLAMATION},
        {"hosts warning", succeeded.calls, 0, succeeded.dialog,
         L"hosts 파일에 임의로 수정된 내용이 발견되었습니다.\r\n\r\n오를린 홈페이지가 계속 비정상적으로 작동 시 \r\n"
         L"hosts 파일을 확인하시기 바랍니다.\r\n\r\n" + redirected + L"\r\n",
         MB_OK | MB_ICONWARNING},
        {"success prompt", succeeded.calls, 1, succeeded.dialog, L"복구에 성공했습니다!\r\n오를린 홈페이지로 이동할까요?",
         MB_YESNO | MB_ICONQUESTION},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_GT(row.calls.size(), row.index);
        const seams::MessageBoxCall& call = row.calls[row.index];
        EXPECT_EQ(call.text, row.text);
        EXPECT_EQ(call.caption, title);
        EXPECT_EQ(call.flags, row.flags);
        EXPECT_EQ(call.owner, row.owner);
    }
    // No box beyond the table's.
    EXPECT_EQ(confirmation.size(), 1u);
    EXPECT_EQ(otherRunActive.size(), 1u);
    for (const Shown& s : initErrors) EXPECT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(checkFailed.calls.size(), 1u);
    EXPECT_EQ(removalFailed.calls.size(), 2u);
    EXPECT_EQ(installFailed.calls.size(), 1u);
    EXPECT_EQ(otherFailed.calls.size(), 2u);
    EXPECT_EQ(succeeded.calls.size(), 2u);

    // The log of that successful run, as stored: a UTF-8 byte-order mark, then entries of a timestamp,
    // a tab and the message, each line ended by CR LF; the hosts finding is two entries.
    std::string log = testing_support::ReadFileBytes(app_tests::ArchivedLogPath());
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    struct Entry {
        const char* name;
        std::string bytes;
    } entries[] = {
        {"hosts finding", orlyn::ToUtf8(L"\tError\thosts 파일에 수정사항이 있습니다.\r\n")},
        {"hosts line", "\t" + orlyn::ToUtf8(redirected) + "\r\n"},
    };
    size_t from = 0;
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        size_t at = log.find(e.bytes, from);
        ASSERT_NE(at, std::string::npos);
        ASSERT_GE(at, 19u);
        EXPECT_TRUE(IsTimestampAndTab(log.substr(at - 19, 20))) << log.substr(at - 19, 20);
        EXPECT_TRUE(at == 19 + 3 || log.compare(at - 21, 2, "\r\n") == 0) << "the entry does not begin a line";
        from = at + e.bytes.size();
    }
}
