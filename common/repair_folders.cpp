#include "common/repair_folders.h"

#include <shlobj.h>

#include <cwchar>
#include <string>

#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

namespace {

// HKLM "ProgramFilesDir", accepted only as a REG_SZ of at most 260 bytes.
bool ReadProgramFilesDir(wchar_t (&path)[MAX_PATH]) {
    orlyn::UniqueHkey key;
    std::wstring value;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_QUERY_VALUE,
                          orlyn::RegView::Default, key) != ERROR_SUCCESS)
        return false;
    if (orlyn::ReadRegString(key.get(), L"ProgramFilesDir", 260, value) != ERROR_SUCCESS || value.empty()) return false;
    return orlyn::CopyFixed(path, MAX_PATH, value.c_str());
}

void AppendBackslash(wchar_t (&path)[MAX_PATH]) {
    size_t length = wcslen(path);
    if (length == 0 || path[length - 1] == L'\\' || length + 1 >= MAX_PATH) return;
    path[length] = L'\\';
    path[length + 1] = L'\0';
}

}  // namespace

bool GetSpecialFolder(int csidl, wchar_t (&path)[MAX_PATH]) {
    path[0] = L'\0';
    if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        path[0] = L'\0';
        return false;
    }
    return path[0] != L'\0';
}

void ResolveRepairFolders(RepairFolders& folders) {
    if (!GetSpecialFolder(CSIDL_PROGRAM_FILES, folders.programFilesFolder) &&
        !ReadProgramFilesDir(folders.programFilesFolder))
        orlyn::CopyFixed(folders.programFilesFolder, MAX_PATH, L"C:\\Program Files");
    UINT length = ::GetWindowsDirectoryW(folders.windowsFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) orlyn::CopyFixed(folders.windowsFolder, MAX_PATH, L"C:\\Windows");

    GetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, folders.allUsersDesktopFolder);
    AppendBackslash(folders.allUsersDesktopFolder);
    GetSpecialFolder(CSIDL_DESKTOPDIRECTORY, folders.desktopFolder);
    AppendBackslash(folders.desktopFolder);
    GetSpecialFolder(CSIDL_COMMON_PROGRAMS, folders.allUsersProgramsFolder);
    AppendBackslash(folders.allUsersProgramsFolder);
    GetSpecialFolder(CSIDL_COMMON_APPDATA, folders.allUsersAppDataFolder);
}
