#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>

#include "browser/chrome.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/win_api.h"

using orlyn::RegView;
using orlyn::UniqueHandle;
using orlyn::UniqueHkey;

namespace {

const wchar_t kChromeProcessName[] = L"chrome.exe";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Chrome.exe";
const DWORD kCloseWaitMs = 5000;
const DWORD kTerminateWaitMs = 5000;  // for all terminated processes together
const wchar_t kRestoreSwitch[] = L"--restore-last-session";
const wchar_t kNoWindowSwitch[] = L"--no-startup-window";

// Walks a process snapshot; stops when visit returns false. A failed snapshot visits nothing.
template <typename Visit>
void ForEachChromeProcess(Visit visit) {
    orlyn::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (orlyn::EqualsNoCase(entry.szExeFile, kChromeProcessName) && !visit(entry.th32ProcessID)) return;
    }
}

// GetModuleFileNameExW lives in kernel32 (as K32...) on Windows 7 and later, in psapi before.
DWORD ProcessImagePath(HANDLE process, wchar_t* buf, DWORD count) {
    using Fn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    static const Fn fn = [] {
        Fn f = orlyn::LookupProc<Fn>(L"kernel32.dll", "K32GetModuleFileNameExW");
        return f ? f : orlyn::LookupProc<Fn>(L"psapi.dll", "GetModuleFileNameExW");
    }();
    if (!fn) return 0;
    DWORD n = fn(process, nullptr, buf, count);
    if (n >= count) n = 0;  // cut off: not a usable path
    buf[n] = L'\0';
    return n;
}

}  // namespace

bool IsChromeRunning() {
    bool found = false;
    ForEachChromeProcess([&](DWORD) {
        found = true;
        return false;
    });
    return found;
}

bool GetChromeProcessIds(std::vector<DWORD>& ids) {
    ids.clear();
    ForEachChromeProcess([&](DWORD id) {
        ids.push_back(id);
        return true;
    });
    return !ids.empty();
}

bool IsChromeInstalled(HKEY root) {
    UniqueHkey key;
    if (orlyn::OpenRegKey(root, kUninstallKey, KEY_READ, RegView::Default, key) != ERROR_SUCCESS) return false;
    std::wstring location;
    if (orlyn::ReadRegString(key.get(), L"InstallLocation", MAX_PATH * sizeof(wchar_t), location) != ERROR_SUCCESS)
        return false;
    wchar_t path[MAX_PATH] = {};
    if (!orlyn::CopyFixed(path, MAX_PATH, location.c_str()) || path[0] == L'\0') return false;
    return ::PathAppendW(path, kChromeProcessName) && ::PathFileExistsW(path);
}

BOOL CALLBACK CloseWindowProc(HWND window, LPARAM lParam) {
    using EndTaskFn = BOOL(WINAPI*)(HWND, BOOL, BOOL);
    static const auto endTask = orlyn::LookupProc<EndTaskFn>(L"user32", "EndTask");
    auto* scan = reinterpret_cast<ChromeWindowScan*>(lParam);
    if (!scan) return TRUE;
    if (::GetWindow(window, GW_OWNER) || !::IsWindowVisible(window) || scan->processIds.empty()) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (std::find(scan->processIds.begin(), scan->processIds.end(), pid) == scan->processIds.end()) return TRUE;

    UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE,
                                       FALSE, pid));
    if (!process) process.reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (process) {
        wchar_t path[MAX_PATH] = {};
        if (ProcessImagePath(process.get(), path, MAX_PATH) > 0) scan->paths.insert(path);
        scan->processes.push_back(std::move(process));
    }
    ::SetLastError(ERROR_SUCCESS);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    // A window of a process with higher integrity refuses posted messages.
    if (::GetLastError() == ERROR_ACCESS_DENIED && endTask) endTask(window, FALSE, TRUE);
    return TRUE;
}

bool CChrome::CloseChromeWindows() {
    ChromeWindowScan scan;
    if (!GetChromeProcessIds(scan.processIds)) return false;
    if (!::EnumWindows(CloseWindowProc, reinterpret_cast<LPARAM>(&scan))) return false;
    for (auto& process : scan.processes) {
        ::WaitForSingleObject(process.get(), kCloseWaitMs);
        process.reset();
    }
    executables_.assign(scan.paths.begin(), scan.paths.end());
    return true;
}

bool TerminateChrome() {
    std::vector<DWORD> ids;
    if (!GetChromeProcessIds(ids)) return false;
    std::vector<UniqueHandle> ended;
    for (DWORD id : ids) {
        UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
        if (process && ::TerminateProcess(process.get(), 0)) ended.push_back(std::move(process));
    }
    // Termination completes asynchronously: without this wait a process that is going away could still
    // be listed, and the caller would report Chrome as running.
    const DWORD start = ::GetTickCount();
    for (const auto& process : ended) {
        const DWORD spent = ::GetTickCount() - start;
        if (spent >= kTerminateWaitMs) break;
        ::WaitForSingleObject(process.get(), kTerminateWaitMs - spent);
    }
    return true;
}

bool CChrome::CloseChrome() {
    (void)CloseChromeWindows();
    if (!IsChromeRunning()) return true;
    (void)TerminateChrome();
    return !IsChromeRunning();
}

bool GetChromeAppPath(HKEY root, wchar_t* buffer) {
    buffer[0] = L'\0';
    UniqueHkey key;
    if (orlyn::OpenRegKey(root, kAppPathsKey, KEY_READ, RegView::Default, key) != ERROR_SUCCESS) return false;
    std::wstring value;
    if (orlyn::ReadRegString(key.get(), nullptr, MAX_PATH * sizeof(wchar_t), value) != ERROR_SUCCESS) return false;
    if (!orlyn::CopyFixed(buffer, MAX_PATH, value.c_str())) return false;
    ::PathUnquoteSpacesW(buffer);  // a hand-made registration may quote the path
    return true;
}

bool CChrome::RestartChrome() {
    if (!executables_.empty()) {
        bool result = false;
        for (const auto& path : executables_) result = LaunchChrome(path.c_str(), kRestoreSwitch);
        return result;
    }
    wchar_t path[MAX_PATH] = {};
    if (!GetChromeAppPath(HKEY_LOCAL_MACHINE, path) && !GetChromeAppPath(HKEY_CURRENT_USER, path)) return false;
    return LaunchChrome(path, kNoWindowSwitch);
}
