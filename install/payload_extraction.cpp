#include "install/payload_extraction.h"

#include "common/module_resource.h"
#include "common/unique_handle.h"
#include "install/file_security.h"
#include "install/payload_manifest_parse.h"

namespace {

bool IsFolder(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::wstring& path) {
    if (IsFolder(path)) return true;
    if (::CreateDirectoryW(path.c_str(), nullptr)) return true;
    // Another thread or process may have made it in between.
    DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsFolder(path)) return true;
    ::SetLastError(error);
    return false;
}

// Index of the first backslash whose prefix may be created: past the drive, or past "\\server\share".
size_t FirstCreatableSeparator(const std::wstring& folder) {
    if (folder.compare(0, 2, L"\\\\") == 0) {
        size_t server = folder.find(L'\\', 2);
        if (server == std::wstring::npos) return std::wstring::npos;
        size_t share = folder.find(L'\\', server + 1);
        return share;
    }
    return folder.find(L'\\');
}

HMODULE testPayloadModule = nullptr;

// The security attributes that newly written payload files get: every user may read, write, execute
// and delete them; null (the system's default) where that is not needed.
SECURITY_ATTRIBUTES* PayloadFileSecurityAttributes() { return CFileSecurity::Instance()->FileAttributes(); }

}  // namespace

HMODULE PayloadModule() { return testPayloadModule ? testPayloadModule : ::GetModuleHandleW(nullptr); }

void SetPayloadModuleForTesting(HMODULE module) { testPayloadModule = module; }

bool PayloadResourceBytes(WORD resourceId, const void** bytes, DWORD* size) {
    *bytes = nullptr;
    *size = 0;
    if (resourceId == 0) {  // id 0 is no resource; never hand FindResource a null name
        ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    return orlyn::FindModuleResource(PayloadModule(), RT_RCDATA, MAKEINTRESOURCEW(resourceId), bytes, size);
}

bool CreateFolderPath(const wchar_t* folder) {
    if (!folder || !*folder) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::wstring path(folder);
    if (path.size() >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (IsFolder(path)) return true;
    size_t first = FirstCreatableSeparator(path);
    if (first == std::wstring::npos) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    for (size_t sep = path.find(L'\\', first + 1); sep != std::wstring::npos; sep = path.find(L'\\', sep + 1)) {
        std::wstring prefix = path.substr(0, sep);
        if (prefix.back() == L'\\') continue;  // a doubled backslash adds no level
        if (!MakeFolder(prefix)) return false;
    }
    return MakeFolder(path);
}

bool CreateParentFolder(const wchar_t* filePath) {
    if (!filePath) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::wstring path(filePath);
    size_t last = path.rfind(L'\\');
    if (last == std::wstring::npos) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return CreateFolderPath(path.substr(0, last).c_str());
}

std::wstring ExpandPathMacros(const wchar_t* path, const RepairFolders& folders) {
    return ExpandPathMacroText(path ? path : L"", folders.windowsFolder, folders.programFilesFolder,
                               folders.allUsersAppDataFolder);
}

bool ExtractResourceToFile(WORD resourceId, const wchar_t* path) {
    if (!path || !*path) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (::wcslen(path) >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    (void)CreateParentFolder(path);  // a missing folder makes the creation below fail

    const void* bytes = nullptr;
    DWORD size = 0;
    if (!PayloadResourceBytes(resourceId, &bytes, &size)) return false;

    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               PayloadFileSecurityAttributes(), CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (::WriteFile(file.get(), bytes, size, &written, nullptr) && written == size) return true;
    // A cut-off copy of a program is worse than none: remove it, keep the reason.
    DWORD error = ::GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
    file.reset();
    ::DeleteFileW(path);
    ::SetLastError(error);
    return false;
}
