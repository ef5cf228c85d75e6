// The cache clean-up phase: empties Internet Explorer's temporary internet files and cookies folders
// of the current user while the simulated progress timer runs.
#pragma once

#include "common/phase_host.h"
#include "common/phase_progress.h"
#include "common/repair_log_writer.h"
#include "removal/log_handle.h"

// Arms the progress timer on the host for the time it runs; completes the phase's items at the end.
bool ClearInternetCache(RepairLogWriter& log, CLogHandle& logHandle, PhaseProgress& progress,
                        PhaseHost& host);
