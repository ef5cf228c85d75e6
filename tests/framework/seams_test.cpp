// The scripted message box stands in for MessageBoxW, so it must behave like it while it is up: its owner
// takes no input, and the calling thread's timers and posted and sent messages are served.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "framework/seams.h"
#include "support/test_support.h"

namespace {

constexpr UINT kPosted = WM_APP + 1;
constexpr UINT kSent = WM_APP + 2;

struct Seen {
    int timers = 0, posted = 0, sent = 0;
};

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* seen = reinterpret_cast<Seen*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (seen && message == WM_TIMER) ++seen->timers;
    if (seen && message == kPosted) ++seen->posted;
    if (seen && message == kSent) ++seen->sent;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// A hidden top-level window of this thread that counts what reaches it.
class RecordingWindow {
public:
    RecordingWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrlynSeamsTestWindow";
        ::RegisterClassW(&wc);
        hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                                 nullptr);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    }
    ~RecordingWindow() { ::DestroyWindow(hwnd); }
    HWND hwnd = nullptr;
    Seen seen;
};

}  // namespace

TEST(ScriptedMessageBox, ServesTheThreadsMessagesAndDisablesItsOwnerUntilItAnswers) {
    RecordingWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    seams::SetMessageBoxHoldTime(400);
    bool ownerEnabledWhileUp = true;
    std::thread sender;
    seams::SetMessageBoxHandler([&](const seams::MessageBoxCall&) {
        ownerEnabledWhileUp = ::IsWindowEnabled(window.hwnd) != FALSE;
        ::SetTimer(window.hwnd, 1, 50, nullptr);
        ::PostMessageW(window.hwnd, kPosted, 0, 0);
        // Another thread's SendMessage waits for this thread to serve it, as it would under a real box.
        sender = std::thread([hwnd = window.hwnd] {
            DWORD_PTR result = 0;
            ::SendMessageTimeoutW(hwnd, kSent, 0, 0, SMTO_NORMAL, 5000, &result);
        });
        return IDYES;
    });
    int answer = ShowMessageBox(window.hwnd, L"text", L"caption", MB_YESNO);
    ::KillTimer(window.hwnd, 1);
    sender.join();
    seams::SetMessageBoxHandler(nullptr);

    EXPECT_EQ(answer, IDYES);
    EXPECT_FALSE(ownerEnabledWhileUp);
    EXPECT_TRUE(::IsWindowEnabled(window.hwnd));
    EXPECT_GE(window.seen.timers, 2) << "a 50 ms timer under a 400 ms box";
    EXPECT_EQ(window.seen.posted, 1);
    EXPECT_EQ(window.seen.sent, 1);
    EXPECT_EQ(seams::MessageBoxHoldTime(), seams::kDefaultMessageBoxHoldMs) << "clearing the handler restores it";
}

TEST(ScriptedMessageBox, HoldTimeZeroAnswersAtOnceAndAQuitEndsTheBoxEarly) {
    RecordingWindow window;
    {
        testing_support::ScriptedMessageBoxes boxes({IDNO});
        seams::SetMessageBoxHoldTime(0);
        ::PostMessageW(window.hwnd, kPosted, 0, 0);
        EXPECT_EQ(ShowMessageBox(window.hwnd, L"t", L"c", MB_YESNO), IDNO);
        EXPECT_EQ(window.seen.posted, 0) << "a box that is never up serves nothing";
    }
    {
        // A disabled owner stays disabled; WM_QUIT ends the box and stays queued for the outer loop.
        ::EnableWindow(window.hwnd, FALSE);
        testing_support::ScriptedMessageBoxes boxes({IDOK});
        seams::SetMessageBoxHoldTime(60000);
        ::PostQuitMessage(7);
        EXPECT_EQ(ShowMessageBox(window.hwnd, L"t", L"c", MB_OK), IDOK);
        EXPECT_FALSE(::IsWindowEnabled(window.hwnd));
        EXPECT_EQ(window.seen.posted, 1) << "what came before the quit was served";
        MSG msg;
        ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 7u);
    }
}
