#include "scripted_repair_dlg.h"

#include <shlobj.h>

#include "app/resume_entry.h"
#include "support/test_support.h"

namespace app_tests {

ScriptedRepairDlg::~ScriptedRepairDlg() {
    ::CloseHandle(closeSeen);
    ::CloseHandle(timer100Handled);
}

BOOL ScriptedRepairDlg::OnInitDialog() {
    BOOL result = COrlynRepairDlg::OnInitDialog();
    if (!windowsFolderOverride.empty()) wcscpy_s(windowsFolder, windowsFolderOverride.c_str());
    ::SetTimer(GetSafeHwnd(), kWatchdogTimer, kWatchdogMs, nullptr);
    return result;
}

bool ScriptedRepairDlg::RunPhase(int state) {
    int previousRuns;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        previousRuns = 0;
        for (int s : phasesRun_) previousRuns += s == state;
        phasesRun_.push_back(state);
    }
    if (phase) return phase(*this, state, previousRuns);
    if (state == kStateRestart) return true;
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}

bool ScriptedRepairDlg::InitExtractManifest(std::wstring& text) {
    if (realInitSteps) return COrlynRepairDlg::InitExtractManifest(text);
    if (failingInitStep == 2) {
        text = extractionError;
        return false;
    }
    text = L"";
    return true;
}

bool ScriptedRepairDlg::InitLoadPayloadList(const wchar_t* path) {
    if (realInitSteps) return COrlynRepairDlg::InitLoadPayloadList(path);
    if (failingInitStep != 3) return true;
    wcscpy_s(payloadList.message, payloadError.c_str());
    return false;
}

void ScriptedRepairDlg::OnDocumentComplete(IDispatch* document, const wchar_t* url) {
    if (latePage) {
        documentHeld_ = true;
        return;
    }
    COrlynRepairDlg::OnDocumentComplete(document, url);
}

void ScriptedRepairDlg::CompleteDocument() {
    if (!documentHeld_) return;
    documentHeld_ = false;
    COrlynRepairDlg::OnDocumentComplete(nullptr, L"");
}

HANDLE ScriptedRepairDlg::CreateWorkerThread(LPTHREAD_START_ROUTINE proc) {
    if (failingWorkerState != 0 && failingWorkerState == sequenceState) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return COrlynRepairDlg::CreateWorkerThread(proc);
}

bool ScriptedRepairDlg::SetWindowTimer(UINT_PTR id, UINT elapseMs) {
    if (failingTimer != 0 && failingTimer == id) {
        ::SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return false;
    }
    return COrlynRepairDlg::SetWindowTimer(id, elapseMs);
}

std::unique_ptr<COrlynRepairDlg> ScriptedRepairApp::MakeRepairDialog() {
    auto dialog = std::make_unique<ScriptedRepairDlg>();
    dialogMade = true;
    dialog->onClosed = [this](ScriptedRepairDlg& closed) {
        phasesRun = closed.PhasesRun();
        timedOut = closed.TimedOut();
        logDisposition = closed.LastLogDisposition();
    };
    if (setUp) setUp(*dialog);
    return dialog;
}

std::vector<int> ScriptedRepairDlg::PhasesRun() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return phasesRun_;
}

int ScriptedRepairDlg::RunsOf(int state) const {
    int n = 0;
    for (int s : PhasesRun()) n += s == state;
    return n;
}

std::vector<UINT_PTR> ScriptedRepairDlg::TimersSeen() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return timersSeen_;
}

void ScriptedRepairDlg::RunOnDialogThread(std::function<void()> fn, bool wait) {
    auto* heap = new std::function<void()>(std::move(fn));
    if (wait) {
        ::SendMessageW(Window(), kRunOnDialogMessage, 0, reinterpret_cast<LPARAM>(heap));
    } else if (!::PostMessageW(Window(), kRunOnDialogMessage, 0, reinterpret_cast<LPARAM>(heap))) {
        delete heap;
    }
}

bool ScriptedRepairDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == kRunOnDialogMessage) {
        std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lParam));
        (*fn)();
        result = 0;
        return true;
    }
    if (message == WM_CLOSE) ::SetEvent(closeSeen);
    if (message == WM_RBUTTONUP) ++rightButtonUpsSeen;
    if (message == WM_ICONERASEBKGND) ++iconErasesSeen;
    if (message == WM_TIMER && wParam == kWatchdogTimer) {
        ::KillTimer(GetSafeHwnd(), kWatchdogTimer);
        timedOut_ = true;
        EndDialog(kWatchdogResult);
        if (onClosed) onClosed(*this);
        return true;
    }
    bool handled = COrlynRepairDlg::OnMessage(message, wParam, lParam, result);
    if (message == WM_CLOSE && IsClosing() && onClosed) {
        auto closed = std::move(onClosed);
        onClosed = nullptr;
        closed(*this);
    }
    if (message == WM_TIMER) {
        std::lock_guard<std::mutex> guard(mutex_);
        timersSeen_.push_back(wParam);
        if (wParam == kTimerResumeStart) ::SetEvent(timer100Handled);
    }
    return handled;
}

namespace {
std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}
}  // namespace

bool RemovalFailsThenRestarts(ScriptedRepairDlg& dialog, int state, int) {
    if (state == COrlynRepairDlg::kStateRestart) dialog.RebootAndResume();
    return state != COrlynRepairDlg::kStateRemoval;
}

std::wstring DesktopLogPath() { return Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\OrlynRepair.log"; }
std::wstring ArchiveFolder() { return Folder(CSIDL_COMMON_APPDATA) + L"\\Orlyn\\Common"; }
std::wstring ArchivedLogPath() { return ArchiveFolder() + L"\\OrlynRepair.log"; }

RepairRunScope::RepairRunScope(bool makeArchiveFolder) {
    ::DeleteFileW(DesktopLogPath().c_str());
    if (testing_support::FileExists(ArchivedLogPath())) {
        savedArchive_ = ArchivedLogPath() + L".saved-by-app-tests";
        ::MoveFileExW(ArchivedLogPath().c_str(), savedArchive_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    if (makeArchiveFolder && !testing_support::FolderExists(ArchiveFolder())) {
        madeArchive_ = testing_support::CreateFolders(ArchiveFolder());
    }
    resume_entry::RemoveResumeEntry();
}

RepairRunScope::~RepairRunScope() {
    ::DeleteFileW(DesktopLogPath().c_str());
    ::DeleteFileW(ArchivedLogPath().c_str());
    if (!savedArchive_.empty()) ::MoveFileExW(savedArchive_.c_str(), ArchivedLogPath().c_str(), 0);
    if (madeArchive_) {
        ::RemoveDirectoryW(ArchiveFolder().c_str());
        std::wstring orlyn = ArchiveFolder();
        orlyn.resize(orlyn.size() - wcslen(L"\\Common"));
        ::RemoveDirectoryW(orlyn.c_str());  // only when empty
    }
    resume_entry::RemoveResumeEntry();
}

}  // namespace app_tests
