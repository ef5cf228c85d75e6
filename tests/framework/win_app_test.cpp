#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/win_app.h"

namespace {

class CountingApp : public CWinApp {
public:
    BOOL InitInstance() override {
        ++runs;
        return FALSE;  // declined: the process still ends normally
    }
    int runs = 0;
};

}  // namespace

TEST(WinApp, RunApplicationRunsTheCurrentApplicationOnce) {
    EXPECT_EQ(CWinApp::Current(), nullptr);
    EXPECT_EQ(RunApplication(), 1) << "no application object";
    {
        CountingApp app;
        EXPECT_EQ(CWinApp::Current(), &app);
        EXPECT_EQ(app.Instance(), ::GetModuleHandleW(nullptr));
        EXPECT_EQ(RunApplication(), 0);
        EXPECT_EQ(app.runs, 1);
    }
    EXPECT_EQ(CWinApp::Current(), nullptr);
}

TEST(WinApp, KeepsTheRegistryKeyNameAndTheControlContainerSwitch) {
    CWinApp app;
    EXPECT_STREQ(app.RegistryKey(), L"");
    EXPECT_FALSE(app.ControlContainerEnabled());
    app.SetRegistryKey(L"오를린 에러복구 프로그램");
    EXPECT_STREQ(app.RegistryKey(), L"오를린 에러복구 프로그램");
    app.EnableControlContainer();
    EXPECT_TRUE(app.ControlContainerEnabled());
    // A name that does not fit is not kept cut short.
    app.SetRegistryKey(std::wstring(300, L'x').c_str());
    EXPECT_STREQ(app.RegistryKey(), L"");
    app.SetRegistryKey(nullptr);
    EXPECT_STREQ(app.RegistryKey(), L"");
}

namespace {

class ExitCodeApp : public CWinApp {
public:
    BOOL InitInstance() override {
        seen = commandLine;
        return FALSE;
    }
    int ExitInstance() override { return 3010; }
    std::wstring seen;
};

}  // namespace

TEST(WinApp, RunApplicationHandsOverTheCommandLineAndReturnsTheExitInstanceCode) {
    ExitCodeApp app;
    EXPECT_STREQ(app.commandLine, L"");
    EXPECT_EQ(RunApplication(L"/quiet --start"), 3010);
    EXPECT_EQ(app.seen, L"/quiet --start");
    EXPECT_EQ(CWinApp().ExitInstance(), 0);
}
