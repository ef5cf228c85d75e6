#include "app/run_finish.h"

#include <windows.h>

#include "app/protected_files.h"
#include "app/resume_copy.h"
#include "app/resume_entry.h"

namespace run_finish {

void FinishRun() {
    wchar_t programPath[MAX_PATH];
    if (resume_entry::GetProgramPath(programPath))
        resume_copy::RemoveResumeCopy(programPath, protected_files::AllUsersAppDataFolder());
}

}  // namespace run_finish
