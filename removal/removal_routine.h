// The removal phase: ends the old module's processes, deletes its registry rows, folders and files,
// and ends with the removal browser step, whose result is the phase's result.
#pragma once

#include <functional>

#include "common/phase_progress.h"
#include "common/repair_folders.h"
#include "common/repair_log_writer.h"
#include "removal/log_handle.h"
#include "removal/removal_list.h"

// logHandle does the deleting and ending, writing its own lines; removeBrowserIntegration is the
// browser step that ends the phase.
bool RemoveOldModule(RepairLogWriter& log, CLogHandle& logHandle, PhaseProgress& progress,
                     const RepairFolders& repairFolders, const RemovalList& removalList,
                     const std::function<bool()>& removeBrowserIntegration);
