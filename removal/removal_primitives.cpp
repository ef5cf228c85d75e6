// The removal primitives for files and folders: delete one file, folder or folder tree each, and write
// the outcome through the log handle.
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/string_format.h"
#include "common/unique_handle.h"
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

// How a file or a folder is removed, and the lines its outcome writes.
struct RemovalKind {
    BOOL(WINAPI* remove)(const wchar_t* path);
    const wchar_t* successLine;
    const wchar_t* missingLine;
    const wchar_t* failureLine;  // takes the error code, then the path
};

const RemovalKind kFileRemoval = {::DeleteFileW, L"OK\tDeleteFile Success : %s\n",
                                  L"OK\tFile Does Not Exist : %s\n", L"Error\tDeleteFile Failure(%d) : %s\n"};
const RemovalKind kFolderRemoval = {::RemoveDirectoryW, L"OK\tDeleteFolder Success : %s\n",
                                    L"OK\tFolder Does Not Exist : %s\n",
                                    L"Error\tDeleteFolder Failure(%d) : %s\n"};

bool RemoveStep(CLogHandle& log, const RemovalKind& kind, const wchar_t* path) {
    if (kind.remove(path)) {
        log.WriteLog(kind.successLine, path);
        return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        log.WriteLog(kind.missingLine, path);
        return true;
    }
    // Typically in use: end the program that holds it, then one more try.
    if (log.CloseFileUsers(path)) {
        if (kind.remove(path)) {
            log.WriteLog(kind.successLine, path);
            return true;
        }
        error = ::GetLastError();
    }
    log.WriteLog(kind.failureLine, static_cast<int>(error), path);
    return false;
}

bool DeleteFileStep(CLogHandle& log, const wchar_t* path) { return RemoveStep(log, kFileRemoval, path); }

bool RemoveDirectoryStep(CLogHandle& log, const wchar_t* path) {
    return RemoveStep(log, kFolderRemoval, path);
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

const wchar_t* RefusalReason(orlyn::TreeRefusal refusal) {
    switch (refusal) {
    case orlyn::TreeRefusal::NotAbsolute: return L"not a full path";
    case orlyn::TreeRefusal::Root: return L"drive root";
    case orlyn::TreeRefusal::Protected: return L"system folder";
    case orlyn::TreeRefusal::NetworkPath: return L"network path";
    case orlyn::TreeRefusal::DevicePath: return L"device path";
    case orlyn::TreeRefusal::StreamName: return L"stream name";
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
        log.WriteLog(kFolderRemoval.failureLine, static_cast<int>(ERROR_FILENAME_EXCED_RANGE), path);
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
            log.WriteLog((folder ? kFolderRemoval : kFileRemoval).failureLine,
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

}  // namespace

bool PathIsFound(const wchar_t* path) {
    WIN32_FIND_DATAW data;
    orlyn::UniqueFindHandle find(::FindFirstFileW(path, &data));
    return find.valid();
}

bool CLogHandle::RemoveFile(const wchar_t* path) {
    if (RejectUnusablePath(*this, path, kFileRemoval.failureLine)) return false;
    // Unreadable attributes (all bits set) count as a folder, so a missing path ends up there.
    if (::GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryStep(*this, path);
    return DeleteFileStep(*this, path);
}

bool CLogHandle::RemoveFolder(const wchar_t* path) {
    if (RejectUnusablePath(*this, path, kFolderRemoval.failureLine)) return false;
    if (!(::GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileStep(*this, path);
    return RemoveDirectoryStep(*this, path);
}

bool CLogHandle::RemoveFolderTree(const wchar_t* path, bool removeRoot) {
    if (!path || !*path) return false;
    if (RejectUnusablePath(*this, path, kFolderRemoval.failureLine)) return false;
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
