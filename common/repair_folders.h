// The six folders the repair works in: where the module's files go and where the old module left its own.
#pragma once

#include <windows.h>

struct RepairFolders {
    wchar_t windowsFolder[MAX_PATH] = {};
    wchar_t programFilesFolder[MAX_PATH] = {};
    wchar_t allUsersDesktopFolder[MAX_PATH] = {};    // trailing backslash
    wchar_t desktopFolder[MAX_PATH] = {};            // trailing backslash
    wchar_t allUsersProgramsFolder[MAX_PATH] = {};   // trailing backslash
    wchar_t allUsersAppDataFolder[MAX_PATH] = {};    // no trailing backslash
};

// Fills the six folders from the system. Program Files falls back to HKLM "ProgramFilesDir" and then to
// "C:\\Program Files", the Windows folder to "C:\\Windows"; the others stay empty when unknown.
void ResolveRepairFolders(RepairFolders& folders);

// A special folder (created if missing); empty when it cannot be obtained.
bool GetSpecialFolder(int csidl, wchar_t (&path)[MAX_PATH]);
