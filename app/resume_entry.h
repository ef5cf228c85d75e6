// Resuming after a restart: the RunOnce entry that starts the program again with --start.
#pragma once

#include <windows.h>

#include <string>

namespace resume_entry {

// "\"<program path>\" --start", followed in an unattended run by its switches. The path is quoted so
// that a folder with blanks starts this program and not a program named by the path's first word.
std::wstring BuildResumeCommand(const wchar_t* programPath);

// Whether a command line asks for the resumed start: "--start" anywhere in it (case-sensitive).
bool HasStartArgument(const wchar_t* commandLine);

// Writes HKLM RunOnce "OrlynComCleaner" = the resume command. Returns a Win32 error code.
[[nodiscard]] LONG WriteResumeEntry(const wchar_t* programPath);
// Deletes the value when it exists; true when it is gone afterwards.
bool RemoveResumeEntry();
// Reads the value; false when it does not exist.
bool ReadResumeEntry(std::wstring& command);

// This program's own full path; false when it does not fit MAX_PATH.
bool GetProgramPath(wchar_t (&path)[MAX_PATH]);

// Enables SeShutdownPrivilege in the process token; true when it was enabled.
bool EnableShutdownPrivilege();

// The restart request's flags and reason.
constexpr UINT kRestartFlags = EWX_REBOOT | EWX_FORCE;
constexpr DWORD kRestartReason =
    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

}  // namespace resume_entry
