// Helpers of the browser tests: a stand-in chrome.exe in a folder of its own, a desktop shell window,
// and the clean-up of every chrome.exe a test started and of Chrome's registrations.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/string_format.h"
#include "common/unique_handle.h"
#include "support/test_support.h"

namespace browser_test {

constexpr DWORD kTimeoutMs = 15000;

// Where Chrome's installer registers it: its uninstall entry (InstallLocation) and its App Paths entry.
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Chrome.exe";

// Removes both of Chrome's registrations from HKLM and HKCU.
inline void DeleteChromeRegistrations() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        testing_support::DeleteRegTreeForTest(root, kUninstallKey);
        testing_support::DeleteRegTreeForTest(root, kAppPathsKey);
    }
}

// Ends every process of that name in the prefix and waits for each to be gone.
inline void EndAllChrome(const wchar_t* name = L"chrome.exe") {
    orlyn::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    std::vector<orlyn::UniqueHandle> ended;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!orlyn::EqualsNoCase(entry.szExeFile, name)) continue;
        orlyn::UniqueHandle p(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (p && ::TerminateProcess(p.get(), 1)) ended.push_back(std::move(p));
    }
    for (auto& p : ended) ::WaitForSingleObject(p.get(), kTimeoutMs);
}

// A copy of fake_chrome.exe named chrome.exe in a temporary folder (optionally in a subfolder).
class FakeChrome {
public:
    explicit FakeChrome(const std::wstring& subfolder = L"") : dir_(L"chrome") {
        folder_ = subfolder.empty() ? dir_.path() : dir_ / subfolder;
        testing_support::CreateFolders(folder_);
        exe_ = folder_ + L"\\chrome.exe";
        copied_ = ::CopyFileW(testing_support::FixturePath(L"fake_chrome.exe").c_str(), exe_.c_str(), FALSE) != 0;
    }
    ~FakeChrome() { EndAllChrome(); }
    bool ok() const { return copied_; }
    const std::wstring& exe() const { return exe_; }
    const std::wstring& folder() const { return folder_; }
    const testing_support::TempDir& dir() const { return dir_; }

    // Starts it and waits until its windows are shown.
    bool Start(testing_support::ChildProcess& child, const std::wstring& args = L"") const {
        if (!child.Start(exe_, args)) return false;
        return testing_support::WaitForNamedEvent(orlyn::FormatString(L"orlyn_fake_chrome_%lu", child.Id()),
                                                  kTimeoutMs);
    }

    // Command lines recorded by every start so far (any order).
    std::vector<std::wstring> Launches() const { return LaunchesIn(folder_); }
    static std::vector<std::wstring> LaunchesIn(const std::wstring& folder) {
        std::vector<std::wstring> out;
        WIN32_FIND_DATAW fd;
        orlyn::UniqueFindHandle find(::FindFirstFileW((folder + L"\\launch_*.txt").c_str(), &fd));
        if (!find) return out;
        do {
            out.push_back(orlyn::FromUtf8(testing_support::ReadFileBytes(folder + L"\\" + fd.cFileName)));
        } while (::FindNextFileW(find.get(), &fd));
        return out;
    }
    // Waits for a start whose command line ends with the switch; returns that command line.
    std::wstring WaitForLaunchWith(const std::wstring& switchText) const {
        std::wstring found;
        testing_support::WaitUntil(
            [&] {
                for (const auto& line : Launches()) {
                    if (line.size() >= switchText.size() &&
                        line.compare(line.size() - switchText.size(), switchText.size(), switchText) == 0) {
                        found = line;
                        return true;
                    }
                }
                return false;
            },
            kTimeoutMs);
        return found;
    }

private:
    testing_support::TempDir dir_;
    std::wstring folder_;
    std::wstring exe_;
    bool copied_ = false;
};

// A shell window for the scope: GetShellWindow then names a window, as Explorer's is on Windows. Wine 10's
// desktop window already is the shell window (Wine 8's desktop had none), and then nothing is started;
// otherwise the shell_window fixture runs for the scope.
class ShellWindow {
public:
    ShellWindow() {
        if (::GetShellWindow()) {
            started_ = true;
            return;
        }
        ready_ = testing_support::UniqueName(L"orlyn_shell_ready");
        stopName_ = testing_support::UniqueName(L"orlyn_shell_stop");
        stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, stopName_.c_str()));
        started_ = child_.Start(testing_support::FixturePath(L"shell_window.exe"), ready_ + L" " + stopName_) &&
                   testing_support::WaitForNamedEvent(ready_, kTimeoutMs);
    }
    ~ShellWindow() {
        if (!stop_) return;
        ::SetEvent(stop_.get());
        child_.WaitForExit(kTimeoutMs);
    }
    bool ok() const { return started_; }

private:
    std::wstring ready_, stopName_;
    orlyn::UniqueHandle stop_;
    testing_support::ChildProcess child_;
    bool started_ = false;
};

}  // namespace browser_test
