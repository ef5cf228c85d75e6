// The repair dialog: a borderless HTML page with a progress bar, and the repair context that the
// phases share. It runs the phase sequence: every state change and every timer handler runs on the
// dialog's thread; each long phase runs on one worker thread that reports only by arming a timer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/log_disposal.h"
#include "app/repair_context.h"
#include "common/unique_handle.h"
#include "framework/dhtml_dialog.h"

class COrlynRepairDlg : public CDHtmlDialog, public CRepairContext {
public:
    // Timer ids of the sequence; the comment says who arms each.
    enum : UINT {
        kTimerResumeStart = 100,    // OnDocumentComplete, with --start
        kTimerEnterCheck = 101,     // StartSequenceTimers
        kTimerCheckDone = 102,      // check worker, success
        kTimerEnterRemoval = 103,   // timer 102
        kTimerRemovalDone = 104,    // removal worker, success
        kTimerCacheDone = 105,      // cache worker, always
        kTimerEnterRestart = 106,   // removal worker, restart accepted
        kTimerEnterInstall = 107,   // timer 105
        kTimerInstallDone = 108,    // install worker, success
        kTimerEnterFinal = 109,     // timer 108
        kTimerPhaseFailed = 110,    // any failed phase
        kTimerSimulatedStep = 111,  // the cache clean-up while it runs (periodic)
        kTimerRedraw = 112,         // StartSequenceTimers (periodic)
        kTimerRunBound = 113,       // OnInitDialog of an unattended run: the whole run's bound
    };
    // Sequence states.
    enum : int {
        kStateReset = 0,
        kStateCheck = 1,
        kStateRemoval = 2,
        kStateCache = 3,
        kStateRestart = 4,
        kStateInstall = 5,
        kStateFinal = 6,
        kStateFailure = 7,
    };

    // How long the close of a run cut short waits for a worker that is still running.
    static constexpr DWORD kCutShortWorkerWaitMs = 5000;

    COrlynRepairDlg();
    ~COrlynRepairDlg() override;

    // Dialog thread only. Stores the state (remembering the one before) and does what entering it means.
    void RunState(int state);
    // Starts a chain: timer 112 and then 101. Returns false, doing nothing, before initialisation has
    // completed (or after it failed), while a chain already runs (from its start until the prompt of its
    // final or failure state has been answered) or while the dialog is closing.
    bool StartSequenceTimers();
    // Sets the bar's width from a percentage (0 to 100). Dialog thread only.
    void SetProgressPercent(DWORD percent);

    // Final state's hosts-file check: logs and returns the matching lines, each followed by "\r\n".
    std::wstring CheckHostsFile();

    bool IsChainRunning() const { return chainRunning_; }
    bool IsClosing() const { return closing_; }
    LogDisposition LastLogDisposition() const { return lastLogDisposition_; }
    // An unattended run that the program ended itself (a worker or timer could not be started, or the
    // run outlasted its bound); the exit code is then 1603.
    bool CutShort() const { return cutShort_; }
    // The run outlasted its bound and its worker did not end: the dialog closed without it, and this
    // object must outlive the process (the process ends without destroying it).
    bool WorkerLeftRunning() const { return workerLeftRunning_; }
    // Where the log was left when the dialog closed; empty when it was deleted or never opened.
    const std::wstring& FinalLogPath() const { return finalLogPath_; }
    // The state that was current before the last one was entered (the phase that a failure came from).
    int PreviousState() const { return previousState_; }
    HWND Window() const { return dialogWindow_; }

    // The worker threads' links to the dialog (CRepairContext).
    HWND OwnerWindow() const override { return dialogWindow_; }
    void ArmTimer(UINT id, UINT elapseMs) override;
    void CancelTimer(UINT id) override;
    void PostCloseRequest() override;

