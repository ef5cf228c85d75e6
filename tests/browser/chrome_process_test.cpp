#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "browser/chrome.h"
#include "browser_test_support.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "support/test_support.h"

using namespace testing_support;
using browser_test::DeleteChromeRegistrations;
using browser_test::EndAllChrome;
using browser_test::FakeChrome;
using browser_test::kAppPathsKey;
using browser_test::kTimeoutMs;
using browser_test::kUninstallKey;
using browser_test::ShellWindow;

namespace {

// Every test starts and ends without a chrome.exe in the prefix and without Chrome's registrations.
class ChromeProcess : public ::testing::Test {
protected:
    void SetUp() override {
        EndAllChrome();
        ASSERT_FALSE(IsChromeRunning());
        DeleteChromeRegistrations();
    }
    void TearDown() override {
        EndAllChrome();
        DeleteChromeRegistrations();
    }
};

bool Contains(const std::vector<DWORD>& ids, DWORD id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

}  // namespace

TEST_F(ChromeProcess, ProcessIdsAndTermination) {
    std::vector<DWORD> ids{42};
    EXPECT_FALSE(GetChromeProcessIds(ids));
    EXPECT_TRUE(ids.empty());
    EXPECT_FALSE(TerminateChrome());

    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess first, second;
    ASSERT_TRUE(chrome.Start(first));
    ASSERT_TRUE(chrome.Start(second, L"--background"));
    EXPECT_TRUE(IsChromeRunning());
    ASSERT_TRUE(GetChromeProcessIds(ids));
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_TRUE(Contains(ids, first.Id()));
    EXPECT_TRUE(Contains(ids, second.Id()));

    EXPECT_TRUE(TerminateChrome());
    // Gone when TerminateChrome returns, so that a check right after it does not see them.
    EXPECT_TRUE(first.WaitForExit(0));
    EXPECT_TRUE(second.WaitForExit(0));
    EXPECT_EQ(first.ExitCode(), 0u);  // terminated, not closed (that gives 7)
    EXPECT_FALSE(IsChromeRunning());
}

TEST_F(ChromeProcess, IsChromeInstalledReadsTheUninstallKeyOfEachRoot) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    EXPECT_FALSE(IsChromeInstalled(HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(IsChromeInstalled(HKEY_CURRENT_USER));

    // Installed per user: only HKCU names it.
    SetRegStringForTest(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation", chrome.folder());
    EXPECT_FALSE(IsChromeInstalled(HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(IsChromeInstalled(HKEY_CURRENT_USER));
    SetRegStringForTest(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation", chrome.folder() + L"\\");
    EXPECT_TRUE(IsChromeInstalled(HKEY_CURRENT_USER));

    // A folder without chrome.exe, an empty value, and a key without the value are not an installation.
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation",
                        chrome.dir().path() + L"\\nothing");
    EXPECT_FALSE(IsChromeInstalled(HKEY_LOCAL_MACHINE));
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", L"");
    EXPECT_FALSE(IsChromeInstalled(HKEY_LOCAL_MACHINE));
    DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kUninstallKey);
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kUninstallKey, L"Other", chrome.folder());
    EXPECT_FALSE(IsChromeInstalled(HKEY_LOCAL_MACHINE));
}

TEST_F(ChromeProcess, GetChromeAppPathReadsTheDefaultValue) {
    wchar_t buffer[MAX_PATH];
    EXPECT_FALSE(GetChromeAppPath(HKEY_LOCAL_MACHINE, buffer));
    SetRegStringForTest(HKEY_CURRENT_USER, kAppPathsKey, nullptr, L"C:\\Chrome\\chrome.exe");
    EXPECT_FALSE(GetChromeAppPath(HKEY_LOCAL_MACHINE, buffer));
    ASSERT_TRUE(GetChromeAppPath(HKEY_CURRENT_USER, buffer));
    EXPECT_STREQ(buffer, L"C:\\Chrome\\chrome.exe");
    SetRegStringForTest(HKEY_CURRENT_USER, kAppPathsKey, nullptr,
                        L"\"C:\\Program Files\\Chrome\\chrome.exe\"");
    ASSERT_TRUE(GetChromeAppPath(HKEY_CURRENT_USER, buffer));
    EXPECT_STREQ(buffer, L"C:\\Program Files\\Chrome\\chrome.exe");
    // Longer than a path.
    SetRegStringForTest(HKEY_CURRENT_USER, kAppPathsKey, nullptr, std::wstring(300, L'x'));
    EXPECT_FALSE(GetChromeAppPath(HKEY_CURRENT_USER, buffer));
}

TEST_F(ChromeProcess, CloseChromeClosesBothWindowsAndRestartRestoresTheSession) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess child;
    ASSERT_TRUE(chrome.Start(child, L"--windows=2"));

    CChrome c(L"tsl");
    EXPECT_TRUE(c.CloseChrome());
    EXPECT_TRUE(child.WaitForExit(0));
    EXPECT_EQ(child.ExitCode(), 7u);  // its windows were closed; it was not terminated
    ASSERT_EQ(c.GetChromeExecutables().size(), 1u);
    EXPECT_TRUE(orlyn::EqualsNoCase(c.GetChromeExecutables()[0].c_str(), chrome.exe().c_str()))
        << orlyn::ToUtf8(c.GetChromeExecutables()[0]);

    ShellWindow shell;
    ASSERT_TRUE(shell.ok());
    EXPECT_TRUE(c.RestartChrome());
    const std::wstring line = chrome.WaitForLaunchWith(L" --restore-last-session");
    EXPECT_EQ(line, L"\"" + c.GetChromeExecutables()[0] + L"\" --restore-last-session");
    EXPECT_TRUE(IsChromeRunning());
}

TEST_F(ChromeProcess, CloseChromeTerminatesAProcessThatIgnoresClosing) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess child;
    ASSERT_TRUE(chrome.Start(child, L"--ignore-close"));
    CChrome c(L"tsl");
    EXPECT_TRUE(c.CloseChrome());  // after the 5 s wait for the window's process
    EXPECT_TRUE(child.WaitForExit(kTimeoutMs));
    EXPECT_EQ(child.ExitCode(), 0u);
    EXPECT_EQ(c.GetChromeExecutables().size(), 1u);
}

TEST_F(ChromeProcess, BackgroundChromeIsTerminatedAndRestartedThroughAppPaths) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess child;
    ASSERT_TRUE(chrome.Start(child, L"--background"));
    CChrome c(L"tsl");
    EXPECT_TRUE(c.CloseChromeWindows());  // processes found, no window to close
    EXPECT_TRUE(c.GetChromeExecutables().empty());
    EXPECT_TRUE(IsChromeRunning());
    EXPECT_TRUE(c.CloseChrome());
    EXPECT_TRUE(child.WaitForExit(kTimeoutMs));
    EXPECT_TRUE(c.GetChromeExecutables().empty());

