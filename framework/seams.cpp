#include "framework/seams.h"

#include <shellapi.h>

#include <atomic>
#include <mutex>

namespace {
std::mutex gMutex;
seams::MessageBoxHandler gMessageBox;
seams::RestartHandler gRestart;
seams::OpenPageHandler gOpenPage;
std::atomic<DWORD> gHoldMs{seams::kDefaultMessageBoxHoldMs};
std::atomic<DWORD> gRunBoundMs{seams::kDefaultUnattendedRunBoundMs};

template <typename H>
H Current(const H& handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    return handler;
}

// What the real box's modal loop does for this thread while the person reads: dispatch whatever
// arrives. A WM_QUIT ends the box early and is left for the thread's outer loop.
void ServeMessagesFor(DWORD ms) {
    if (ms == 0) return;
    DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= ms) return;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

int ScriptedMessageBox(const seams::MessageBoxHandler& handler, HWND owner, const wchar_t* text,
                       const wchar_t* caption, UINT flags) {
    // Like the real box, a modal one: its owner takes no input until it is answered.
    bool disabledOwner = owner && ::IsWindow(owner) && ::IsWindowEnabled(owner);
    if (disabledOwner) ::EnableWindow(owner, FALSE);
    int answer = handler(seams::MessageBoxCall{owner, text, caption, flags});
    ServeMessagesFor(gHoldMs.load());
    if (disabledOwner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
    return answer;
}
}  // namespace

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (auto handler = Current(gMessageBox)) return ScriptedMessageBox(handler, owner, text, caption, flags);
    return ::MessageBoxW(owner, text, caption, flags);
}

BOOL RequestRestart(UINT flags, DWORD reason) {
    if (auto handler = Current(gRestart)) return handler(flags, reason);
    return ::ExitWindowsEx(flags, reason);
}

bool OpenWebPage(HWND owner, const wchar_t* url) {
    if (auto handler = Current(gOpenPage)) return handler(owner, url);
    auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, L"open", url, nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

namespace seams {
void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!handler) gHoldMs = kDefaultMessageBoxHoldMs;
    gMessageBox = std::move(handler);
}
void SetMessageBoxHoldTime(DWORD ms) { gHoldMs = ms; }
DWORD MessageBoxHoldTime() { return gHoldMs.load(); }
void SetRestartHandler(RestartHandler handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    gRestart = std::move(handler);
}
void SetUnattendedRunBound(DWORD ms) { gRunBoundMs = ms ? ms : kDefaultUnattendedRunBoundMs; }
DWORD UnattendedRunBound() { return gRunBoundMs.load(); }
void SetOpenPageHandler(OpenPageHandler handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    gOpenPage = std::move(handler);
}
}  // namespace seams
