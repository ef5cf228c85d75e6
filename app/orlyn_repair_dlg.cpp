#include "app/orlyn_repair_dlg.h"

#include <shlobj.h>

#include "app/progress_math.h"
#include "app/repair_texts.h"
#include "app/resume_entry.h"
#include "build_settings.h"
#include "common/repair_folders.h"
#include "common/string_format.h"
#include "framework/seams.h"
#include "framework/unattended.h"
#include "resources/resource.h"

#ifndef DOCHOSTUIFLAG_THEME
#define DOCHOSTUIFLAG_THEME 0x40000
#endif

COrlynRepairDlg::COrlynRepairDlg() : CDHtmlDialog(IDD_ORLYNREPAIR_DIALOG, IDR_HTML_ORLYNREPAIR, nullptr) {
    hostFlags |= DOCHOSTUIFLAG_THEME;
    applicationIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                      IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

COrlynRepairDlg::~COrlynRepairDlg() {
    // Close waits for the worker; this only covers a dialog that never ran its close.
    if (worker_) ::WaitForSingleObject(worker_.get(), INFINITE);
    unattended::SetAnswerLog(nullptr);
}

BOOL COrlynRepairDlg::OnInitDialog() {
    CDHtmlDialog::OnInitDialog();
    HWND hwnd = GetSafeHwnd();
    dialogWindow_ = hwnd;
    dialogThread_ = ::GetCurrentThreadId();

    ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(applicationIcon));
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(applicationIcon));
    ::SetWindowTextW(hwnd, repair_text::kProgramTitle);

    RECT workArea = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    POINT origin = progress_math::CenteredOrigin(workArea);
    ::SetWindowPos(hwnd, nullptr, origin.x, origin.y, progress_math::kDialogWidth, progress_math::kDialogHeight,
                   SWP_NOZORDER);

    OpenRepairLog();
    if (IsLogOpen()) {
        GatherSystemInfo();
        WriteSystemInfo();
    }
    unattended::SetAnswerLog([this](const wchar_t* line) { WriteLog(L"%s", line); });

    if (!InitBuildRemovalList()) return FailInitialisation(repair_text::kInitError1);
    std::wstring extracted;
    if (!InitExtractManifest(extracted))
        return FailInitialisation(orlyn::FormatString(repair_text::kInitError2, extracted.c_str()).c_str());
    if (!InitLoadPayloadList(extracted.c_str()))
        return FailInitialisation(orlyn::FormatString(repair_text::kInitError3, payloadList.message).c_str());
    if (!InitCheckResources()) return FailInitialisation(repair_text::kInitError4);

    ResolveFolders();
    initialised_ = true;
    RunState(kStateReset);
    StartSequenceTimers();
    // An unattended run always ends: after its bound it ends as a failed run would (exit code 1603).
    if (unattended::IsUnattended()) ArmChainTimer(kTimerRunBound, seams::UnattendedRunBound());
    return TRUE;
}

void COrlynRepairDlg::OpenRepairLog() {
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH] = {};
    bool havePath = GetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, folder) &&
                    orlyn::Format(path, MAX_PATH, L"%s\\%s", folder, repair_text::kLogFileName);
    if (!havePath) orlyn::CopyFixed(path, MAX_PATH, repair_text::kLogFallbackPath);
    OpenLog(path);  // a log that cannot be created is no error: nothing is written then
}

void COrlynRepairDlg::ResolveFolders() { ResolveRepairFolders(*this); }

BOOL COrlynRepairDlg::FailInitialisation(const wchar_t* text) {
    unattended::AskPerson(Prompt::InitialisationError, dialogWindow_, text, repair_text::kProgramTitle,
                          MB_OK | MB_ICONERROR);
    ::PostMessageW(dialogWindow_, WM_CLOSE, 0, 0);
    return FALSE;
}

bool COrlynRepairDlg::InitBuildRemovalList() { return BuildRemovalList(); }
bool COrlynRepairDlg::InitExtractManifest(std::wstring& text) { return ExtractPayloadManifest(text); }
bool COrlynRepairDlg::InitLoadPayloadList(const wchar_t* manifestPath) { return payloadList.Load(manifestPath); }
bool COrlynRepairDlg::InitCheckResources() { return CheckPayloadResources(payloadList); }
const wchar_t* COrlynRepairDlg::ProcessCommandLine() const { return ::GetCommandLineW(); }

void COrlynRepairDlg::OnDocumentComplete(IDispatch* document, const wchar_t* url) {
    CDHtmlDialog::OnDocumentComplete(document, url);
    // After a restart the RunOnce entry starts us with --start; the chain that OnInitDialog started
    // already runs then, and timer 100's start finds it running and does nothing.
    // Before initialisation has completed (or after it failed) there is no chain to start.
    if (resume_entry::HasStartArgument(ProcessCommandLine())) ArmChainTimer(kTimerResumeStart, 100);
}

