// The few places where the program reaches a person or the machine as a whole. Production calls the
// system; tests install handlers that script answers and record what was asked.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// MessageBoxW, or the test's handler. Returns the button id (IDOK, IDYES, ...).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
// ExitWindowsEx, or the test's handler. Returns what ExitWindowsEx returns.
BOOL RequestRestart(UINT flags, DWORD reason);
// ShellExecuteW(open) of a web address, or the test's handler. Returns true when it was started.
bool OpenWebPage(HWND owner, const wchar_t* url);

namespace seams {

struct MessageBoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};
using MessageBoxHandler = std::function<int(const MessageBoxCall&)>;
using RestartHandler = std::function<BOOL(UINT flags, DWORD reason)>;
using OpenPageHandler = std::function<bool(HWND owner, const std::wstring& url)>;

// An empty handler restores the system's behaviour (and the default hold time below). Not for use while
// another thread calls the seam.
void SetMessageBoxHandler(MessageBoxHandler handler);

// A scripted box stays up like the real one: while it is up its owner is disabled and the calling
// thread's messages are served (timers fire, posted and sent messages are delivered), and only after
// the hold time is the handler's answer returned. 0 returns the answer at once.
constexpr DWORD kDefaultMessageBoxHoldMs = 300;
void SetMessageBoxHoldTime(DWORD ms);
DWORD MessageBoxHoldTime();
void SetRestartHandler(RestartHandler handler);

// How long an unattended run may take before the program gives up on it (README: deploying to many
// PCs). Tests shorten it here; 0 restores the default. There is no switch for it.
constexpr DWORD kDefaultUnattendedRunBoundMs = 30 * 60 * 1000;
void SetUnattendedRunBound(DWORD ms);
DWORD UnattendedRunBound();
void SetOpenPageHandler(OpenPageHandler handler);

}  // namespace seams
