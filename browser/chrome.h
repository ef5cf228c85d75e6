// Google Chrome: the scheme exclusion in its Local State file, and shutting it down and starting it
// again as the desktop user.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "common/unique_handle.h"

class CChrome {
public:
    explicit CChrome(const std::wstring& scheme);
    virtual ~CChrome();

    // Local State of the current user (GetLocalStatePath). Each call reads the file again.
    [[nodiscard]] bool IsSchemeExcluded() const;
    bool AddSchemeExclusion();     // true when the member is present afterwards
    bool RemoveSchemeExclusion();  // true when the member is absent afterwards

    // Asks the visible top-level windows of every chrome.exe to close and waits for their processes;
    // collects the executable paths of those processes. False when no Chrome process runs.
    bool CloseChromeWindows();
    // CloseChromeWindows, then ends what is left; true when no Chrome process remains.
    bool CloseChrome();
    // Starts each collected executable with "--restore-last-session", or, with none collected, the
    // App Paths registration with "--no-startup-window".
    bool RestartChrome();

    const std::vector<std::wstring>& GetChromeExecutables() const { return executables_; }
    const std::wstring& GetScheme() const { return scheme_; }

private:
    std::vector<std::wstring> executables_;  // ascending, no duplicates
    std::wstring scheme_;
};

// The current user's "Google\Chrome\User Data\Local State" below the local application data folder,
// or an empty string when the folder is unknown.
std::wstring GetLocalStatePath();

// The Local State operations on a given file. A file that is missing, unreadable, not JSON, or whose
// root, protocol_handler or excluded_schemes is not an object gives false and is never written. A
// change is written to a new file in the same folder that then replaces the original, so a failed
// write leaves the original as it was.
[[nodiscard]] bool IsSchemeExcludedInFile(const std::wstring& path, const std::wstring& scheme);
[[nodiscard]] bool AddSchemeExclusionToFile(const std::wstring& path, const std::wstring& scheme);
[[nodiscard]] bool RemoveSchemeExclusionFromFile(const std::wstring& path, const std::wstring& scheme);

// What CloseWindowProc works on during one window enumeration.
struct ChromeWindowScan {
    std::vector<DWORD> processIds;              // running chrome.exe processes
    std::vector<orlyn::UniqueHandle> processes;  // opened once per closed window, in that order
    std::set<std::wstring> paths;               // executable paths (ordinal order)
};

[[nodiscard]] bool IsChromeRunning();
// Ids of every chrome.exe in snapshot order; true when there is at least one.
bool GetChromeProcessIds(std::vector<DWORD>& ids);
// True when chrome.exe exists in the InstallLocation of root's Chrome uninstall key.
[[nodiscard]] bool IsChromeInstalled(HKEY root);
// EnumWindows callback; lParam is a ChromeWindowScan*. Always continues.
BOOL CALLBACK CloseWindowProc(HWND window, LPARAM scan);
// Ends every chrome.exe and waits (5 s at most) until they are gone; true when there was one.
bool TerminateChrome();
// Reads the default value of root's Chrome App Paths key into buffer (MAX_PATH units).
[[nodiscard]] bool GetChromeAppPath(HKEY root, wchar_t* buffer);

// Starts path with the switch: as the desktop user when the program is an administrator on Windows
// Vista or later, else through the shell.
bool LaunchChrome(const wchar_t* path, const wchar_t* switchText);
bool LaunchAsDesktopUser(const wchar_t* path, const wchar_t* switchText);
bool LaunchWithShell(const wchar_t* path, const wchar_t* switchText);
HRESULT EnableIncreaseQuotaPrivilege();

// The desktop-user command line: the path in double quotes (unless it already starts with one), a
// blank and the switch, into buf of count units. False when it does not fit.
[[nodiscard]] bool BuildDesktopCommandLine(const wchar_t* path, const wchar_t* switchText, wchar_t* buf,
                                           size_t count);
