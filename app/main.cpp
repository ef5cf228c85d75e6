#include <windows.h>

#include "app/orlyn_repair_app.h"
#include "framework/win_app.h"

// The one application object; RunApplication runs its InitInstance.
static COrlynRepairApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunApplication(); }
