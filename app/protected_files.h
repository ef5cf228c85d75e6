// The files that an elevated run leaves where only administrators can change them: the folder
// <all-users application data>\OrlynRepair (common/protected_folder.h) and what it holds.
#pragma once

#include <windows.h>

#include <string>

namespace protected_files {

constexpr wchar_t kFolderName[] = L"OrlynRepair";
// The program that the RunOnce entry starts after a restart.
constexpr wchar_t kResumeCopyName[] = L"OrlynRepair.exe";
// The message table that the event log's registration names.
constexpr wchar_t kEventMessageDllName[] = L"OrlynRepairEvents.dll";

// <appDataRoot>\OrlynRepair; empty when the root is empty (a folder on the current drive's root is never
// meant).
std::wstring FolderPath(const std::wstring& appDataRoot);
// The folder's file of that name; empty when the root is empty.
std::wstring FilePath(const std::wstring& appDataRoot, const wchar_t* name);

// Creates or takes over the folder with its protected access list and deletes everything in it but the
// files above. Returns a Win32 error (ERROR_PATH_NOT_FOUND for an empty root).
[[nodiscard]] DWORD PrepareFolder(const std::wstring& appDataRoot);

// The system's all-users application data folder (C:\ProgramData); empty when unknown.
std::wstring AllUsersAppDataFolder();

}  // namespace protected_files
