// The application base: one object per process whose InitInstance runs the program.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs once from wWinMain (there is no message loop outside modal dialogs).
    virtual BOOL InitInstance();
    // Runs after InitInstance; its result is the process exit code.
    virtual int ExitInstance();

    // Stores the application's registry key name (HKCU\Software\<name>), as the framework does.
    void SetRegistryKey(const wchar_t* name);
    const wchar_t* RegistryKey() const { return registryKey_; }
    // Makes the control container (browser control hosting) available; OLE is initialised by the caller.
    void EnableControlContainer() { controlContainer_ = true; }
    bool ControlContainerEnabled() const { return controlContainer_; }

    HINSTANCE Instance() const { return instance_; }
    static CWinApp* Current();

    const wchar_t* commandLine = L"";  // the arguments after the program's name, as wWinMain got them
    HWND mainWindow = nullptr;        // the dialog, once created
    void* mainWindowObject = nullptr;  // the dialog object made the main window

private:
    HINSTANCE instance_;
    wchar_t registryKey_[260] = {};
    bool controlContainer_ = false;
};

// Called from wWinMain with its command line: runs CWinApp::Current()->InitInstance() and returns
// its ExitInstance().
int RunApplication(const wchar_t* commandLine = nullptr);
