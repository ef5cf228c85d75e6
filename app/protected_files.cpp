#include "app/protected_files.h"

#include <shlobj.h>

#include "common/protected_folder.h"
#include "common/repair_folders.h"

namespace protected_files {

std::wstring FolderPath(const std::wstring& appDataRoot) {
    std::wstring root = appDataRoot;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    if (root.empty()) return std::wstring();
    return root + L"\\" + kFolderName;
}

std::wstring FilePath(const std::wstring& appDataRoot, const wchar_t* name) {
    std::wstring folder = FolderPath(appDataRoot);
    return folder.empty() ? folder : folder + L"\\" + name;
}

DWORD PrepareFolder(const std::wstring& appDataRoot) {
    std::wstring folder = FolderPath(appDataRoot);
    if (folder.empty()) return ERROR_PATH_NOT_FOUND;
    return orlyn::PrepareProtectedFolder(folder, {kResumeCopyName, kEventMessageDllName});
}

std::wstring AllUsersAppDataFolder() {
    wchar_t folder[MAX_PATH];
    return GetSpecialFolder(CSIDL_COMMON_APPDATA, folder) ? folder : L"";
}

}  // namespace protected_files
