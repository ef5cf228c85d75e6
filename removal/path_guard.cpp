#include "removal/path_guard.h"

#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "common/win_api.h"

namespace orlyn {

namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

void SplitParts(const std::wstring& text, size_t from, std::vector<std::wstring>& parts) {
    size_t i = from;
    while (i < text.size()) {
        while (i < text.size() && IsSlash(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsSlash(text[i])) ++i;
        if (i > start) parts.push_back(text.substr(start, i - start));
    }
}

// Windows ignores trailing dots and spaces of a name, so "Windows. " names the Windows folder.
std::wstring TrimPart(const std::wstring& part) {
    if (part == L"." || part == L"..") return part;
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == L'.' || part[end - 1] == L' ')) --end;
    return part.substr(0, end);
}

std::wstring Upper(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// a is b, or a folder above b (both normalised).
bool IsSameOrAbove(const std::wstring& a, const std::wstring& b) {
    if (b.size() < a.size() || b.compare(0, a.size(), a) != 0) return false;
    return b.size() == a.size() || b[a.size()] == L'\\';
}

}  // namespace

bool NormalizePathForCompare(const std::wstring& path, std::wstring& out) {
    out.clear();
    std::wstring p = path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    // "\\?\C:\x" and "\\?\UNC\server\share\x" name the same things as "C:\x" and "\\server\share\x".
    if (p.compare(0, 4, L"\\\\?\\") == 0 || p.compare(0, 4, L"\\??\\") == 0) {
        p.erase(0, 4);
        if (p.size() >= 4 && Upper(p.substr(0, 4)) == L"UNC\\") p.replace(0, 3, L"\\");
    }

    if (p.find_first_of(L"*?") != std::wstring::npos) return false;  // a pattern names no one folder

    std::wstring prefix;
    std::vector<std::wstring> raw;
    size_t keep = 0;  // parts that ".." cannot climb above (server and share)
    if (p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\') {
        prefix = p.substr(0, 2);
        SplitParts(p, 3, raw);
    } else if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
        if (p.size() >= 3 && (p[2] == L'.' || p[2] == L'?')) return false;  // device paths
        prefix = L"\\";  // the second backslash comes with the server part
        SplitParts(p, 2, raw);
        if (raw.size() < 2) return false;  // a server without a share
        if (raw[0] == L"." || raw[0] == L".." || raw[1] == L"." || raw[1] == L"..") return false;
        keep = 2;
    } else {
        return false;
    }

    std::vector<std::wstring> parts;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::wstring part = i < keep ? raw[i] : TrimPart(raw[i]);
        if (i >= keep) {
            if (part.empty() || part == L".") continue;
            if (part == L"..") {
                if (parts.size() > keep) parts.pop_back();
                continue;
            }
        }
        parts.push_back(part);
    }

    // A drive root compares as "C:", a share root as "\\SERVER\SHARE".
    out = prefix;
    for (const auto& part : parts) out += L"\\" + part;
    out = Upper(out);
    return true;
}

TreeRefusal CheckTreePath(const std::wstring& path, const ProtectedFolders& protectedFolders) {
    std::wstring norm;
    if (!NormalizePathForCompare(path, norm)) return TreeRefusal::NotAbsolute;
    bool unc = norm.compare(0, 2, L"\\\\") == 0;
    size_t separators = 0;
    for (wchar_t c : norm)
        if (c == L'\\') ++separators;
    // "C:" has no separator left; "\\SERVER\SHARE" has three.
    if ((!unc && separators == 0) || (unc && separators == 3)) return TreeRefusal::Root;

    for (const auto& folder : protectedFolders.folders) {
        std::wstring f;
        if (NormalizePathForCompare(folder, f) && IsSameOrAbove(norm, f)) return TreeRefusal::Protected;
    }
    for (const auto& parent : protectedFolders.parentsOfRoots) {
        std::wstring f;
        if (!NormalizePathForCompare(parent, f)) continue;
        if (IsSameOrAbove(norm, f)) return TreeRefusal::Protected;
        size_t slash = norm.rfind(L'\\');
        if (slash != std::wstring::npos && norm.compare(0, slash, f) == 0 && slash == f.size())
            return TreeRefusal::Protected;
    }
    return TreeRefusal::None;
}

namespace {

void AddFolder(ProtectedFolders& folders, const wchar_t* path) {
    if (path && *path) folders.folders.emplace_back(path);
}

void AddSpecialFolder(ProtectedFolders& folders, int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) AddFolder(folders, path);
}

