#include "app/orlyn_repair_app.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/orlyn_repair_dlg.h"
#include "app/repair_texts.h"
#include "app/run_finish.h"
#include "app/run_result.h"
#include "app/run_setup.h"
#include "framework/seams.h"
#include "framework/unattended.h"

bool COrlynRepairApp::ConfirmStart() {
    return unattended::AskPerson(Prompt::StartConfirmation, nullptr, repair_text::kConfirmStart,
                                 repair_text::kProgramTitle, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

void COrlynRepairApp::ShowOtherRunActive() {
    if (unattended::IsUnattended()) return;
    ShowMessageBox(nullptr, repair_text::kOtherRunActive, repair_text::kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
}

std::unique_ptr<COrlynRepairDlg> COrlynRepairApp::MakeRepairDialog() { return std::make_unique<COrlynRepairDlg>(); }

BOOL COrlynRepairApp::InitInstance() {
    // Usage and unknown switches end here, having touched nothing (exit code 0 or 87).
    if (!run_setup::ApplyCommandLine(commandLine, exitCode_)) return FALSE;

    // One repair at a time: taken before anything is touched (the start confirmation, the log), held
    // until the run has ended. A copy that died leaves it abandoned; this run then takes it.
    run_result::RunEnd end;
    end.anotherRunActive = runGuard_.Acquire() == CRunGuard::Outcome::OtherRunActive;
    if (end.anotherRunActive) {
        // Its entry says it stood down; nothing of the other run's (log, registration) is touched.
        run_finish::ReportStandDown();
        ShowOtherRunActive();
    } else {
        RunRepair(end);
    }

    // How the run ended, in one place: every outcome (the stand-down above too) passes here.
    exitCode_ = run_result::ExitCodeFor(end);

    // A worker left running still works under the guard: the process ends with it held (abandoned).
    if (!workerLeftRunning_) runGuard_.Release();
    return end.started ? TRUE : FALSE;
}

void COrlynRepairApp::RunRepair(run_result::RunEnd& end) {
    ::InitCommonControls();
    CWinApp::InitInstance();
    EnableControlContainer();
    HRESULT com = ::CoInitialize(nullptr);
    SetRegistryKey(repair_text::kProgramTitle);

    std::unique_ptr<COrlynRepairDlg> dialog = MakeRepairDialog();
    mainWindowObject = dialog.get();
    end.started = ConfirmStart();
    if (end.started) {
        // A quiet run has the same dialog, timers and sequence, in a window that is never shown.
        if (!unattended::ShowsWindows()) dialog->SetMessageOnly(true);
        end.dialogRan = dialog->DoModal() != -1;
        end.sequenceStarted = dialog->sequenceStarted != 0;
        end.sequenceState = dialog->sequenceState;
        end.restartStarted = unattended::RestartStarted();
        end.cutShort = dialog->CutShort();
    }
    // Every run leaves its event-log entry with the exit code that InitInstance then computes alike.
    run_finish::FinishRun(end, *dialog, run_result::ExitCodeFor(end));
    mainWindowObject = nullptr;
    if (dialog->WorkerLeftRunning()) {
        // The worker still uses the dialog and its apartment's objects: neither may go before the
        // process ends.
        workerLeftRunning_ = true;
        (void)dialog.release();
        return;
    }
    // The dialog (and whatever COM objects it holds) goes before COM does.
    dialog.reset();
    if (SUCCEEDED(com)) ::CoUninitialize();
}
