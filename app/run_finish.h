// What every run does last, once its dialog has closed (or the start was declined).
#pragma once

#include <string>
#include <vector>

#include "app/run_event.h"
#include "app/run_result.h"

class COrlynRepairDlg;

namespace run_finish {

// A run past the start confirmation leaves its one entry in the Application event log (registering the
// event source first when needed); what fails there is added to the repair log where it now is and
// changes nothing else. A run started from the resume copy removes it (at the next restart when the
// running image cannot be deleted now), unless the RunOnce entry starts it again.
void FinishRun(const run_result::RunEnd& end, const COrlynRepairDlg& dialog, int exitCode);

// The entry of a copy that stood down because another repair was running (exit code 1618). Call it
// after the command line was applied; it touches nothing else (no registration, no log: the other
// run's are not this one's).
void ReportStandDown();

// What the entry says about a run that ended so.
run_event::RunFacts FactsOf(const run_result::RunEnd& end, const COrlynRepairDlg& dialog, int exitCode);

// Adds entries (each a message as WriteLog takes it, without the line end) to a closed repair log,
// timestamped as the log writes them. False when the file cannot be opened or written.
bool AppendLogEntries(const std::wstring& logPath, const std::vector<std::wstring>& messages);

}  // namespace run_finish
