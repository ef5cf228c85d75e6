#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/repair_context.h"
#include "browser/browser_test_support.h"
#include "browser/chrome.h"
#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";

// The product folder, Chrome's uninstall entry and the user's Local State, set up for a test and put
// back afterwards; the scheme is unregistered before and after.
class InstallStepFixture {
public:
    InstallStepFixture() : dir_(L"steps") {
        (void)CCustomScheme(L"tsl").Unregister();
        productFolder_ = dir_ / L"TSL";
        CreateFolders(productFolder_);
        SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL", L"InstallDirectory", productFolder_);
        localState_ = GetLocalStatePath();
        hadLocalState_ = FileExists(localState_);
        original_ = ReadFileBytes(localState_);
        CreateFolders(localState_.substr(0, localState_.find_last_of(L'\\')));
        ctx.OpenLog((dir_ / L"OrlynRepair.log").c_str());
    }
    ~InstallStepFixture() {
        ctx.CloseLog();
        (void)CCustomScheme(L"tsl").Unregister();
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL");
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kUninstallKey);
        if (hadLocalState_) WriteFileBytes(localState_, original_);
        else ::DeleteFileW(localState_.c_str());
    }
    static void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
        orlyn::UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(root, path.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(orlyn::SetRegString(key.get(), name, text.c_str()), ERROR_SUCCESS);
    }
    void InstallChrome(const std::wstring& folder) {
        SetString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", folder);
    }
    std::vector<std::wstring> Messages() { return ReadLogMessages(dir_ / L"OrlynRepair.log"); }
    const std::wstring& productFolder() const { return productFolder_; }
    const std::wstring& localState() const { return localState_; }

    CRepairContext ctx;

private:
    TempDir dir_;
    std::wstring productFolder_;
    std::wstring localState_;
    std::string original_;
    bool hadLocalState_ = false;
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
    EXPECT_TRUE(f.Messages().empty());
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
    auto messages = f.Messages();
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
