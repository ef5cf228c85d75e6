// Helpers of the removal primitives' and removal list's tests: a log handle writing to a temporary log,
// symbolic links made the way the system allows, and files beyond MAX_PATH.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/string_format.h"
#include "common/win_api.h"
#include "support/temp_log.h"
#include "support/test_support.h"

namespace removal_test {

// A log handle that owns a log stream of a temporary file (the shared one, under the name these suites
// know it by).
using LogCapture = testing_support::TempLogHandle;

// The Unix path of a Windows path under Wine; empty elsewhere or on failure.
inline std::string UnixPath(const std::wstring& windowsPath) {
    using ToUnixFn = char*(CDECL*)(LPCWSTR);
    auto toUnix = orlyn::LookupProc<ToUnixFn>(L"kernel32.dll", "wine_get_unix_file_name");
    if (!toUnix) return {};
    char* unix = toUnix(windowsPath.c_str());
    if (!unix) return {};
    std::string result = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// Starts a Unix program under Wine (e.g. "/bin/ln") with the arguments. Wine hands back no usable
// process handle for it (waiting fails with ERROR_INVALID_HANDLE), so callers wait for its effect.
inline bool StartUnixProgram(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring cmd = L"Z:" + program;
    for (auto& c : cmd)
        if (c == L'/') c = L'\\';
    std::wstring line = L"\"" + cmd + L"\"";
    for (const auto& a : args) line += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    orlyn::UniqueHandle process(pi.hProcess);
    orlyn::UniqueHandle thread(pi.hThread);
    return true;
}

// A symbolic link to a folder: a Unix link under Wine (the only kind it shows as a reparse point),
// CreateSymbolicLinkW elsewhere. False when the system does not let us make one.
inline bool MakeFolderLink(const std::wstring& target, const std::wstring& link) {
    if (testing_support::RunningUnderWine()) {
        std::string unixTarget = UnixPath(target);
        std::string unixLink = UnixPath(link);
        if (unixTarget.empty() || unixLink.empty()) return false;
        if (!StartUnixProgram(L"/bin/ln", {"-s", unixTarget, unixLink})) return false;
        return testing_support::WaitUntil(
            [&] {
                DWORD a = ::GetFileAttributesW(link.c_str());
                return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
            },
            10000);
    }
    using CreateLinkFn = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    auto createLink = orlyn::LookupProc<CreateLinkFn>(L"kernel32.dll", "CreateSymbolicLinkW");
    return createLink && createLink(link.c_str(), target.c_str(), 1 /* SYMBOLIC_LINK_FLAG_DIRECTORY */);
}

// Removes a link made by MakeFolderLink (under Wine only a Unix program can).
inline void RemoveFolderLink(const std::wstring& link) {
    if (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (testing_support::RunningUnderWine()) {
        std::string unixLink = UnixPath(link);
        if (!unixLink.empty() && StartUnixProgram(L"/bin/rm", {"-f", unixLink}))
            testing_support::WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; },
                                       10000);
        return;
    }
    ::RemoveDirectoryW(link.c_str());
}

inline bool MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    if (!testing_support::WriteFileBytes(path, "x")) return false;
    return attributes == FILE_ATTRIBUTE_NORMAL || ::SetFileAttributesW(path.c_str(), attributes);
}

// A log line made from a format and a path (and an error code), as the primitives write it.
inline std::wstring Line(const wchar_t* format, const std::wstring& path) {
    return orlyn::FormatString(format, path.c_str());
}

inline std::wstring Line(const wchar_t* format, int code, const std::wstring& path) {
    return orlyn::FormatString(format, code, path.c_str());
}

// A special folder of this system; empty when unknown.
inline std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
    return path;
}

}  // namespace removal_test
