// The check phase: records which parts of the old module are present, row by row of the removal list,
// and registers the old module's controls again. It ends nothing and deletes nothing.
#pragma once

#include "common/phase_progress.h"
#include "common/repair_folders.h"
#include "common/repair_log_writer.h"
#include "diagnostics/acl_info.h"
#include "removal/removal_list.h"

// Begins with the access report, which replaces aclInfo's targets.
bool CheckOldModule(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                    const RemovalList& removalList, CACLInfo& aclInfo);
