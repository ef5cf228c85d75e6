#include "removal/path_guard.h"

#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "common/win_api.h"

namespace orlyn {

void SystemUpperCase(wchar_t* text, size_t length) { ::CharUpperBuffW(text, static_cast<DWORD>(length)); }

bool NormalizePathForCompare(const std::wstring& path, std::wstring& out) {
    return NormalizePathForCompare(path, SystemUpperCase, out);
}

TreeRefusal CheckTreePath(const std::wstring& path, const ProtectedFolders& protectedFolders) {
    if (IsDevicePath(path)) return TreeRefusal::DevicePath;
    std::wstring norm;
    if (!NormalizePathForCompare(path, norm)) return TreeRefusal::NotAbsolute;
    if (IsShareForm(norm)) return TreeRefusal::NetworkPath;
    if (HasStreamName(norm)) return TreeRefusal::StreamName;
    if (IsRootForm(norm)) return TreeRefusal::Root;

    for (const auto& folder : protectedFolders.folders) {
        std::wstring f;
        if (NormalizePathForCompare(folder, f) && IsSameOrAbove(norm, f)) return TreeRefusal::Protected;
    }
    for (const auto& parent : protectedFolders.parentsOfRoots) {
        std::wstring f;
        if (!NormalizePathForCompare(parent, f)) continue;
        if (IsSameOrAbove(norm, f) || IsDirectlyInside(norm, f)) return TreeRefusal::Protected;
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

// A mapped drive letter ("Z:" for "\\server\share") is a share under a drive's name.
bool IsOnNetworkDrive(const std::wstring& path) {
    std::wstring form;
    if (!NormalizePathForCompare(path, form) || IsShareForm(form)) return false;
    const wchar_t root[] = {form[0], L':', L'\\', 0};
    return ::GetDriveTypeW(root) == DRIVE_REMOTE;
}

}  // namespace

TreeRefusal CheckTreePathOnThisSystem(const wchar_t* path) {
    if (!path || !*path) return TreeRefusal::NotAbsolute;
    ProtectedFolders folders = GatherProtectedFolders();
    for (const auto& form : PathForms(path)) {
        TreeRefusal refusal = CheckTreePath(form, folders);
        if (refusal != TreeRefusal::None) return refusal;
        if (IsOnNetworkDrive(form)) return TreeRefusal::NetworkPath;
    }
    return TreeRefusal::None;
}

}  // namespace orlyn
