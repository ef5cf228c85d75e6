#include <gtest/gtest.h>

#include "app/orlyn_repair_app.h"
#include "app/repair_texts.h"
#include "scripted_repair_dlg.h"
#include "support/test_support.h"

TEST(RepairApp, CancelAtTheConfirmationMakesNoWindowAndNoLog) {
    app_tests::RepairRunScope scope(false);
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
