// The removal primitives: delete one file, folder, folder tree, registry key or value each, and write the
// outcome through the log handle.
#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include <cwchar>
#include <string>

#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/win_api.h"
#include "removal/log_handle.h"
#include "removal/path_guard.h"

namespace {

// Read-only or system: the tree walks clear these before deleting.
constexpr DWORD kProtectedMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool FitsMaxPath(const wchar_t* path) { return wcsnlen(path, MAX_PATH) < MAX_PATH; }

bool EndsWithBackslash(const wchar_t* path) {
    size_t len = wcslen(path);
    return len > 0 && path[len - 1] == L'\\';
}

// parent + (backslash unless parent ends in one) + name into a MAX_PATH buffer; false when it does not fit.
bool BuildChildPath(const wchar_t* parent, bool parentEndsWithBackslash, const wchar_t* name,
                    wchar_t (&out)[MAX_PATH]) {
    return orlyn::Format(out, MAX_PATH, parentEndsWithBackslash ? L"%s%s" : L"%s\\%s", parent, name);
}

std::wstring JoinForLog(const wchar_t* parent, bool parentEndsWithBackslash, const wchar_t* name) {
    std::wstring text = parent;
    if (!parentEndsWithBackslash) text += L'\\';
    return text + name;
}

bool DeleteFileStep(CLogHandle& log, const wchar_t* path) {
    if (::DeleteFileW(path)) {
        log.WriteLog(L"OK\tDeleteFile Success : %s\n", path);
        return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        log.WriteLog(L"OK\tFile Does Not Exist : %s\n", path);
        return true;
    }
    // Typically in use: end the program that holds it, then one more try.
    if (log.CloseFileUsers(path)) {
        if (::DeleteFileW(path)) {
            log.WriteLog(L"OK\tDeleteFile Success : %s\n", path);
            return true;
        }
        error = ::GetLastError();
    }
    log.WriteLog(L"Error\tDeleteFile Failure(%d) : %s\n", static_cast<int>(error), path);
    return false;
}

bool RemoveDirectoryStep(CLogHandle& log, const wchar_t* path) {
    if (::RemoveDirectoryW(path)) {
        log.WriteLog(L"OK\tDeleteFolder Success : %s\n", path);
        return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        log.WriteLog(L"OK\tFolder Does Not Exist : %s\n", path);
        return true;
    }
    if (log.CloseFileUsers(path)) {
        if (::RemoveDirectoryW(path)) {
            log.WriteLog(L"OK\tDeleteFolder Success : %s\n", path);
            return true;
        }
        error = ::GetLastError();
    }
    log.WriteLog(L"Error\tDeleteFolder Failure(%d) : %s\n", static_cast<int>(error), path);
    return false;
}

// A path that cannot be used at all: absent, or longer than the system's path buffers.
bool RejectUnusablePath(CLogHandle& log, const wchar_t* path, const wchar_t* failureFormat) {
    if (!path || !*path) {
        log.WriteLog(failureFormat, static_cast<int>(ERROR_INVALID_NAME), L"");
        return true;
    }
    if (!FitsMaxPath(path)) {
        log.WriteLog(failureFormat, static_cast<int>(ERROR_FILENAME_EXCED_RANGE), path);
        return true;
    }
    return false;
}

void AddFolder(orlyn::ProtectedFolders& folders, const wchar_t* path) {
    if (path && *path) folders.folders.emplace_back(path);
}

void AddSpecialFolder(orlyn::ProtectedFolders& folders, int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) AddFolder(folders, path);
}

