#include <windows.h>

#include "app/orlyn_repair_app.h"
#include "framework/win_app.h"

// The one application object; RunApplication runs its InitInstance.
static COrlynRepairApp theApp;

// The process exit code is the run's result (app/run_result.h).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) { return RunApplication(commandLine); }
