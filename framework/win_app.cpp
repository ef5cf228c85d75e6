#include "framework/win_app.h"

#include "common/string_format.h"

namespace {
CWinApp* gCurrent = nullptr;
}

CWinApp::CWinApp() : instance_(::GetModuleHandleW(nullptr)) {
    // One application object per process, as a global: the last one made is the one that runs.
    gCurrent = this;
}

CWinApp::~CWinApp() {
    if (gCurrent == this) gCurrent = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const wchar_t* name) {
    if (!orlyn::CopyFixed(registryKey_, 260, name ? name : L"")) registryKey_[0] = L'\0';
}

CWinApp* CWinApp::Current() { return gCurrent; }

int RunApplication(const wchar_t* commandLine) {
    CWinApp* app = CWinApp::Current();
    if (!app) return 1;
    if (commandLine) app->commandLine = commandLine;
    app->InitInstance();
    return app->ExitInstance();
}
