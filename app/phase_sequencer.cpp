// The phase sequencer: the timer table, the states and their worker threads, and the progress bar.
#include "app/orlyn_repair_dlg.h"

#include "app/progress_math.h"
#include "app/repair_texts.h"
#include "common/string_format.h"
#include "framework/seams.h"
#include "framework/unattended.h"

COrlynRepairDlg* COrlynRepairDlg::FromContext(LPVOID context) {
    return static_cast<COrlynRepairDlg*>(static_cast<CRepairContext*>(context));
}

void COrlynRepairDlg::ArmTimer(UINT id, UINT elapseMs) {
    if (!dialogWindow_) return;
    if (::GetCurrentThreadId() == dialogThread_) {
        ArmChainTimer(id, elapseMs);
        return;
    }
    // A window timer belongs to the thread that sets it: a worker asks the dialog thread to set it. The
    // request is sent when it cannot be posted (a full queue): a lost one would stop the chain for good.
    if (!::PostMessageW(dialogWindow_, kArmTimerMessage, id, static_cast<LPARAM>(elapseMs)))
        ::SendMessageW(dialogWindow_, kArmTimerMessage, id, static_cast<LPARAM>(elapseMs));
}

bool COrlynRepairDlg::ArmChainTimer(UINT_PTR id, UINT elapseMs) {
    if (!ChainMayRun()) return true;
    if (SetWindowTimer(id, elapseMs)) return true;
    DWORD error = ::GetLastError();
    if (ChainCannotGoOn(orlyn::FormatString(repair_text::kTimerNotStartedLog, static_cast<unsigned>(id)), error))
        return false;
    // A person is there: a timer that moves the chain on fails the chain, and the failure prompt offers
    // the retry. The bar's redraw, the clean-up's simulated steps and a resumed start's timer (the chain
    // already runs then) are not needed for that.
    if (id >= kTimerEnterCheck && id <= kTimerPhaseFailed) RunState(kStateFailure);
    return false;
}

bool COrlynRepairDlg::ChainCannotGoOn(const std::wstring& line, DWORD error) {
    WriteLog(L"%s", line.c_str());
    WriteErrorCodeLine(*this, error);
    if (!unattended::IsUnattended()) return false;
    CutUnattendedRunShort(repair_text::kUnattendedCannotGoOnLog);
    return true;
}

void COrlynRepairDlg::CutUnattendedRunShort(const std::wstring& line) {
    if (cutShort_ || closing_) return;
    cutShort_ = true;  // no timer of the chain fires from now on
    WriteLog(L"%s", line.c_str());
    // Posted: this runs inside timer handlers and initialisation. Sent only when it cannot be posted.
    if (!::PostMessageW(dialogWindow_, WM_CLOSE, 0, 0)) ::SendMessageW(dialogWindow_, WM_CLOSE, 0, 0);
}

HANDLE COrlynRepairDlg::CreateWorkerThread(LPTHREAD_START_ROUTINE proc) {
    return ::CreateThread(nullptr, 0, proc, static_cast<CRepairContext*>(this), 0, nullptr);
}

bool COrlynRepairDlg::SetWindowTimer(UINT_PTR id, UINT elapseMs) {
    return ::SetTimer(dialogWindow_, id, elapseMs, nullptr) != 0;
}

void COrlynRepairDlg::CancelTimer(UINT id) {
    if (!dialogWindow_) return;
    if (::GetCurrentThreadId() == dialogThread_) {
        ::KillTimer(dialogWindow_, id);
        return;
    }
    ::PostMessageW(dialogWindow_, kCancelTimerMessage, id, 0);
}

void COrlynRepairDlg::PostCloseRequest() {
    if (dialogWindow_) ::PostMessageW(dialogWindow_, WM_CLOSE, 0, 0);
}

bool COrlynRepairDlg::StartSequenceTimers() {
    if (!ChainMayRun() || chainRunning_) return false;
    chainRunning_ = true;
    sequenceStarted = 1;
    ArmChainTimer(kTimerRedraw, 100);
    ArmChainTimer(kTimerEnterCheck, 100);  // does nothing when the first cut the run short
    return true;
}

void COrlynRepairDlg::SetProgressPercent(DWORD percent) {
    SetElementWidth(L"progress_bar_percent", progress_math::BarWidth(percent));
}

