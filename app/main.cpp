#include <windows.h>

#include "app/orlyn_repair_app.h"
#include "framework/win_app.h"

// The one application object; RunApplication runs its InitInstance.
static COrlynRepairApp theApp;

// The process exit code is the run's result (app/run_result.h).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    int exitCode = RunApplication(commandLine);
    // A worker that outlasted the run's bound is ended with the process, before any destructor runs
    // under it.
    if (theApp.WorkerLeftRunning()) ::ExitProcess(static_cast<UINT>(exitCode));
    return exitCode;
}
