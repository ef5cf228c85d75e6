// The two browser steps: the removal step takes the scheme's exclusion out of Chrome and unregisters
// the scheme; the install step registers it again, gives Chrome the exclusion and starts Chrome again
// when one of the steps shut it down. chromeRestart is the flag between them: 1 while Chrome waits
// to be started again.
#pragma once

#include <windows.h>

#include "common/repair_log_writer.h"

// Ends the removal phase; its result is the phase's result.
bool RemoveBrowserIntegration(RepairLogWriter& log, LONG& chromeRestart);
// Ends the install's pre-approval step; false when the scheme could not be registered.
bool InstallBrowserIntegration(RepairLogWriter& log, LONG& chromeRestart);