void COrlynRepairDlg::OnTimer(UINT_PTR id) {
    HWND hwnd = dialogWindow_;
    if (!ChainMayRun()) {
        // A timer of the chain that was already due when the close began or the run was cut short.
        if (id >= kTimerResumeStart && id <= kTimerRunBound) ::KillTimer(hwnd, id);
        return;
    }
    // Most timers of the sequence fire once: they enter a state, or count a phase complete and arm the
    // timer that enters the next one shortly after.
    auto enter = [&](int state) {
        ::KillTimer(hwnd, id);
        RunState(state);
    };
    auto completeThenArm = [&](UINT_PTR next) {
        ::KillTimer(hwnd, id);
        CompletePhase();
        ArmChainTimer(next, 200);
    };
    switch (id) {
    case kTimerResumeStart:
        ::KillTimer(hwnd, id);
        StartSequenceTimers();
        break;
    case kTimerEnterCheck: enter(kStateCheck); break;
    case kTimerCheckDone: completeThenArm(kTimerEnterRemoval); break;
    case kTimerEnterRemoval: enter(kStateRemoval); break;
    case kTimerRemovalDone: enter(kStateCache); break;
    case kTimerCacheDone: completeThenArm(kTimerEnterInstall); break;
    case kTimerEnterRestart: enter(kStateRestart); break;
    case kTimerEnterInstall: enter(kStateInstall); break;
    case kTimerInstallDone: completeThenArm(kTimerEnterFinal); break;
    case kTimerEnterFinal:
    case kTimerPhaseFailed:
        ::KillTimer(hwnd, id);
        ::KillTimer(hwnd, kTimerRedraw);
        RunState(id == kTimerEnterFinal ? kStateFinal : kStateFailure);
        break;
    case kTimerSimulatedStep:
        StepSimulatedProgress();  // tests and steps under the lock
        break;
    case kTimerRunBound:
        ::KillTimer(hwnd, id);
        CutUnattendedRunShort(orlyn::FormatString(repair_text::kUnattendedRunBoundLog,
                                                  static_cast<unsigned>(seams::UnattendedRunBound() / 1000),
                                                  sequenceState));
        break;
    case kTimerRedraw: {
        Progress p = ReadProgress();
        SetProgressPercent(progress_math::ComputePercent(p.phaseCount, p.phasesDone, p.phaseItemCount,
                                                         p.phaseItemsDone));
        break;
    }
    default:
        break;
    }
}

void COrlynRepairDlg::RunState(int state) {
    previousState_ = sequenceState;
    sequenceState = state;
    switch (state) {
    case kStateReset:
        ResetProgress();
        break;
    case kStateCheck:
        StartWorker(&COrlynRepairDlg::CheckThreadProc, kTimerPhaseFailed);
        break;
    case kStateRemoval:
        StartWorker(&COrlynRepairDlg::RemovalThreadProc, kTimerPhaseFailed);
        break;
    case kStateCache:
        StartWorker(&COrlynRepairDlg::CacheThreadProc, kTimerCacheDone);
        break;
    case kStateRestart:
        StartWorker(&COrlynRepairDlg::RebootThreadProc, kTimerPhaseFailed);
        break;
    case kStateInstall:
        StartWorker(&COrlynRepairDlg::InstallThreadProc, kTimerPhaseFailed);
        break;
    case kStateFinal:
        EnterFinalState();
        chainRunning_ = false;  // only now: nothing may start a chain behind the final prompts
        break;
    case kStateFailure:
        EnterFailureState();  // ends the chain when the prompt is answered
        break;
    default:
        break;
    }
}

void COrlynRepairDlg::StartWorker(LPTHREAD_START_ROUTINE proc, UINT timerIfNotStarted) {
    if (closing_) return;
    // The previous worker armed its result timer as its last act; it may still be returning.
    if (worker_) {
        ::WaitForSingleObject(worker_.get(), INFINITE);
        worker_.reset();
    }
    worker_.reset(CreateWorkerThread(proc));
    if (worker_) return;
    DWORD error = ::GetLastError();
    if (ChainCannotGoOn(orlyn::FormatString(repair_text::kWorkerNotStartedLog, sequenceState), error)) return;
    // With a person there, a thread that cannot be made counts as the phase's failure (the cache
    // clean-up's as done).
    ArmChainTimer(timerIfNotStarted, 100);
}

bool COrlynRepairDlg::RunPhase(int state) {
    switch (state) {
    case kStateCheck:
        return CheckOldModule();
    case kStateRemoval:
        return RemoveOldModule();
    case kStateCache:
        return ClearInternetCache();
    case kStateRestart:
        RebootAndResume();
        return true;
    case kStateInstall:
        return InstallModule();
    default:
        return false;
    }
}

DWORD WINAPI COrlynRepairDlg::CheckThreadProc(LPVOID context) {
    COrlynRepairDlg* dialog = FromContext(context);
    dialog->ArmTimer(dialog->RunPhase(kStateCheck) ? kTimerCheckDone : kTimerPhaseFailed, 100);
    return 0;
}

DWORD WINAPI COrlynRepairDlg::RemovalThreadProc(LPVOID context) {
    COrlynRepairDlg* dialog = FromContext(context);
    if (dialog->RunPhase(kStateRemoval)) {
        dialog->ArmTimer(kTimerRemovalDone, 100);
        return 0;
    }
    int answer = unattended::AskPerson(Prompt::RestartOffer, dialog->OwnerWindow(), repair_text::kRestartPrompt,
                                       repair_text::kProgramTitle, MB_YESNO | MB_ICONQUESTION);
    dialog->ArmTimer(answer == IDYES ? kTimerEnterRestart : kTimerPhaseFailed, 100);
    return 0;
}

DWORD WINAPI COrlynRepairDlg::CacheThreadProc(LPVOID context) {
    COrlynRepairDlg* dialog = FromContext(context);
    (void)dialog->RunPhase(kStateCache);  // the clean-up never fails the chain
    dialog->ArmTimer(kTimerCacheDone, 100);
    return 0;
}

DWORD WINAPI COrlynRepairDlg::RebootThreadProc(LPVOID context) {
    FromContext(context)->RunPhase(kStateRestart);
    return 0;
}

DWORD WINAPI COrlynRepairDlg::InstallThreadProc(LPVOID context) {
    COrlynRepairDlg* dialog = FromContext(context);
    dialog->ArmTimer(dialog->RunPhase(kStateInstall) ? kTimerInstallDone : kTimerPhaseFailed, 100);
    return 0;
}
