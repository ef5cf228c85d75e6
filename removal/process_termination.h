// Ending processes by image name, and the notice shown before a program that holds a file is ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "removal/find_process.h"

// Whether a process of this image name must never be ended to free a file: the Windows shell and the
// processes Windows needs to keep running (ending one of them logs the user off or stops the system).
bool IsProcessNotToEnd(const wchar_t* imageName);

// What CloseFileUsers shows and ends for the users of a path.
struct FileUserNotice {
    std::vector<FileUser> toEnd;         // the users without those not to end, in order
    std::vector<std::wstring> logLines;  // a warning per user that is spared, in order
    std::wstring text;                   // the message box text
};

// Users not to end are left out of toEnd and get a warning line; once one is met, the users after
// it are no longer named in the text (they stay in toEnd).
FileUserNotice BuildFileUserNotice(const std::vector<FileUser>& users, const wchar_t* path);
