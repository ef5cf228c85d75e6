// Initialisation errors 2 to 4 reached through the program's own steps, not scripted ones: a temporary
// folder that cannot be written, a manifest with a bad row, a manifest naming a missing payload file.
#include <gtest/gtest.h>

#include "app/repair_texts.h"
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
         orlyn::FormatString(repair_text::kInitError2,
                             (L"파일 경로를 생성하는데 실패하였습니다.\r\n" + unwritable + L"\\OrlynRepairList.txt").c_str())},
        {"a bad row", temp.path(), {{999, good + "1015\tX.dll\t$AppData$\\X.dll\r\n"}, {1014, "licence"}},
         orlyn::FormatString(repair_text::kInitError3, L"파일의 내용이 정확하지 않습니다.")},
        {"a missing payload file", temp.path(), {{999, good + "1008\tX.dll\t$AppData$\\X.dll\t0\r\n"}, {1014, "l"}},
         repair_text::kInitError4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        payload_testing::ScopedPayloadModule module(c.resources);  // made in the real temporary folder
        ASSERT_TRUE(module.ok());
        RepairRunScope scope;
        payload_testing::ScopedTempFolder scopedTemp(c.tempFolder);
        ScriptedRepairDlg dialog;
        dialog.realInitSteps = true;
        testing_support::ScriptedMessageBoxes boxes;
        dialog.DoModal();
        EXPECT_FALSE(dialog.TimedOut());
        auto calls = boxes.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, c.text);
        EXPECT_EQ(calls[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
        EXPECT_TRUE(dialog.PhasesRun().empty());
        EXPECT_FALSE(testing_support::FileExists(app_tests::DesktopLogPath()));
    }
}