    ShellWindow shell;
    ASSERT_TRUE(shell.ok());
    EXPECT_FALSE(c.RestartChrome());  // no App Paths registration
    // Registered for the user only: HKLM is asked first, then HKCU.
    SetRegStringForTest(HKEY_CURRENT_USER, kAppPathsKey, nullptr, chrome.exe());
    EXPECT_TRUE(c.RestartChrome());
    const std::wstring line = chrome.WaitForLaunchWith(L" --no-startup-window");
    EXPECT_EQ(line, L"\"" + chrome.exe() + L"\" --no-startup-window");

    // With both registrations the machine's wins.
    FakeChrome machine;
    ASSERT_TRUE(machine.ok());
    SetRegStringForTest(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, machine.exe());
    EXPECT_TRUE(c.RestartChrome());
    EXPECT_EQ(machine.WaitForLaunchWith(L" --no-startup-window"), L"\"" + machine.exe() + L"\" --no-startup-window");
    EXPECT_EQ(chrome.Launches().size(), 2u);  // its own start by the test, and the one above
}

TEST_F(ChromeProcess, CloseChromeWindowsWithoutChromeDoesNothing) {
    CChrome c(L"tsl");
    EXPECT_FALSE(c.CloseChromeWindows());
    EXPECT_TRUE(c.CloseChrome());
    EXPECT_TRUE(c.GetChromeExecutables().empty());
    EXPECT_FALSE(c.RestartChrome());
}

TEST_F(ChromeProcess, CloseWindowProcLeavesOtherProcessesWindowsAlone) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess child;
    ASSERT_TRUE(chrome.Start(child));
    EXPECT_TRUE(CloseWindowProc(::GetDesktopWindow(), 0));
    // A scan whose id list does not hold the fake's id closes nothing.
    ChromeWindowScan scan;
    scan.processIds.push_back(::GetCurrentProcessId());
    ASSERT_TRUE(::EnumWindows(CloseWindowProc, reinterpret_cast<LPARAM>(&scan)));
    EXPECT_TRUE(scan.processes.empty());
    EXPECT_TRUE(scan.paths.empty());
    EXPECT_FALSE(child.WaitForExit(200));
}

TEST_F(ChromeProcess, CloseWindowProcOpensTheProcessOncePerWindow) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    ChildProcess two, hidden;
    ASSERT_TRUE(chrome.Start(two, L"--windows=2"));
    ASSERT_TRUE(chrome.Start(hidden, L"--background"));
    ChromeWindowScan scan;
    ASSERT_TRUE(GetChromeProcessIds(scan.processIds));
    ASSERT_TRUE(::EnumWindows(CloseWindowProc, reinterpret_cast<LPARAM>(&scan)));
    ASSERT_EQ(scan.processes.size(), 2u);
    EXPECT_EQ(::GetProcessId(scan.processes[0].get()), two.Id());
    EXPECT_EQ(::GetProcessId(scan.processes[1].get()), two.Id());
    ASSERT_EQ(scan.paths.size(), 1u);
    EXPECT_TRUE(orlyn::EqualsNoCase(scan.paths.begin()->c_str(), chrome.exe().c_str()));
    EXPECT_TRUE(two.WaitForExit(kTimeoutMs));
    EXPECT_EQ(two.ExitCode(), 7u);
    EXPECT_FALSE(hidden.WaitForExit(0));  // its window is hidden, so nothing asked it to close
}