    // Worker thread procedures; the argument is the repair context (this dialog).
    static DWORD WINAPI CheckThreadProc(LPVOID context);
    static DWORD WINAPI RemovalThreadProc(LPVOID context);
    static DWORD WINAPI CacheThreadProc(LPVOID context);
    static DWORD WINAPI RebootThreadProc(LPVOID context);
    static DWORD WINAPI InstallThreadProc(LPVOID context);

protected:
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDocumentComplete(IDispatch* document, const wchar_t* url) override;
    std::vector<EventEntry> GetEventMap() const override;

    // The phase routine of a state (1 to 5), run on its worker thread: the check, removal, cache
    // clean-up, restart (always true) and install. Tests script results here.
    virtual bool RunPhase(int state);
    // The initialisation steps that can fail; tests make them fail here.
    virtual bool InitBuildRemovalList();
    virtual bool InitExtractManifest(std::wstring& text);
    virtual bool InitLoadPayloadList(const wchar_t* manifestPath);
    virtual bool InitCheckResources();
    // The process command line (--start).
    virtual const wchar_t* ProcessCommandLine() const;
    // The system calls that start a worker thread and a window timer; tests make them fail here.
    virtual HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE proc);
    virtual bool SetWindowTimer(UINT_PTR id, UINT elapseMs);

    void OnTimer(UINT_PTR id);
    void OnClose();

private:
    static COrlynRepairDlg* FromContext(LPVOID context);
    static HRESULT OnButtonMinimize(CDHtmlDialog* self, const wchar_t* elementId);
    static HRESULT OnButtonExit(CDHtmlDialog* self, const wchar_t* elementId);
    static HRESULT OnBeginDrag(CDHtmlDialog* self, const wchar_t* elementId);

    void OpenRepairLog();
    void ResolveFolders();
    BOOL FailInitialisation(const wchar_t* text);
    void StartWorker(LPTHREAD_START_ROUTINE proc, UINT timerIfNotStarted);
    // Sets a timer of the chain (dialog thread); a timer that cannot be set ends the chain as
    // ChainCannotGoOn says. Returns false then. Does nothing (true) once the chain may no longer run.
    bool ArmChainTimer(UINT_PTR id, UINT elapseMs);
    // Logs what could not be started with the error code. An unattended run then ends (1603); an
    // interactive one goes on as the caller decides. Returns true when the run is ending.
    bool ChainCannotGoOn(const std::wstring& line, DWORD error);
    // Ends an unattended run as a failed one: the line, then the dialog closes.
    void CutUnattendedRunShort(const std::wstring& line);
    // Waits (at most timeoutMs) for the running worker (if any) to end, dispatching this thread's
    // messages meanwhile so that the worker's message boxes and posts are served. False when it still runs.
    bool WaitForWorker(DWORD timeoutMs = INFINITE);
    void EnterFinalState();
    void EnterFailureState();
    // Whether a timer of the chain may be armed: only after a complete initialisation, before close and
    // before the run was cut short.
    bool ChainMayRun() const { return initialised_ && !closing_ && !cutShort_; }
    void PaintMinimised();
    void DragStep(LPARAM lParam);

    HWND dialogWindow_ = nullptr;
    DWORD dialogThread_ = 0;
    orlyn::UniqueHandle worker_;
    int previousState_ = 0;
    bool chainRunning_ = false;
    // Set once initialisation has completed. After an initialisation error it stays false for good, so
    // nothing that arrives while the error box is up (a resumed start's timer 100) can start the chain.
    bool initialised_ = false;
    bool closing_ = false;
    bool cutShort_ = false;
    bool workerLeftRunning_ = false;
    LogDisposition lastLogDisposition_ = LogDisposition::NotOpen;
    std::wstring finalLogPath_;
};

// Private messages by which other threads ask the dialog thread to arm or kill a timer.
constexpr UINT kArmTimerMessage = WM_APP + 0x310;     // wParam: id, lParam: period in ms
constexpr UINT kCancelTimerMessage = WM_APP + 0x311;  // wParam: id
