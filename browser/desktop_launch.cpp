#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "browser/chrome.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/win_api.h"

using orlyn::UniqueHandle;

namespace {
const int kShellAttempts = 4;
const DWORD kSharingRetryMs = 250;
const size_t kCommandLineUnits = 1024;

HRESULT LastErrorResult() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
}  // namespace

bool LaunchChrome(const wchar_t* path, const wchar_t* switchText) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const bool vistaOrLater = ::GetVersionExW(&version) && version.dwMajorVersion >= 6;
    // An elevated start would give Chrome the administrator's rights; give it the shell's user instead.
    if (::IsUserAnAdmin() && vistaOrLater) return LaunchAsDesktopUser(path, switchText);
    return LaunchWithShell(path, switchText);
}

bool LaunchWithShell(const wchar_t* path, const wchar_t* switchText) {
    if (!path || !::PathFileExistsW(path)) return false;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = ::GetForegroundWindow();
    info.lpVerb = L"open";
    info.lpFile = path;
    info.lpParameters = switchText;
    info.nShow = SW_SHOWNORMAL;
    bool started = false;
    for (int attempt = 0; attempt < kShellAttempts && !started; ++attempt) {
        started = ::ShellExecuteExW(&info) != FALSE;
        // The file may still be held by an updater or a virus scanner for a moment.
        if (!started && ::GetLastError() == ERROR_SHARING_VIOLATION && attempt + 1 < kShellAttempts)
            ::Sleep(kSharingRetryMs);
    }
    return started;
}

bool BuildDesktopCommandLine(const wchar_t* path, const wchar_t* switchText, wchar_t* buf, size_t count) {
    // Quoted, so that a path with blanks cannot be read as a shorter program path plus arguments.
    const wchar_t* format = path[0] == L'"' ? L"%s %s" : L"\"%s\" %s";
    if (orlyn::Format(buf, count, format, path, switchText ? switchText : L"")) return true;
    buf[0] = L'\0';
    return false;
}

bool LaunchAsDesktopUser(const wchar_t* path, const wchar_t* switchText) {
    if (!path || FAILED(EnableIncreaseQuotaPrivilege())) return false;
    const HWND shell = ::GetShellWindow();
    if (!shell) return false;
    DWORD shellPid = 0;
    ::GetWindowThreadProcessId(shell, &shellPid);
    if (shellPid == 0) return false;
    UniqueHandle shellProcess(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid));
    if (!shellProcess) return false;
    UniqueHandle shellToken;
    if (!::OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE, shellToken.put())) return false;
    UniqueHandle primaryToken;
    const DWORD tokenAccess =
        TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!::DuplicateTokenEx(shellToken.get(), tokenAccess, nullptr, SecurityImpersonation, TokenPrimary,
                            primaryToken.put()))
        return false;

    wchar_t commandLine[kCommandLineUnits] = {};
    if (!BuildDesktopCommandLine(path, switchText, commandLine, kCommandLineUnits)) return false;

    using CreateWithTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                            LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    static const auto createWithToken =
        orlyn::LookupProc<CreateWithTokenFn>(L"advapi32.dll", "CreateProcessWithTokenW");
    if (!createWithToken) return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!createWithToken(primaryToken.get(), 0, nullptr, commandLine, 0, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    return true;
}

HRESULT EnableIncreaseQuotaPrivilege() {
    LUID luid{};
    if (!::LookupPrivilegeValueW(nullptr, L"SeIncreaseQuotaPrivilege", &luid)) return LastErrorResult();
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return LastErrorResult();
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr))
        return LastErrorResult();
    return S_OK;
}
