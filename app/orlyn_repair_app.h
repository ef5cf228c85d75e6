// The application object: initialises the process, asks for the start and runs the repair dialog.
#pragma once

#include <windows.h>

#include "framework/win_app.h"

class COrlynRepairApp : public CWinApp {
public:
    // True when the dialog ran, false when the user declined the start (no window, no file then) or the
    // command line asked for nothing to be done (usage, unknown switch).
    BOOL InitInstance() override;
    // The run's exit code (app/run_result.h).
    int ExitInstance() override { return exitCode_; }

    // The start confirmation (OK and Cancel, no owner); true on OK. Accepted without asking in an
    // unattended run.
    static bool ConfirmStart();

private:
    int exitCode_ = 0;
};
