// Initialisation errors 2 to 4 reached through the program's own steps, not scripted ones: a temporary
// folder that cannot be written, a manifest with a bad row, a manifest naming a missing payload file; each
// on a plain and on a resumed (--start) start, with the error box held open well past timer 100's delay.
#include <gtest/gtest.h>

#include "app/resume_entry.h"
#include "common/string_format.h"
#include "install/payload_test_support.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

using app_tests::RepairRunScope;
using app_tests::ScriptedRepairDlg;

TEST(RepairDialog, RealInitialisationStepsEndTheDialogWithTheirTextsAndDeleteTheLog) {
    const std::string good = "1014\tLICENSE.txt\t$AppData$\\LICENSE.txt\t0\r\n";
    testing_support::TempDir temp(L"rinit");
    const std::wstring unwritable = L"Q:\\no\\such\\drive";
    struct Case {
        const char* name;
        std::wstring tempFolder;
        payload_testing::ResourceList resources;
        std::wstring text;
    } cases[] = {
        {"temporary folder cannot be written", unwritable, {{999, good}, {1014, "licence"}},
         L"초기화 에러 #2 : 설치 파일 목록 리스트 파일에 문제가 있습니다.\r\n\r\n파일 경로를 생성하는데 실패하였습니다.\r\n" +
             unwritable + L"\\OrlynRepairList.txt"},
        {"a bad row", temp.path(), {{999, good + "1015\tX.dll\t$AppData$\\X.dll\r\n"}, {1014, "licence"}},
         L"초기화 에러 #3 : 설치 파일 목록을 얻어오는데 실패하였습니다.\r\n\r\n파일의 내용이 정확하지 않습니다."},
        {"a missing payload file", temp.path(), {{999, good + "1008\tX.dll\t$AppData$\\X.dll\t0\r\n"}, {1014, "l"}},
         L"초기화 에러 #4 : 설치할 파일이 존재하지 않습니다."},
    };
    for (const auto& c : cases)
    for (const wchar_t* commandLine : {L"OrlynRepair.exe", L"OrlynRepair.exe --start"}) {
        SCOPED_TRACE(testing::Message() << c.name << ", " << orlyn::ToUtf8(commandLine));
        payload_testing::ScopedPayloadModule module(c.resources);  // made in the real temporary folder
        ASSERT_TRUE(module.ok());
        RepairRunScope scope;
        payload_testing::ScopedTempFolder scopedTemp(c.tempFolder);
        ScriptedRepairDlg dialog;
        dialog.realInitSteps = true;
        dialog.commandLine = commandLine;
        testing_support::ScriptedMessageBoxes boxes;
        seams::SetMessageBoxHoldTime(1000);
        dialog.DoModal();
        EXPECT_FALSE(dialog.TimedOut());
        auto calls = boxes.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, c.text);
        EXPECT_EQ(calls[0].caption, L"오를린 에러복구 프로그램");
        EXPECT_EQ(calls[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
        EXPECT_TRUE(dialog.PhasesRun().empty());
        EXPECT_EQ(dialog.sequenceStarted, 0);
        std::wstring command;
        EXPECT_FALSE(resume_entry::ReadResumeEntry(command));
        EXPECT_EQ(dialog.LastLogDisposition(), LogDisposition::Deleted);
        EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    }
}
