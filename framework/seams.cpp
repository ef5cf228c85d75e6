#include "framework/seams.h"

#include <shellapi.h>

#include <mutex>

namespace {
std::mutex gMutex;
seams::MessageBoxHandler gMessageBox;
seams::RestartHandler gRestart;
seams::OpenPageHandler gOpenPage;

template <typename H>
H Current(const H& handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    return handler;
}
}  // namespace

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (auto handler = Current(gMessageBox)) return handler(seams::MessageBoxCall{owner, text, caption, flags});
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
    gMessageBox = std::move(handler);
}
void SetRestartHandler(RestartHandler handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    gRestart = std::move(handler);
}
void SetOpenPageHandler(OpenPageHandler handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    gOpenPage = std::move(handler);
}
}  // namespace seams
