// A folder that only administrators can change, for files that an elevated run leaves behind to be used
// later with administrator rights (a program started after a restart, a library that the event viewer
// loads). Its parent is the all-users application data folder, where any user may create folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orlyn {

// The folder's security: owner Administrators; full control for Administrators and SYSTEM, for the folder
// and everything made in it; nothing for anyone else; nothing inherited from the parent.
constexpr wchar_t kProtectedFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Creates the folder with that security, or takes over the folder that is already there: it is opened
// itself, never through a link, and must be a real folder (a link or junction there, or a file, is
// refused with ERROR_CANT_ACCESS_FILE or ERROR_DIRECTORY); then its owner becomes Administrators and its
// access list the protected one, on the folder that was opened. While it is held open nobody can rename
// it. Then every entry in it that keepNames does not name is deleted (whoever could write there before
// may have left a library that a program started from there would load); one that cannot be deleted
// makes the folder unusable. The kept files are the caller's to check or rewrite. Returns a Win32 error.
[[nodiscard]] DWORD PrepareProtectedFolder(const std::wstring& folder, const std::vector<std::wstring>& keepNames);

// Writes a new file of these bytes at path, never through what was there: an existing file of that name
// is deleted first (read-only or not), the new one is created (its security is the folder's) and read
// back through the same handle, which lets nobody else write meanwhile. Returns a Win32 error;
// ERROR_FILE_CORRUPT when what was read back differs.
[[nodiscard]] DWORD WriteProtectedFile(const std::wstring& path, const void* data, size_t size);

// Reads a whole file (at most maxBytes) through a handle that lets nobody write or delete it meanwhile.
[[nodiscard]] DWORD ReadWholeFile(const std::wstring& path, size_t maxBytes, std::string& bytes);

}  // namespace orlyn