void COrlynRepairDlg::OnClose() {
    if (closing_) return;  // a second close while the first waits for the worker
    closing_ = true;
    for (UINT id = kTimerResumeStart; id <= kTimerRunBound; ++id) ::KillTimer(dialogWindow_, id);
    // The worker uses the log and this object: both stay until it has ended. A run cut short may have
    // been cut short for a worker that never ends: it gets a few seconds, and is then left to the end of
    // the process (which must not destroy this object: WorkerLeftRunning). Its log writes do nothing
    // once the log is closed.
    if (!WaitForWorker(cutShort_ ? kCutShortWorkerWaitMs : INFINITE)) {
        workerLeftRunning_ = true;
        WriteLog(L"%s", repair_text::kWorkerLeftRunningLog);
    }

    unattended::SetAnswerLog(nullptr);
    lastLogDisposition_ = DisposeRepairLog(*this, &finalLogPath_);
    if (sequenceStarted && sequenceState == kStateFinal) resume_entry::RemoveResumeEntry();
    if (manifestTempPath[0] != L'\0') {
        ::DeleteFileW(manifestTempPath);
        manifestTempPath[0] = L'\0';
    }
    DefaultHandling(WM_CLOSE, 0, 0);
}

bool COrlynRepairDlg::WaitForWorker(DWORD timeoutMs) {
    if (!worker_) return true;
    bool quit = false;
    WPARAM quitCode = 0;
    HANDLE handle = worker_.get();
    DWORD start = ::GetTickCount();
    bool ended = true;
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        DWORD left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        DWORD wait = ::MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        if (wait == WAIT_TIMEOUT) {
            ended = false;
            break;
        }
        if (wait != WAIT_OBJECT_0 + 1) break;  // the worker ended (or the wait failed)
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            if (!PreTranslateMessage(&msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
    }
    if (ended) worker_.reset();
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return ended;
}

BOOL COrlynRepairDlg::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_RBUTTONUP) {
        if (::GetCapture() == dialogWindow_ && dialogWindow_) ::ReleaseCapture();
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN) return TRUE;  // Enter and Escape never end the dialog
    return CDHtmlDialog::PreTranslateMessage(msg);
}

bool COrlynRepairDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_PAINT:
        if (!::IsIconic(dialogWindow_)) return false;
        PaintMinimised();
        result = 0;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(applicationIcon);
        return true;
    case WM_LBUTTONUP:
        if (::GetCapture() == dialogWindow_) ::ReleaseCapture();
        result = DefaultHandling(message, wParam, lParam);
        return true;
    case WM_MOUSEMOVE:
        DragStep(lParam);
        result = DefaultHandling(message, wParam, lParam);
        return true;
    case WM_CLOSE:
        OnClose();
        result = 0;
        return true;
    case WM_TIMER:
        OnTimer(wParam);
        result = DefaultHandling(message, wParam, lParam);
        return true;
    case kArmTimerMessage:
        ArmChainTimer(wParam, static_cast<UINT>(lParam));
        result = 0;
        return true;
    case kCancelTimerMessage:
        ::KillTimer(dialogWindow_, wParam);
        result = 0;
        return true;
    default:
        return false;
    }
}

void COrlynRepairDlg::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(dialogWindow_, &paint);
    ::SendMessageW(dialogWindow_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(dialogWindow_, &client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, applicationIcon);
    ::EndPaint(dialogWindow_, &paint);
}

std::vector<CDHtmlDialog::EventEntry> COrlynRepairDlg::GetEventMap() const {
    return {
        {L"button_minimize", DhtmlEvent::Click, &COrlynRepairDlg::OnButtonMinimize},
        {L"button_exit", DhtmlEvent::Click, &COrlynRepairDlg::OnButtonExit},
        {L"global_section_logo", DhtmlEvent::MouseDown, &COrlynRepairDlg::OnBeginDrag},
        {L"global_section_minimize", DhtmlEvent::MouseDown, &COrlynRepairDlg::OnBeginDrag},
        {L"global_section_exit", DhtmlEvent::MouseDown, &COrlynRepairDlg::OnBeginDrag},
    };
}

HRESULT COrlynRepairDlg::OnButtonMinimize(CDHtmlDialog* self, const wchar_t*) {
    ::ShowWindow(static_cast<COrlynRepairDlg*>(self)->dialogWindow_, SW_MINIMIZE);
    return S_OK;
}

HRESULT COrlynRepairDlg::OnButtonExit(CDHtmlDialog* self, const wchar_t*) {
    auto* dialog = static_cast<COrlynRepairDlg*>(self);
    if (dialog->sequenceState == kStateFinal) OpenWebPage(dialog->dialogWindow_, ORLYN_HOME_PAGE);
    ::SendMessageW(dialog->dialogWindow_, WM_CLOSE, 0, 0);
    return S_OK;
}

HRESULT COrlynRepairDlg::OnBeginDrag(CDHtmlDialog* self, const wchar_t*) {
    auto* dialog = static_cast<COrlynRepairDlg*>(self);
    HWND hwnd = dialog->dialogWindow_;
    ::SetCapture(hwnd);
    RECT window;
    POINT cursor;
    if (::GetWindowRect(hwnd, &window) && ::GetCursorPos(&cursor))
        dialog->dragOffset = POINT{cursor.x - window.left, cursor.y - window.top};
    return S_OK;
}

void COrlynRepairDlg::DragStep(LPARAM lParam) {
    if (!dialogWindow_ || ::GetCapture() != dialogWindow_) return;
    RECT window;
    if (!::GetWindowRect(dialogWindow_, &window)) return;
    POINT target = progress_math::DragTarget(progress_math::PointFromLParam(lParam), POINT{window.left, window.top},
                                             dragOffset);
    ::SetWindowPos(dialogWindow_, nullptr, target.x, target.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
