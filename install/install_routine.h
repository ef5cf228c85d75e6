// The install phase: repairs access to the module's COM keys, writes and registers every payload file,
// pre-approves the module's controls, registers the browser integration and the uninstall entry, makes
// sure the machine key file exists, checks the sign-on server and reports access once more.
#pragma once

#include <functional>

#include "common/phase_host.h"
#include "common/phase_progress.h"
#include "common/repair_folders.h"
#include "common/repair_log_writer.h"
#include "diagnostics/acl_info.h"
#include "install/payload_list.h"

// The host owns the reachability warning's box and gives the WOW64 answer; aclInfo holds the targets
// of the check's access report, which the install opens to Everyone.
bool InstallModule(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                   const PayloadList& payloadList, CACLInfo& aclInfo, const PhaseHost& host,
                   const std::function<bool()>& installBrowserIntegration);

// The install's steps. Writes every payload file to its target and registers it as its row says; an
// entry that fails is logged and the others still go.
bool InstallPayloadFiles(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                         const PayloadList& payloadList, const PhaseHost& host);
// Pre-approves the module's controls (and, on 64-bit Windows, its 64-bit ones), then runs the browser step.
bool RegisterPreApprovedControls(RepairLogWriter& log, const PhaseHost& host,
                                 const std::function<bool()>& installBrowserIntegration);