TEST(BuildDesktopCommandLine, QuotesThePath) {
    struct Case {
        const wchar_t* path;
        const wchar_t* line;
    } cases[] = {
        {L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
         L"\"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe\" --restore-last-session"},
        {L"C:\\Chrome\\chrome.exe", L"\"C:\\Chrome\\chrome.exe\" --restore-last-session"},
        {L"\"C:\\a b\\chrome.exe\"", L"\"C:\\a b\\chrome.exe\" --restore-last-session"},
        {L"C:\\100%s\\chrome.exe", L"\"C:\\100%s\\chrome.exe\" --restore-last-session"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        wchar_t buf[1024];
        ASSERT_TRUE(BuildDesktopCommandLine(c.path, L"--restore-last-session", buf, 1024));
        EXPECT_STREQ(buf, c.line);
    }
    std::wstring longPath(1000, L'x');
    wchar_t buf[1024];
    EXPECT_FALSE(BuildDesktopCommandLine(longPath.c_str(), L"--restore-last-session", buf, 1024));
    EXPECT_STREQ(buf, L"");
}

TEST(EnableIncreaseQuotaPrivilege, Succeeds) { EXPECT_EQ(EnableIncreaseQuotaPrivilege(), S_OK); }

TEST_F(ChromeProcess, DesktopUserLaunchNeedsTheShellWindow) {
    FakeChrome chrome;
    ASSERT_TRUE(chrome.ok());
    // The prefix's own desktop has a shell window (Wine 10's desktop window is one, as Explorer's is on
    // Windows); a desktop of the test's own, as when no shell runs, has none. The launch runs on a
    // thread that uses that desktop.
    struct Desktop {
        HDESK handle;
        ~Desktop() {
            if (handle) ::CloseDesktop(handle);
        }
        HDESK get() const { return handle; }
    } desktop{::CreateDesktopW(UniqueName(L"OrlynNoShell").c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr)};
    ASSERT_TRUE(desktop.get()) << ::GetLastError();
    bool attached = false, shellSeen = true, direct = true, chosen = true;
    std::thread worker([&] {
        attached = ::SetThreadDesktop(desktop.get()) != FALSE;
        if (!attached) return;
        shellSeen = ::GetShellWindow() != nullptr;
        direct = LaunchAsDesktopUser(chrome.exe().c_str(), L"--no-startup-window");
        // An administrator on Windows 6.x goes this way too, and does not fall back to the shell.
        chosen = LaunchChrome(chrome.exe().c_str(), L"--no-startup-window");
    });
    worker.join();
    ASSERT_TRUE(attached);
    ASSERT_FALSE(shellSeen) << "the test's own desktop has a shell window";
    EXPECT_FALSE(direct);
    EXPECT_FALSE(chosen);
    EXPECT_FALSE(IsChromeRunning());
    EXPECT_TRUE(chrome.Launches().empty());
}

// The program path has blanks, and a program named like its first word exists: the quoted command
// line starts Chrome, never that program.
TEST_F(ChromeProcess, DesktopUserLaunchStartsThePathWithBlanks) {
    FakeChrome chrome(L"Google Chrome\\Application");
    ASSERT_TRUE(chrome.ok());
    const std::wstring decoy = chrome.dir() / L"Google.exe";
    ASSERT_TRUE(::CopyFileW(FixturePath(L"fake_chrome.exe").c_str(), decoy.c_str(), FALSE));
    struct EndDecoy {
        ~EndDecoy() { EndAllChrome(L"Google.exe"); }
    } endDecoy;
    ShellWindow shell;
    ASSERT_TRUE(shell.ok());

    EXPECT_TRUE(LaunchChrome(chrome.exe().c_str(), L"--restore-last-session"));
    const std::wstring line = chrome.WaitForLaunchWith(L" --restore-last-session");
    EXPECT_EQ(line, L"\"" + chrome.exe() + L"\" --restore-last-session");
    EXPECT_TRUE(IsChromeRunning());
    EXPECT_TRUE(FakeChrome::LaunchesIn(chrome.dir().path()).empty()) << "the decoy ran";
}

TEST_F(ChromeProcess, ShellLaunchStartsAnExistingPathOnly) {
    FakeChrome chrome(L"Chrome Folder");
    ASSERT_TRUE(chrome.ok());
    EXPECT_FALSE(LaunchWithShell((chrome.folder() + L"\\missing.exe").c_str(), L"--no-startup-window"));
    EXPECT_TRUE(LaunchWithShell(chrome.exe().c_str(), L"--no-startup-window"));
    const std::wstring line = chrome.WaitForLaunchWith(L" --no-startup-window");
    EXPECT_FALSE(line.empty());
    EXPECT_NE(line.find(L"chrome.exe"), std::wstring::npos) << orlyn::ToUtf8(line);
}