void AddRegistryFolder(ProtectedFolders& folders, const wchar_t* keyPath, const wchar_t* valueName,
                       RegView view) {
    UniqueHkey key;
    if (OpenRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE, view, key) != ERROR_SUCCESS) return;
    wchar_t data[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = MAX_PATH * sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return;
    if (type == REG_SZ) {
        AddFolder(folders, data);
    } else if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH] = {};
        DWORD n = ::ExpandEnvironmentStringsW(data, expanded, MAX_PATH);
        if (n > 0 && n <= MAX_PATH) AddFolder(folders, expanded);
    }
}

// The folders of the system and its users that no tree operation may empty, however a path names them.
ProtectedFolders GatherProtectedFolders() {
    ProtectedFolders folders;
    wchar_t path[MAX_PATH] = {};
    if (UINT n = ::GetWindowsDirectoryW(path, MAX_PATH); n > 0 && n < MAX_PATH) AddFolder(folders, path);
    if (UINT n = ::GetSystemDirectoryW(path, MAX_PATH); n > 0 && n < MAX_PATH) AddFolder(folders, path);
    using GetWow64DirFn = UINT(WINAPI*)(LPWSTR, UINT);
    if (auto getWow64Dir = LookupProc<GetWow64DirFn>(L"kernel32.dll", "GetSystemWow64DirectoryW")) {
        if (UINT n = getWow64Dir(path, MAX_PATH); n > 0 && n < MAX_PATH) AddFolder(folders, path);
    }
    const int specialFolders[] = {
        CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86,
        CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
        CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU,
        CSIDL_COMMON_DOCUMENTS,
        CSIDL_PROFILE, CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_APPDATA,
        CSIDL_LOCAL_APPDATA, CSIDL_PERSONAL,
    };
    for (int csidl : specialFolders) AddSpecialFolder(folders, csidl);
    // A 32-bit process sees "Program Files (x86)" as its Program Files; the 64-bit one is named here.
    const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramFilesDir", RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramFilesDir (x86)", RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramW6432Dir", RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"CommonFilesDir", RegView::Wow64_64);
    if (DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", path, MAX_PATH); n > 0 && n < MAX_PATH)
        AddFolder(folders, path);

    DWORD size = MAX_PATH;
    if (::GetProfilesDirectoryW(path, &size)) {
        AddFolder(folders, path);
        folders.parentsOfRoots.emplace_back(path);
    }
    // Profiles that live outside the profiles folder.
    const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    UniqueHkey list;
    if (OpenRegKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, RegView::Wow64_64, list) ==
        ERROR_SUCCESS) {
        AddRegistryFolder(folders, kProfileList, L"ProfilesDirectory", RegView::Wow64_64);
        for (DWORD i = 0; i < 4096; ++i) {
            wchar_t name[256];
            DWORD len = 256;
            if (::RegEnumKeyExW(list.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring sub = std::wstring(kProfileList) + L"\\" + name;
            AddRegistryFolder(folders, sub.c_str(), L"ProfileImagePath", RegView::Wow64_64);
        }
    }
    return folders;
}

// The names under which the system knows the path: as given, its long form (8.3 names expanded) and its
// final form (links in the middle of the path resolved).
std::vector<std::wstring> PathForms(const wchar_t* path) {
    std::vector<std::wstring> forms{path};
    wchar_t buffer[MAX_PATH] = {};
    if (DWORD n = ::GetLongPathNameW(path, buffer, MAX_PATH); n > 0 && n < MAX_PATH) forms.emplace_back(buffer);
    using GetFinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto getFinalPath =
        LookupProc<GetFinalPathFn>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    if (getFinalPath) {
        UniqueFileHandle file(::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        wchar_t finalPath[MAX_PATH + 8] = {};
        if (file) {
            DWORD n = getFinalPath(file.get(), finalPath, MAX_PATH + 8, 0);
            if (n > 0 && n < MAX_PATH + 8) forms.emplace_back(finalPath);
        }
    }
    return forms;
}

}  // namespace

TreeRefusal CheckTreePathOnThisSystem(const wchar_t* path) {
    if (!path || !*path) return TreeRefusal::NotAbsolute;
    ProtectedFolders folders = GatherProtectedFolders();
    for (const auto& form : PathForms(path)) {
        TreeRefusal refusal = CheckTreePath(form, folders);
        if (refusal != TreeRefusal::None) return refusal;
    }
    return TreeRefusal::None;
}

}  // namespace orlyn
