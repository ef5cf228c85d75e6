#include "app/run_finish.h"

#include <windows.h>

#include "app/orlyn_repair_dlg.h"
#include "app/protected_files.h"
#include "app/resume_copy.h"
#include "app/resume_entry.h"
#include "common/log_stream.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "framework/unattended.h"

namespace run_finish {
namespace {

bool IsResumedRun() { return resume_entry::HasStartArgument(::GetCommandLineW()); }

}  // namespace

run_event::RunFacts FactsOf(const run_result::RunEnd& end, const COrlynRepairDlg& dialog, int exitCode) {
    run_event::RunFacts facts;
    facts.exitCode = exitCode;
    facts.mode = unattended::Current().mode;
    facts.failedPhase = run_event::PhaseOf(end.dialogRan && dialog.sequenceStarted != 0, dialog.sequenceState,
                                           dialog.PreviousState());
    facts.resumed = IsResumedRun();
    facts.logPath = dialog.FinalLogPath();
    // After an initialisation error the log is deleted; the /log copy is then the only one.
    const std::wstring& copy = unattended::Current().logCopyPath;
    if (facts.logPath.empty() && !copy.empty() && ::GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES)
        facts.logPath = copy;
    return facts;
}

bool AppendLogEntries(const std::wstring& logPath, const std::vector<std::wstring>& messages) {
    orlyn::UniqueFileHandle file(::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::wstring text;
    for (const std::wstring& message : messages) text += orlyn::FormatLogTime() + L"\t" + message + L"\r\n";
    std::string bytes = orlyn::ToUtf8(text);
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void FinishRun(const run_result::RunEnd& end, const COrlynRepairDlg& dialog, int exitCode) {
    std::wstring appData = protected_files::AllUsersAppDataFolder();
    if (end.started) {
        run_event::RunFacts facts = FactsOf(end, dialog, exitCode);
        std::vector<std::wstring> failures = run_event::RegisterEventSource(appData);
        std::vector<std::wstring> reported = run_event::ReportRun(facts);
        failures.insert(failures.end(), reported.begin(), reported.end());
        // The entry never changes the outcome: what failed is only logged.
        if (!failures.empty() && !dialog.FinalLogPath().empty()) AppendLogEntries(dialog.FinalLogPath(), failures);
    }
    wchar_t programPath[MAX_PATH];
    if (resume_entry::GetProgramPath(programPath)) resume_copy::RemoveResumeCopy(programPath, appData);
}

void ReportStandDown() {
    run_event::RunFacts facts;
    facts.exitCode = run_result::kAnotherRunActive;
    facts.mode = unattended::Current().mode;
    facts.resumed = IsResumedRun();
    (void)run_event::ReportRun(facts);
}

}  // namespace run_finish
