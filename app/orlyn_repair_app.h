// The application object: initialises the process, asks for the start and runs the repair dialog.
#pragma once

#include <windows.h>

#include "framework/win_app.h"

class COrlynRepairApp : public CWinApp {
public:
    // True when the dialog ran, false when the user declined the start (no window, no file then).
    BOOL InitInstance() override;

    // The start confirmation (OK and Cancel, no owner); true on OK.
    static bool ConfirmStart();
};
