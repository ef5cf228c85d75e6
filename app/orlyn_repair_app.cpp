#include "app/orlyn_repair_app.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "app/orlyn_repair_dlg.h"
#include "app/repair_texts.h"
#include "framework/seams.h"

bool COrlynRepairApp::ConfirmStart() {
    return ShowMessageBox(nullptr, repair_text::kConfirmStart, repair_text::kProgramTitle,
                          MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

BOOL COrlynRepairApp::InitInstance() {
    ::InitCommonControls();
    CWinApp::InitInstance();
    EnableControlContainer();
    HRESULT com = ::CoInitialize(nullptr);
    SetRegistryKey(repair_text::kProgramTitle);

    auto dialog = std::make_unique<COrlynRepairDlg>();
    mainWindowObject = dialog.get();
    bool started = ConfirmStart();
    if (started) dialog->DoModal();
    // The dialog (and whatever COM objects it holds) goes before COM does.
    mainWindowObject = nullptr;
    dialog.reset();
    if (SUCCEEDED(com)) ::CoUninitialize();
    return started ? TRUE : FALSE;
}
