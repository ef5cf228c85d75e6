#include "common/protected_folder.h"

#include <sddl.h>
#include <aclapi.h>

#include <cstring>

#include "common/string_format.h"
#include "common/unique_handle.h"

namespace orlyn {
namespace {

// Enables one privilege of the process token for the scope and puts back its earlier state after.
class ScopedPrivilege {
public:
    explicit ScopedPrivilege(const wchar_t* name) {
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put())) return;
        TOKEN_PRIVILEGES wanted = {};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!::LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return;
        DWORD size = sizeof(previous_);
        adjusted_ = ::AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_), &previous_, &size) != FALSE;
    }
    ~ScopedPrivilege() {
        if (adjusted_) ::AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    ScopedPrivilege(const ScopedPrivilege&) = delete;
    ScopedPrivilege& operator=(const ScopedPrivilege&) = delete;

private:
    UniqueHandle token_;
    TOKEN_PRIVILEGES previous_ = {};
    bool adjusted_ = false;
};

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsPlainFile(DWORD attributes) { return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)); }

bool IsKept(const wchar_t* name, DWORD attributes, const std::vector<std::wstring>& keepNames) {
    if (!IsPlainFile(attributes)) return false;
    for (const std::wstring& kept : keepNames) {
        if (EqualsNoCase(name, kept.c_str())) return true;
    }
    return false;
}

DWORD DeleteEntries(const std::wstring& folder, const std::vector<std::wstring>& keepNames);

// Deletes a file, a link (itself, never what it names) or a folder with everything in it.
DWORD DeleteEntry(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !IsLink(attributes))
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ::DeleteFileW(path.c_str()) ? ERROR_SUCCESS : ::GetLastError();
    if (!IsLink(attributes)) {
        DWORD status = DeleteEntries(path, {});
        if (status != ERROR_SUCCESS) return status;
    }
    return ::RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : ::GetLastError();
}

// Deletes every entry of the folder but the kept files; returns the first failure.
DWORD DeleteEntries(const std::wstring& folder, const std::vector<std::wstring>& keepNames) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : ::GetLastError();
    DWORD result = ERROR_SUCCESS;
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
        if (IsKept(found.cFileName, found.dwFileAttributes, keepNames)) continue;
        DWORD status = DeleteEntry(folder + L"\\" + found.cFileName, found.dwFileAttributes);
        if (result == ERROR_SUCCESS) result = status;
    } while (::FindNextFileW(find.get(), &found));
    return result;
}

}  // namespace

DWORD PrepareProtectedFolder(const std::wstring& folder, const std::vector<std::wstring>& keepNames) {
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kProtectedFolderSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
        return ::GetLastError();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    if (!::CreateDirectoryW(folder.c_str(), &attributes)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS) return error;
    }

    // Whatever a user left there may deny us everything: these let an administrator open it for the
    // change of owner and access list all the same.
    ScopedPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    ScopedPrivilege restore(SE_RESTORE_NAME);
    // The folder itself, not what a link there names; without delete sharing nobody can rename it (and put
    // another folder in its place) while it is held.
    UniqueFileHandle handle(::CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return ::GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.get(), &info)) return ::GetLastError();
    // The handle is the authority on Windows. Wine opens what a Unix link names even when asked for the
    // link itself, and shows the link only in the folder's listing of it.
    if (IsLink(info.dwFileAttributes) || IsLink(::GetFileAttributesW(folder.c_str()))) return ERROR_CANT_ACCESS_FILE;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
    ::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    DWORD status = ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                         PROTECTED_DACL_SECURITY_INFORMATION,
                                     owner, nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS) return status;
    return DeleteEntries(folder, keepNames);
}

DWORD WriteProtectedFile(const std::wstring& path, const void* data, size_t size) {
    if (size > MAXDWORD) return ERROR_FILE_TOO_LARGE;
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (!IsPlainFile(attributes)) return ERROR_CANT_ACCESS_FILE;
        if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(path.c_str())) return ::GetLastError();
    }
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    DWORD status = ERROR_SUCCESS;
    DWORD written = 0;
    if (!::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size ||
        !::FlushFileBuffers(file.get())) {
        status = ::GetLastError();
        if (status == ERROR_SUCCESS) status = ERROR_WRITE_FAULT;
    }
    if (status == ERROR_SUCCESS) {
        std::string back(size, '\0');
        DWORD read = 0;
        if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0 ||
            !::ReadFile(file.get(), &back[0], static_cast<DWORD>(size), &read, nullptr))
            status = ::GetLastError();
        else if (read != size || std::memcmp(back.data(), data, size) != 0)
            status = ERROR_FILE_CORRUPT;
    }
    if (status != ERROR_SUCCESS) {
        file.reset();
        ::DeleteFileW(path.c_str());
    }
    return status;
}

DWORD ReadWholeFile(const std::wstring& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return ::GetLastError();
    if (static_cast<ULONGLONG>(size.QuadPart) > maxBytes || size.QuadPart > MAXDWORD) return ERROR_FILE_TOO_LARGE;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        DWORD error = ::GetLastError();
        bytes.clear();
        return error == ERROR_SUCCESS ? ERROR_READ_FAULT : error;
    }
    return ERROR_SUCCESS;
}

}  // namespace orlyn