void AddRegistryFolder(orlyn::ProtectedFolders& folders, const wchar_t* keyPath, const wchar_t* valueName,
                       orlyn::RegView view) {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE, view, key) != ERROR_SUCCESS) return;
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
orlyn::ProtectedFolders GatherProtectedFolders() {
    orlyn::ProtectedFolders folders;
    wchar_t path[MAX_PATH] = {};
    if (UINT n = ::GetWindowsDirectoryW(path, MAX_PATH); n > 0 && n < MAX_PATH) AddFolder(folders, path);
    if (UINT n = ::GetSystemDirectoryW(path, MAX_PATH); n > 0 && n < MAX_PATH) AddFolder(folders, path);
    using GetWow64DirFn = UINT(WINAPI*)(LPWSTR, UINT);
    if (auto getWow64Dir = orlyn::LookupProc<GetWow64DirFn>(L"kernel32.dll", "GetSystemWow64DirectoryW")) {
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
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramFilesDir", orlyn::RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramFilesDir (x86)", orlyn::RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"ProgramW6432Dir", orlyn::RegView::Wow64_64);
    AddRegistryFolder(folders, kCurrentVersion, L"CommonFilesDir", orlyn::RegView::Wow64_64);
    if (DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", path, MAX_PATH); n > 0 && n < MAX_PATH)
        AddFolder(folders, path);

    DWORD size = MAX_PATH;
    if (::GetProfilesDirectoryW(path, &size)) {
        AddFolder(folders, path);
        folders.parentsOfRoots.emplace_back(path);
    }
    // Profiles that live outside the profiles folder.
    const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    orlyn::UniqueHkey list;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, orlyn::RegView::Wow64_64, list) ==
        ERROR_SUCCESS) {
        AddRegistryFolder(folders, kProfileList, L"ProfilesDirectory", orlyn::RegView::Wow64_64);
        for (DWORD i = 0; i < 4096; ++i) {
            wchar_t name[256];
            DWORD len = 256;
            if (::RegEnumKeyExW(list.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring sub = std::wstring(kProfileList) + L"\\" + name;
            AddRegistryFolder(folders, sub.c_str(), L"ProfileImagePath", orlyn::RegView::Wow64_64);
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
        orlyn::LookupProc<GetFinalPathFn>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    if (getFinalPath) {
        orlyn::UniqueFileHandle file(::CreateFileW(path, FILE_READ_ATTRIBUTES,
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

const wchar_t* RefusalReason(orlyn::TreeRefusal refusal) {
    switch (refusal) {
    case orlyn::TreeRefusal::NotAbsolute: return L"not a full path";
    case orlyn::TreeRefusal::Root: return L"drive root";
    case orlyn::TreeRefusal::Protected: return L"system folder";
    case orlyn::TreeRefusal::None: break;
    }
    return L"";
}

// Whether a tree operation may walk the path; writes the refusal line when not.
bool MayWalkTree(CLogHandle& log, const wchar_t* path) {
    orlyn::TreeRefusal refusal = orlyn::CheckTreePathOnThisSystem(path);
    if (refusal == orlyn::TreeRefusal::None) return true;
    log.WriteLog(L"Error\tDeleteFolder Refused (%s) : %s\n", RefusalReason(refusal), path);
    return false;
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The path without trailing backslashes, except for a drive root. "link\\" names what a link points to,
// so only the trimmed form shows the link.
std::wstring TrimTrailingBackslashes(const wchar_t* path) {
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == L'\\') trimmed.pop_back();
    if (trimmed.size() == 2 && trimmed[1] == L':') trimmed += L'\\';
    return trimmed;
}

// Whether the folder a tree operation starts from is itself a link.
bool IsLinkPath(const std::wstring& trimmed) {
    if (IsLink(::GetFileAttributesW(trimmed.c_str()))) return true;
    // As the parent's listing shows it, which is how the walks see every other folder.
    WIN32_FIND_DATAW entry;
    orlyn::UniqueFindHandle find(::FindFirstFileW(trimmed.c_str(), &entry));
    return find && IsLink(entry.dwFileAttributes);
}

bool WalkAndRemove(CLogHandle& log, const wchar_t* path) {
    bool slash = EndsWithBackslash(path);
    wchar_t pattern[MAX_PATH];
    if (!orlyn::Format(pattern, MAX_PATH, slash ? L"%s*.*" : L"%s\\*.*", path)) {
        log.WriteLog(L"Error\tDeleteFolder Failure(%d) : %s\n", static_cast<int>(ERROR_FILENAME_EXCED_RANGE), path);
        return false;
    }
    bool result = true;
    WIN32_FIND_DATAW entry;
    orlyn::UniqueFindHandle find(::FindFirstFileW(pattern, &entry));
    if (!find) return result;
    do {
        bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && IsDotEntry(entry.cFileName)) continue;
        wchar_t child[MAX_PATH];
        if (!BuildChildPath(path, slash, entry.cFileName, child)) {
            // A cut name would name some other file: report the whole path and leave it.
            log.WriteLog(folder ? L"Error\tDeleteFolder Failure(%d) : %s\n" : L"Error\tDeleteFile Failure(%d) : %s\n",
                         static_cast<int>(ERROR_FILENAME_EXCED_RANGE),
                         JoinForLog(path, slash, entry.cFileName).c_str());
            result = false;
            continue;
        }
        if (IsLink(entry.dwFileAttributes)) {
            // Remove the link itself; never go through it, never change what it points to.
            if (!(folder ? RemoveDirectoryStep(log, child) : DeleteFileStep(log, child))) result = false;
            continue;
        }
        // The listing already tells file from folder, so the removal need not ask again.
        if (folder) {
            WalkAndRemove(log, child);  // the folder's own removal below tells whether it got empty
            if (entry.dwFileAttributes & kProtectedMask) ::SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
            if (!RemoveDirectoryStep(log, child)) result = false;
        } else {
            if (entry.dwFileAttributes & kProtectedMask) ::SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileStep(log, child)) result = false;
        }
    } while (::FindNextFileW(find.get(), &entry));
    return result;
}

void WalkAndClear(const wchar_t* path) {
    bool slash = EndsWithBackslash(path);
    wchar_t pattern[MAX_PATH];
    if (!orlyn::Format(pattern, MAX_PATH, slash ? L"%s*" : L"%s\\*", path)) return;
    WIN32_FIND_DATAW entry;
    orlyn::UniqueFindHandle find(::FindFirstFileW(pattern, &entry));
    if (!find) return;
    do {
        bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && IsDotEntry(entry.cFileName)) continue;
        // Internet Explorer keeps its index open; it and the folders that hold it stay.
        if (!folder && wcscmp(entry.cFileName, L"index.dat") == 0) continue;
        wchar_t child[MAX_PATH];
        if (!BuildChildPath(path, slash, entry.cFileName, child)) continue;
        if (IsLink(entry.dwFileAttributes)) {
            if (folder)
                ::RemoveDirectoryW(child);
            else
                ::DeleteFileW(child);
            continue;
        }
        if (folder) WalkAndClear(child);
        if (entry.dwFileAttributes & kProtectedMask) ::SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
        if (folder)
            ::RemoveDirectoryW(child);
        else
            ::DeleteFileW(child);
    } while (::FindNextFileW(find.get(), &entry));
}

// "HKLM\\", "HKCU\\", or nothing for any other root.
const wchar_t* RegistryPrefix(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return L"HKLM\\";
    if (root == HKEY_CURRENT_USER) return L"HKCU\\";
    return L"";
}

// An empty key path would open the root itself and delete everything below it.
bool IsUsableKeyPath(const wchar_t* keyPath) {
    return keyPath && keyPath[wcsspn(keyPath, L"\\")] != L'\0';
}

LONG DeleteKeyTree(HKEY root, const wchar_t* keyPath) {
    orlyn::UniqueHkey key;
    LONG rc = orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key);
    if (rc != ERROR_SUCCESS) return rc;
    // Always the first remaining subkey: a subkey that cannot go stops the loop (and the parent stays).
    for (;;) {
        wchar_t name[260];
        DWORD len = 260;
        if (::RegEnumKeyExW(key.get(), 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (DeleteKeyTree(key.get(), name) != ERROR_SUCCESS) break;
    }
    key.reset();
    return ::RegDeleteKeyW(root, keyPath);
}

}  // namespace

orlyn::TreeRefusal orlyn::CheckTreePathOnThisSystem(const wchar_t* path) {
    if (!path || !*path) return TreeRefusal::NotAbsolute;
    ProtectedFolders folders = GatherProtectedFolders();
    for (const auto& form : PathForms(path)) {
        TreeRefusal refusal = CheckTreePath(form, folders);
        if (refusal != TreeRefusal::None) return refusal;
    }
    return TreeRefusal::None;
}

bool CLogHandle::RemoveFile(const wchar_t* path) {
    if (RejectUnusablePath(*this, path, L"Error\tDeleteFile Failure(%d) : %s\n")) return false;
    // Unreadable attributes (all bits set) count as a folder, so a missing path ends up there.
    if (::GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryStep(*this, path);
    return DeleteFileStep(*this, path);
}

bool CLogHandle::RemoveFolder(const wchar_t* path) {
    if (RejectUnusablePath(*this, path, L"Error\tDeleteFolder Failure(%d) : %s\n")) return false;
    if (!(::GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileStep(*this, path);
    return RemoveDirectoryStep(*this, path);
}

bool CLogHandle::RemoveFolderTree(const wchar_t* path, bool removeRoot) {
    if (!path || !*path) return false;
    if (RejectUnusablePath(*this, path, L"Error\tDeleteFolder Failure(%d) : %s\n")) return false;
    if (!MayWalkTree(*this, path)) return false;
    std::wstring trimmed = TrimTrailingBackslashes(path);
    if (IsLinkPath(trimmed)) {
        if (!removeRoot) {
            WriteLog(L"Error\tDeleteFolder Refused (%s) : %s\n", L"link", path);
            return false;
        }
        return RemoveFolder(trimmed.c_str());  // the link itself, nothing behind it
    }
    bool result = WalkAndRemove(*this, path);
    if (removeRoot) {
        ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (!RemoveFolder(path)) result = false;
    }
    return result;
}

void CLogHandle::ClearFolderContents(const wchar_t* path) {
    if (!path || !*path || !FitsMaxPath(path)) return;
    if (!MayWalkTree(*this, path)) return;
    if (IsLinkPath(TrimTrailingBackslashes(path))) {
        WriteLog(L"Error\tDeleteFolder Refused (%s) : %s\n", L"link", path);
        return;
    }
    WalkAndClear(path);
}

LONG CLogHandle::RemoveRegKey(HKEY root, const wchar_t* keyPath, bool report) {
    const wchar_t* prefix = RegistryPrefix(root);
    if (!IsUsableKeyPath(keyPath)) {
        if (!report) return ERROR_INVALID_PARAMETER;
        WriteLog(L"Error\tDelete RegKey Failure : %s%s\n", prefix, keyPath ? keyPath : L"");
        return FALSE;
    }
    LONG rc = DeleteKeyTree(root, keyPath);
    if (!report) return rc;
    // Gone only when the system says it is not there; a key we may not open still exists.
    orlyn::UniqueHkey key;
    LONG reopen = orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key);
    if (reopen == ERROR_FILE_NOT_FOUND) {
        WriteLog(L"OK\tDelete RegKey Success : %s%s\n", prefix, keyPath);
        return TRUE;
    }
    WriteLog(L"Error\tDelete RegKey Failure : %s%s\n", prefix, keyPath);
    return FALSE;
}

bool CLogHandle::RemoveRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName) {
    const wchar_t* prefix = RegistryPrefix(root);
    const wchar_t* name = valueName ? valueName : L"";
    orlyn::UniqueHkey key;
    if (keyPath && orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key) == ERROR_SUCCESS &&
        ::RegDeleteValueW(key.get(), valueName) == ERROR_SUCCESS) {
        WriteLog(L"OK\tDelete RegValue Success : %s%s\\%s\n", prefix, keyPath, name);
        return true;
    }
    WriteLog(L"Error\tDelete RegValue Failure : %s%s\\%s\n", prefix, keyPath ? keyPath : L"", name);
    return false;
}
