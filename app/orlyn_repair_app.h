// The application object: initialises the process, asks for the start and runs the repair dialog.
#pragma once

#include <windows.h>

#include <memory>

#include "app/run_guard.h"
#include "app/run_result.h"
#include "framework/win_app.h"

class COrlynRepairDlg;

class COrlynRepairApp : public CWinApp {
public:
    // True when the dialog ran, false when the user declined the start (no window, no file then), the
    // command line asked for nothing to be done (usage, unknown switch) or another copy was repairing.
    BOOL InitInstance() override;
    // The run's exit code (app/run_result.h).
    int ExitInstance() override { return exitCode_; }

    // The start confirmation (OK and Cancel, no owner); true on OK. Accepted without asking in an
    // unattended run.
    static bool ConfirmStart();

    // The run outlasted its bound with a worker that did not end: the process must end now, without
    // returning through its destructors (the worker still uses the dialog, which was not destroyed).
    bool WorkerLeftRunning() const { return workerLeftRunning_; }

protected:
    // The repair dialog of this run; tests give one with scripted phases.
    virtual std::unique_ptr<COrlynRepairDlg> MakeRepairDialog();

private:
    // Everything from the start confirmation to the dialog's end; fills in how the run ended.
    void RunRepair(run_result::RunEnd& end);
    // Tells the person (interactive runs only) that another copy is repairing.
    static void ShowOtherRunActive();

    int exitCode_ = 0;
    CRunGuard runGuard_;
    bool workerLeftRunning_ = false;
};
