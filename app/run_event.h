// Each run's outcome in the Application event log, under the program's own event source, as installers
// leave theirs: one entry at the end of a run, which an administrator collects with the rest of the log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/run_mode.h"

namespace run_event {

constexpr wchar_t kSourceName[] = L"OrlynRepair";
// The source's registration (HKLM\SYSTEM is one key for 32-bit and 64-bit programs).
constexpr wchar_t kRegistrationKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OrlynRepair";
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// What the entry says about a run: its five insertion strings, in the messages' order.
struct RunFacts {
    int exitCode = 0;
    RunMode mode = RunMode::Interactive;
    std::wstring failedPhase;  // empty: none
    bool resumed = false;      // started by the RunOnce entry after a restart (--start)
    std::wstring logPath;      // where the log is now; empty: nowhere
};

// The message (its full ID, as the message table defines it) and the entry type of an exit code:
// information for success, warning for a restart (3010, 1641) and for standing down (1618), error for a
// failure (1603), a cancel (1602) and anything else.
struct EventKind {
    DWORD messageId;
    WORD type;
};
EventKind EventFor(int exitCode);
// The event ID that Event Viewer and queries show: the message ID's low 16 bits.
inline WORD ShownEventId(DWORD messageId) { return LOWORD(messageId); }

// The phase that the run failed or was stopped in, by the dialog's states: "초기화" when the sequence
// never started, the phase of the failure state's previous state, the removal for the restart state,
// the running phase for a close during a phase; empty after success.
std::wstring PhaseOf(bool sequenceStarted, int state, int previousState);
const wchar_t* ModeName(RunMode mode);
std::vector<std::wstring> InsertionStrings(const RunFacts& facts);

// Writes the message library into the protected folder (when it is not there as the program carries it)
// and the source's registration naming it (when it does not already). Returns the repair log's entries
// for what failed; empty when all is in place.
std::vector<std::wstring> RegisterEventSource(const std::wstring& appDataRoot);

// Reports the run's one entry. Returns the repair log's entries for a failure; empty on success.
std::vector<std::wstring> ReportRun(const RunFacts& facts);

}  // namespace run_event
