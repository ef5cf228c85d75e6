#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/repair_context.h"
#include "browser/browser_test_support.h"
#include "browser/chrome.h"
#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using namespace testing_support;
using browser_test::kAppPathsKey;
using browser_test::kUninstallKey;

namespace {

const wchar_t kMachineSchemeKey[] = L"Software\\Classes\\tsl";

// The product folder, Chrome's uninstall entry and the user's Local State, set up for a test and put
// back afterwards; the scheme is unregistered before and after.
class InstallStepFixture {
public:
    InstallStepFixture() {
        (void)CCustomScheme(L"tsl").Unregister();
        productFolder_ = ctx.dir() / L"TSL";
        CreateFolders(productFolder_);
        SetRegStringForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL", L"InstallDirectory", productFolder_);
        localState_ = GetLocalStatePath();
        hadLocalState_ = FileExists(localState_);
        original_ = ReadFileBytes(localState_);
        CreateFolders(localState_.substr(0, localState_.find_last_of(L'\\')));
    }
    ~InstallStepFixture() {
        (void)CCustomScheme(L"tsl").Unregister();
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL");
        browser_test::DeleteChromeRegistrations();
        if (hadLocalState_) WriteFileBytes(localState_, original_);
        else ::DeleteFileW(localState_.c_str());
    }
    void InstallChrome(const std::wstring& folder) {
        SetRegStringForTest(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", folder);
    }
    const std::wstring& productFolder() const { return productFolder_; }
    const std::wstring& localState() const { return localState_; }

    TempLogContext<> ctx{L"steps"};

private:
    MakerKeyScope maker_;  // made by the product key when missing
    std::wstring productFolder_;
    std::wstring localState_;
    std::string original_;
    bool hadLocalState_ = false;
};

// The machine's scheme key, present but closed to this program (neither read nor write), as a key left by
// another installer may be; opened up again at the end of the scope so it can be deleted.
class ClosedMachineSchemeKey {
public:
    ClosedMachineSchemeKey() {
        orlyn::UniqueHkey key;
        EXPECT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, kMachineSchemeKey, KEY_ALL_ACCESS, orlyn::RegView::Default,
                                      key),
                  ERROR_SUCCESS);
        key.reset();
        SetKeyAclForTest(HKEY_LOCAL_MACHINE, kMachineSchemeKey, L"D:P(A;;RCWD;;;BA)(A;;RCWD;;;WD)");
    }
    ~ClosedMachineSchemeKey() {
        SetKeyAclForTest(HKEY_LOCAL_MACHINE, kMachineSchemeKey, L"D:(A;;KA;;;BA)(A;;KA;;;WD)");
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kMachineSchemeKey);
    }
};

std::wstring ReadCommand(HKEY root) {
    orlyn::UniqueHkey key;
    std::wstring out;
    if (orlyn::OpenRegKey(root, L"Software\\Classes\\tsl\\shell\\open\\command", KEY_READ, orlyn::RegView::Default,
                          key) == ERROR_SUCCESS)
        (void)orlyn::ReadRegString(key.get(), nullptr, 2048, out);
    return out;
}

}  // namespace

TEST(InstallBrowserIntegration, RegistersTheProductsHandlerAndLeavesChromeAloneWhenNotInstalled) {
    InstallStepFixture f;
    ASSERT_TRUE(WriteFileBytes(f.localState(), R"({"x":1})"));
    f.ctx.chromeRestart = 1;  // set by a removal step; without Chrome installed it stays

    EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
    EXPECT_EQ(ReadCommand(HKEY_LOCAL_MACHINE), L"\"" + f.productFolder() + L"\\TSL.exe\" \"%1\"");
    EXPECT_EQ(ReadFileBytes(f.localState()), R"({"x":1})");
    EXPECT_EQ(f.ctx.chromeRestart, 1);
    EXPECT_TRUE(f.ctx.Messages().empty());
}

TEST(InstallBrowserIntegration, ClosesARunningChromeAddsTheExclusionAndStartsItAgain) {
    InstallStepFixture f;
    browser_test::ShellWindow shell;  // the desktop user's shell, whose token starts Chrome again
    ASSERT_TRUE(shell.ok());
    browser_test::FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    f.InstallChrome(chrome.folder());
    ASSERT_TRUE(WriteFileBytes(f.localState(), R"({"protocol_handler":{"excluded_schemes":{"mailto":true}}})"));
    ChildProcess running;
    ASSERT_TRUE(chrome.Start(running));

    EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
    EXPECT_TRUE(running.WaitForExit(browser_test::kTimeoutMs));
    EXPECT_TRUE(IsSchemeExcludedInFile(f.localState(), L"tsl"));
    EXPECT_EQ(f.ctx.chromeRestart, 0);
    std::wstring restart = chrome.WaitForLaunchWith(L"--restore-last-session");
    EXPECT_FALSE(restart.empty()) << "Chrome was not started again";
    auto messages = f.ctx.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], L"OK\t복구를 위해 Google Chrome을 재시작 합니다.");
}

