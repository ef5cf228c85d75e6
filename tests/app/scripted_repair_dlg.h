// The real repair dialog with scripted phases: each phase's result comes from the test (default:
// success, one item done), the init steps can be made to fail, and the test can run code on the
// dialog thread. A watchdog ends a dialog that hangs.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/orlyn_repair_app.h"
#include "app/orlyn_repair_dlg.h"
#include "app/repair_texts.h"

namespace app_tests {

constexpr UINT kRunOnDialogMessage = WM_APP + 0x390;  // lParam: std::function<void()>*
constexpr UINT_PTR kWatchdogTimer = 0x5E2F;
constexpr UINT kWatchdogMs = 30000;
constexpr INT_PTR kWatchdogResult = -2;

class ScriptedRepairDlg : public COrlynRepairDlg {
public:
    ScriptedRepairDlg() { CDHtmlDialog::SetPageMode(PageMode::Native); }
    ~ScriptedRepairDlg() override;

    // Called on the worker thread for states 1 to 5 with how often that state ran before; returns the
    // phase's result. Unset: success.
    std::function<bool(ScriptedRepairDlg&, int state, int previousRuns)> phase;
    // Which init step fails (1 to 4, 0 for none) and the extraction's error text.
    int failingInitStep = 0;
    // Run the program's own init steps instead (failingInitStep is then ignored).
    bool realInitSteps = false;
    std::wstring extractionError = L"temp folder";
    std::wstring payloadError = L"manifest line 3";
    const wchar_t* commandLine = L"OrlynRepair.exe";
    // When set, replaces the Windows folder that initialisation found (the hosts file is read there).
    std::wstring windowsFolderOverride;
    // The worker of this state (1 to 5) and this timer cannot be started, as when the system refuses
    // them; 0 for none.
    int failingWorkerState = 0;
    UINT_PTR failingTimer = 0;
    // A page that finishes loading late: the document-complete notification is kept back until the
    // test calls CompleteDocument (on the dialog thread).
    bool latePage = false;
    void CompleteDocument();

    std::vector<int> PhasesRun() const;
    int RunsOf(int state) const;
    bool TimedOut() const { return timedOut_; }

    // Runs fn on the dialog thread: waits for it (SendMessage) or not (PostMessage). From a worker.
    void RunOnDialogThread(std::function<void()> fn, bool wait);
    // Timer ids seen by OnTimer, in order (dialog thread only writes).
    std::vector<UINT_PTR> TimersSeen() const;

    // How often these reached the message map (dialog thread).
    int rightButtonUpsSeen = 0;
    int iconErasesSeen = 0;

    // Called on the dialog thread once the dialog has closed (or the watchdog ended it).
    std::function<void(ScriptedRepairDlg&)> onClosed;

    // Signalled when WM_CLOSE first reaches the dialog.
    HANDLE closeSeen = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE timer100Handled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    using COrlynRepairDlg::PreTranslateMessage;

protected:
    BOOL OnInitDialog() override;
    bool RunPhase(int state) override;
    bool InitBuildRemovalList() override {
        return realInitSteps ? COrlynRepairDlg::InitBuildRemovalList() : failingInitStep != 1;
    }
    bool InitExtractManifest(std::wstring& text) override;
    bool InitLoadPayloadList(const wchar_t* path) override;
    bool InitCheckResources() override {
        return realInitSteps ? COrlynRepairDlg::InitCheckResources() : failingInitStep != 4;
    }
    const wchar_t* ProcessCommandLine() const override { return commandLine; }
    HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE proc) override;
    bool SetWindowTimer(UINT_PTR id, UINT elapseMs) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDocumentComplete(IDispatch* document, const wchar_t* url) override;

private:
    bool documentHeld_ = false;
    mutable std::mutex mutex_;
    std::vector<int> phasesRun_;
    std::vector<UINT_PTR> timersSeen_;
    std::atomic<bool> timedOut_{false};
};

// The real application object, whose repair dialog is a scripted one: set it up before InitInstance and
// read what it did afterwards (the application destroys it before InitInstance returns, unless a worker
// outlasted the run, and then it is left alone as the program leaves it).
class ScriptedRepairApp : public COrlynRepairApp {
public:
    std::function<void(ScriptedRepairDlg&)> setUp;
    // What the dialog did, read when it closed.
    std::vector<int> phasesRun;
    bool timedOut = false;
    LogDisposition logDisposition = LogDisposition::NotOpen;
    bool dialogMade = false;

protected:
    std::unique_ptr<COrlynRepairDlg> MakeRepairDialog() override;
};

// A phase script: the removal fails, and the restart state asks for the restart as the program does.
bool RemovalFailsThenRestarts(ScriptedRepairDlg& dialog, int state, int previousRuns);

// The repair log's place on the all-users desktop, and the archive under the all-users data folder.
std::wstring DesktopLogPath();
std::wstring ArchivedLogPath();
std::wstring ArchiveFolder();

// Removes the logs a dialog run leaves (desktop and archive) and the RunOnce value, before and after a test;
// makes the archive folder exist for the scope (removing it afterwards when it made it).
class RepairRunScope {
public:
    explicit RepairRunScope(bool makeArchiveFolder = true);
    ~RepairRunScope();

private:
    bool madeArchive_ = false;
    std::wstring savedArchive_;
};

}  // namespace app_tests
