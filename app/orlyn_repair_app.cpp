#include "app/orlyn_repair_app.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "app/orlyn_repair_dlg.h"
#include "app/repair_texts.h"
#include "app/run_finish.h"
#include "app/run_result.h"
#include "app/run_setup.h"
#include "framework/unattended.h"

bool COrlynRepairApp::ConfirmStart() {
    return unattended::AskPerson(Prompt::StartConfirmation, nullptr, repair_text::kConfirmStart,
                                 repair_text::kProgramTitle, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

BOOL COrlynRepairApp::InitInstance() {
    if (!run_setup::ApplyCommandLine(commandLine, exitCode_)) return FALSE;
    ::InitCommonControls();
    CWinApp::InitInstance();
    EnableControlContainer();
    HRESULT com = ::CoInitialize(nullptr);
    SetRegistryKey(repair_text::kProgramTitle);

    auto dialog = std::make_unique<COrlynRepairDlg>();
    mainWindowObject = dialog.get();
    bool started = ConfirmStart();
    run_result::RunEnd end;
    end.started = started;
    if (started) {
        // A quiet run has the same dialog, timers and sequence, in a window that is never shown.
        if (!unattended::ShowsWindows()) dialog->SetMessageOnly(true);
        end.dialogRan = dialog->DoModal() != -1;
        end.sequenceStarted = dialog->sequenceStarted != 0;
        end.sequenceState = dialog->sequenceState;
        end.restartStarted = unattended::RestartStarted();
    }
    exitCode_ = run_result::ExitCodeFor(end);
    run_finish::FinishRun(end, *dialog, exitCode_);
    // The dialog (and whatever COM objects it holds) goes before COM does.
    mainWindowObject = nullptr;
    dialog.reset();
    if (SUCCEEDED(com)) ::CoUninitialize();
    return started ? TRUE : FALSE;
}