TEST(InstallBrowserIntegration, ASchemeAlreadyRegisteredIsKeptAndTheChromeBranchStillRuns) {
    InstallStepFixture f;
    browser_test::FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    f.InstallChrome(chrome.folder());
    ASSERT_TRUE(WriteFileBytes(f.localState(), R"({})"));
    CCustomScheme scheme(L"tsl");
    ASSERT_TRUE(scheme.Register(HKEY_CURRENT_USER, L"D:\\Other\\TSL.exe"));

    EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
    EXPECT_EQ(ReadCommand(HKEY_CURRENT_USER), L"\"D:\\Other\\TSL.exe\" \"%1\"");
    EXPECT_TRUE(ReadCommand(HKEY_LOCAL_MACHINE).empty());
    EXPECT_TRUE(IsSchemeExcludedInFile(f.localState(), L"tsl"));
}

TEST(InstallBrowserIntegration, AtTheEndOfANormalRunStartsChromeWithoutAWindowAndClearsTheFlag) {
    // The removal step shut Chrome down (flag 1) and took the exclusion out; Chrome is not running now.
    InstallStepFixture f;
    browser_test::ShellWindow shell;  // the desktop user's shell, whose token starts Chrome
    ASSERT_TRUE(shell.ok());
    browser_test::FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    f.InstallChrome(chrome.folder());
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, chrome.exe());
    ASSERT_TRUE(WriteFileBytes(f.localState(), R"({"protocol_handler":{"excluded_schemes":{"mailto":true}}})"));
    ASSERT_FALSE(IsChromeRunning());
    f.ctx.chromeRestart = 1;

    EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
    EXPECT_TRUE(IsSchemeExcludedInFile(f.localState(), L"tsl"));
    EXPECT_EQ(f.ctx.chromeRestart, 0);
    // Its own executable list is empty, so Chrome comes back through its App Paths registration.
    EXPECT_EQ(chrome.WaitForLaunchWith(L" --no-startup-window"), L"\"" + chrome.exe() + L"\" --no-startup-window");
    EXPECT_EQ(chrome.Launches().size(), 1u);
    EXPECT_TRUE(f.ctx.Messages().empty()) << "nothing was shut down here, so there is no restart line";
}

TEST(InstallBrowserIntegration, RegistersForTheCurrentUserWhenTheMachineRefuses) {
    InstallStepFixture f;
    {
        ClosedMachineSchemeKey closed;
        CCustomScheme scheme(L"tsl");
        ASSERT_FALSE(scheme.IsRegistered(HKEY_LOCAL_MACHINE));
        ASSERT_FALSE(scheme.IsRegistered(HKEY_CURRENT_USER));

        EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
        EXPECT_FALSE(scheme.IsRegistered(HKEY_LOCAL_MACHINE));
        EXPECT_TRUE(scheme.IsRegistered(HKEY_CURRENT_USER));
        EXPECT_EQ(ReadCommand(HKEY_CURRENT_USER), L"\"" + f.productFolder() + L"\\TSL.exe\" \"%1\"");
    }
    EXPECT_TRUE(f.ctx.Messages().empty());
}

TEST(InstallBrowserIntegration, AnExclusionAlreadyPresentLeavesChromeAndTheFlagAlone) {
    InstallStepFixture f;
    browser_test::FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    f.InstallChrome(chrome.folder());
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, chrome.exe());
    const std::string excluded = R"({"protocol_handler":{"excluded_schemes":{"tsl":false}}})";
    ASSERT_TRUE(WriteFileBytes(f.localState(), excluded));
    ASSERT_TRUE(IsSchemeExcludedInFile(f.localState(), L"tsl"));
    ChildProcess running;
    ASSERT_TRUE(chrome.Start(running));
    f.ctx.chromeRestart = 1;

    EXPECT_TRUE(f.ctx.InstallBrowserIntegration());
    EXPECT_EQ(ReadCommand(HKEY_LOCAL_MACHINE), L"\"" + f.productFolder() + L"\\TSL.exe\" \"%1\"");
    EXPECT_EQ(ReadFileBytes(f.localState()), excluded);
    EXPECT_EQ(f.ctx.chromeRestart, 1) << "the restart waits for a step that finds the exclusion missing";
    EXPECT_EQ(::WaitForSingleObject(running.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "Chrome was closed";
    EXPECT_EQ(chrome.Launches().size(), 1u) << "only the test's own start";
    EXPECT_TRUE(f.ctx.Messages().empty());
}
