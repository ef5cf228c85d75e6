// The copy of the program that the RunOnce entry starts after a restart. The program's own path may be
// gone by then (a download or staging folder) or hold a file that a standard user replaced; the copy
// lives in the protected folder (app/protected_files.h), where only administrators can change it.
#pragma once

#include <windows.h>

#include <string>

namespace resume_copy {

// The step at which making the copy failed.
enum class Step {
    None,             // the copy is made and checked
    ReadProgram,      // the program's file could not be read
    NotTheProgram,    // the file at the program's path is not the running program
    PrepareFolder,    // the protected folder could not be made or taken over
    WriteCopy,        // the copy could not be written or read back
};

// The reason of a failed step, for the repair log.
const wchar_t* StepText(Step step);

// Copies the running program, read from programPath, into the protected folder under appDataRoot, after
// checking that the file is the running image, and reads the copy back. On success copyPath is the copy.
// When the running program is that copy already (a resumed run that needs another restart), it is kept as
// it is. On failure error is the Win32 error of the step.
Step MakeResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot, std::wstring& copyPath,
                    DWORD& error);

// Whether programPath names the copy under appDataRoot.
bool IsResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot);

enum class Removal {
    NotTheCopy,     // the program did not run from the copy: nothing done
    KeptForResume,  // the RunOnce entry starts the copy again after the next restart
    Deleted,
    AtNextRestart,  // a running image cannot be deleted: it goes at the next restart
    Failed,
};

// Called as a run ends: removes the copy it ran from, unless the RunOnce entry starts it again.
Removal RemoveResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot);

}  // namespace resume_copy
