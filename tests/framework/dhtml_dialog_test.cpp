#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "framework/win_app.h"
#include "support/test_support.h"
#include "tests/framework/test_dialog.h"

using framework_tests::ElementCenter;
using framework_tests::kPostedMessage;
using framework_tests::kWatchdogResult;
using framework_tests::TestDialog;

namespace {

class DHtmlDialogTest : public ::testing::Test {
protected:
    void SetUp() override { CDHtmlDialog::SetPageMode(PageMode::Native); }
    void TearDown() override { CDHtmlDialog::SetPageMode(PageMode::Automatic); }
};

std::vector<std::wstring> Only(const std::vector<std::wstring>& records, const std::wstring& prefix) {
    std::vector<std::wstring> picked;
    for (const auto& r : records) {
        if (r.compare(0, prefix.size(), prefix) == 0) picked.push_back(r);
    }
    return picked;
}

const wchar_t* const kReliedOnIds[] = {L"progress_bar_percent",   L"button_minimize",         L"button_exit",
                                       L"global_section_logo", L"global_section_minimize", L"global_section_exit"};

}  // namespace

TEST_F(DHtmlDialogTest, DoModalRunsInitThenDocumentAndReturnsTheEndDialogValue) {
    TestDialog dialog;
    bool visibleAtDocument = false;
    dialog.onDocument = [&](TestDialog& d) {
        visibleAtDocument = ::IsWindowVisible(d.GetSafeHwnd()) != FALSE;
        for (const wchar_t* id : kReliedOnIds) EXPECT_TRUE(d.HasElement(id)) << id;
        EXPECT_FALSE(d.HasElement(L"no_such_element"));
        d.Finish(42);
    };
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(dialog.Records(), (std::vector<std::wstring>{L"init", L"document"}));
    EXPECT_TRUE(visibleAtDocument);
    EXPECT_EQ(dialog.ActivePageMode(), PageMode::Native);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(::IsWindow(dialog.window.load()));
}

TEST_F(DHtmlDialogTest, DialogComesFromTheEmptyPopupTemplate) {
    TestDialog dialog;
    LONG_PTR style = 0;
    wchar_t title[64] = L"x";
    HWND child = reinterpret_cast<HWND>(1);
    dialog.onDocument = [&](TestDialog& d) {
        style = ::GetWindowLongPtrW(d.GetSafeHwnd(), GWL_STYLE);
        ::GetWindowTextW(d.GetSafeHwnd(), title, 64);
        child = ::GetWindow(d.GetSafeHwnd(), GW_CHILD);
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(style & WS_CAPTION, 0);
    EXPECT_EQ(style & WS_THICKFRAME, 0);
    EXPECT_STREQ(title, L"");
    EXPECT_EQ(child, nullptr);  // the native page has no child windows
}

TEST_F(DHtmlDialogTest, EndDialogDuringInitNeverShowsTheWindow) {
    TestDialog dialog;
    bool shown = false;
    dialog.onInit = [](TestDialog& d) { d.EndDialog(7); };
    dialog.onDocument = [&](TestDialog& d) { shown = ::IsWindowVisible(d.GetSafeHwnd()) != FALSE; };
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_FALSE(shown);
    EXPECT_FALSE(dialog.HasRecord(L"document"));
}

TEST_F(DHtmlDialogTest, CloseEndsWithCancelAndADialogCanRunAgain) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog& d) { ::PostMessageW(d.GetSafeHwnd(), WM_CLOSE, 0, 0); };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    dialog.onDocument = [](TestDialog& d) { d.Finish(5); };
    EXPECT_EQ(dialog.DoModal(), 5);
    EXPECT_EQ(Only(dialog.Records(), L"document").size(), 2u);
}

TEST_F(DHtmlDialogTest, OwnerIsDisabledWhileTheDialogRuns) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                   nullptr);
    ASSERT_NE(owner, nullptr);
    TestDialog dialog(owner);
    bool enabledDuring = true;
    HWND ownerOfDialog = nullptr;
    dialog.onDocument = [&](TestDialog& d) {
        enabledDuring = ::IsWindowEnabled(owner) != FALSE;
        ownerOfDialog = ::GetWindow(d.GetSafeHwnd(), GW_OWNER);
        d.Finish(1);
    };
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_FALSE(enabledDuring);
    EXPECT_EQ(ownerOfDialog, owner);
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ::DestroyWindow(owner);
}

TEST_F(DHtmlDialogTest, ModalLoopDispatchesTimersAndMessagesPostedByOtherThreads) {
    TestDialog dialog;
    std::thread worker;
    dialog.onDocument = [&](TestDialog& d) {
        ::SetTimer(d.GetSafeHwnd(), 101, 10, nullptr);
        HWND hwnd = d.GetSafeHwnd();
        worker = std::thread([hwnd] {
            for (WPARAM i = 1; i <= 3; ++i) ::PostMessageW(hwnd, kPostedMessage, i, 0);
        });
    };
    std::thread finisher([&] {
        bool done = testing_support::WaitUntil(
            [&] { return dialog.HasRecord(L"timer:101") && dialog.HasRecord(L"posted:3"); }, 5000);
        if (HWND hwnd = dialog.window.load()) ::PostMessageW(hwnd, framework_tests::kFinishMessage, done ? 1 : 0, 0);
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    finisher.join();
    if (worker.joinable()) worker.join();
    EXPECT_EQ(Only(dialog.Records(), L"posted:"),
              (std::vector<std::wstring>{L"posted:1", L"posted:2", L"posted:3"}));
    EXPECT_EQ(Only(dialog.Records(), L"timer:").size(), 1u);
}

TEST_F(DHtmlDialogTest, QuitMessageEndsTheLoopAndIsLeftForTheOuterLoop) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog&) { ::PostQuitMessage(3); };
    EXPECT_EQ(dialog.DoModal(), -1);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(DHtmlDialogTest, ClickOnTheExitButtonReachesItsHandlerAfterTheCellsMouseDown) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog& d) {
        LPARAM at = ElementCenter(d, L"button_exit");
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONUP, 0, at);
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    auto events = dialog.Records();
    // The press bubbles from the image to its cell; the release on the same image makes the click;
    // the dialog still sees the release (it ends a drag there).
    EXPECT_EQ(Only(events, L"mousedown:"), (std::vector<std::wstring>{L"mousedown:global_section_exit"}));
    EXPECT_EQ(Only(events, L"click:"), (std::vector<std::wstring>{L"click:button_exit"}));
    EXPECT_TRUE(dialog.HasRecord(L"lbuttonup"));
    EXPECT_FALSE(dialog.HasRecord(L"lbuttondown"));
}

TEST_F(DHtmlDialogTest, PressAndReleaseOnDifferentElementsIsNoClick) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog& d) {
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, ElementCenter(d, L"button_exit"));
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONUP, 0, ElementCenter(d, L"button_minimize"));
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, ElementCenter(d, L"button_minimize"));
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONUP, 0, ElementCenter(d, L"button_minimize"));
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(Only(dialog.Records(), L"click:"), (std::vector<std::wstring>{L"click:button_minimize"}));
}

TEST_F(DHtmlDialogTest, MouseDownOnTitleCellsReachesTheirHandlersAndOtherPressesTheMessageMap) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        for (const wchar_t* id : {L"global_section_logo", L"orlyn_logo", L"global_section_minimize"}) {
            // Beside the images for the cells: a press on an image is a click on it.
            LPARAM at = ElementCenter(d, id);
            if (std::wstring(id) == L"global_section_logo") at = MAKELPARAM(20, 5);
            if (std::wstring(id) == L"global_section_minimize") at = MAKELPARAM(475, 3);
            ::PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
            ::PostMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, at);
            ::PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
        }
        ::PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, ElementCenter(d, L"progress_bar_background"));
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    auto events = dialog.Records();
    EXPECT_EQ(Only(events, L"mousedown:"),
              (std::vector<std::wstring>{L"mousedown:global_section_logo", L"mousedown:global_section_logo",
                                         L"mousedown:global_section_minimize"}));
    EXPECT_TRUE(Only(events, L"click:").empty());
    EXPECT_EQ(Only(events, L"mousemove").size(), 3u);
    EXPECT_EQ(Only(events, L"lbuttonup").size(), 3u);
    EXPECT_EQ(Only(events, L"lbuttondown").size(), 1u);  // the press on the unbound track
}

TEST_F(DHtmlDialogTest, RealMouseClickOnTheExitButtonReachesItsHandler) {
    TestDialog dialog;
    std::thread driver;
    dialog.onDocument = [&](TestDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        RECT exit = {};
        d.GetElementRect(L"button_exit", &exit);
        POINT target{(exit.left + exit.right) / 2, (exit.top + exit.bottom) / 2};
        ::ClientToScreen(hwnd, &target);
        ::SetForegroundWindow(hwnd);
        driver = std::thread([&dialog, hwnd, target] {
            ::SetCursorPos(target.x, target.y);
            INPUT input[2] = {};
            input[0].type = input[1].type = INPUT_MOUSE;
            input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            ::SendInput(2, input, sizeof(INPUT));
            bool clicked = testing_support::WaitUntil([&] { return dialog.HasRecord(L"click:button_exit"); }, 5000);
            ::PostMessageW(hwnd, framework_tests::kFinishMessage, clicked ? 1 : 0, 0);
        });
    };
    EXPECT_EQ(dialog.DoModal(), 1);
    if (driver.joinable()) driver.join();
    EXPECT_TRUE(dialog.HasRecord(L"mousedown:global_section_exit"));
}

TEST_F(DHtmlDialogTest, EscapeAndEnterEndTheDialogUnlessPreTranslateMessageTakesThem) {
    struct Case {
        WPARAM key;
        bool swallow;
        INT_PTR expected;
    } cases[] = {{VK_ESCAPE, false, IDCANCEL}, {VK_RETURN, false, IDOK}, {VK_ESCAPE, true, 9}, {VK_RETURN, true, 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " swallowed " << c.swallow);
        TestDialog dialog;
        dialog.swallowKeyDown = c.swallow;
        dialog.onDocument = [&c](TestDialog& d) {
            ::PostMessageW(d.GetSafeHwnd(), WM_KEYDOWN, c.key, 1);
            ::PostMessageW(d.GetSafeHwnd(), WM_KEYUP, c.key, 0xC0000001);
            d.Finish(9);
        };
        EXPECT_EQ(dialog.DoModal(), c.expected);
        if (c.swallow) {
            EXPECT_FALSE(dialog.HasRecord(L"keydown"));
        }
    }
}

TEST_F(DHtmlDialogTest, PreTranslateMessageCanTakeTheRightButtonRelease) {
    for (bool swallow : {false, true}) {
        SCOPED_TRACE(swallow ? "swallowed" : "passed on");
        TestDialog dialog;
        dialog.swallowRightButtonUp = swallow;
        dialog.onDocument = [](TestDialog& d) {
            ::PostMessageW(d.GetSafeHwnd(), WM_RBUTTONUP, 0, ElementCenter(d, L"title_text_area"));
            d.Finish(1);
        };
        ASSERT_EQ(dialog.DoModal(), 1);
        EXPECT_EQ(dialog.HasRecord(L"rbuttonup"), !swallow);
    }
}

TEST_F(DHtmlDialogTest, AutomaticModeShowsThePageWithWhateverRendererWorks) {
    CDHtmlDialog::SetPageMode(PageMode::Automatic);
    TestDialog dialog;
    bool hasBar = false;
    dialog.onDocument = [&](TestDialog& d) {
        hasBar = d.HasElement(L"progress_bar_percent") && d.SetElementWidth(L"progress_bar_percent", 102);
        d.Finish(1);
    };
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_TRUE(hasBar);
    if (testing_support::RunningUnderWine()) {
        EXPECT_EQ(dialog.ActivePageMode(), PageMode::Native);
    }
}

TEST_F(DHtmlDialogTest, MainWindowOfTheApplicationIsTheRunningDialog) {
    CWinApp app;
    TestDialog dialog;
    app.mainWindowObject = &dialog;
    HWND during = nullptr;
    dialog.onDocument = [&](TestDialog& d) {
        during = app.mainWindow;
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(during, dialog.window.load());
    EXPECT_EQ(app.mainWindow, nullptr);
}

TEST_F(DHtmlDialogTest, BrowserModeRunsTheDialogEvenWhereNoPageLoads) {
    CDHtmlDialog::SetPageMode(PageMode::Browser);
    TestDialog dialog;
    HWND child = nullptr;
    dialog.onInit = [&](TestDialog& d) {
        child = ::GetWindow(d.GetSafeHwnd(), GW_CHILD);
        d.Finish(3);
    };
    EXPECT_EQ(dialog.DoModal(), 3);
    if (dialog.ActivePageMode() == PageMode::Browser) {
        EXPECT_NE(child, nullptr) << "the browser control's window";
    }
}

TEST_F(DHtmlDialogTest, BrowserIsHostedOnlyWhenTheApplicationEnabledTheControlContainer) {
    CDHtmlDialog::SetPageMode(PageMode::Browser);
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled ? "enabled" : "not enabled");
        CWinApp app;
        if (enabled) app.EnableControlContainer();
        TestDialog dialog;
        HWND child = reinterpret_cast<HWND>(1);
        dialog.onInit = [&](TestDialog& d) {
            child = ::GetWindow(d.GetSafeHwnd(), GW_CHILD);
            d.Finish(3);
        };
        EXPECT_EQ(dialog.DoModal(), 3);
        if (!enabled) {
            EXPECT_EQ(child, nullptr);
        } else if (testing_support::RunningUnderWine()) {
            EXPECT_NE(child, nullptr) << "Wine creates the control (it only cannot load pages)";
        }
    }
}

TEST_F(DHtmlDialogTest, MissingTemplateMakesNoWindowAndReturnsMinusOne) {
    class NoTemplateDialog : public CDHtmlDialog {
    public:
        NoTemplateDialog() : CDHtmlDialog(4242, IDR_HTML_ORLYNREPAIR, nullptr) {}
        bool initialised = false;

    protected:
        BOOL OnInitDialog() override {
            initialised = true;
            return CDHtmlDialog::OnInitDialog();
        }
    } dialog;
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(dialog.initialised);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST_F(DHtmlDialogTest, PressThatDraggedTheWindowIsNoClick) {
    TestDialog dialog;
    dialog.onDocument = [](TestDialog& d) {
        LPARAM at = ElementCenter(d, L"button_exit");
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(d.GetSafeHwnd(), framework_tests::kMoveMessage, 30, 20);
        ::PostMessageW(d.GetSafeHwnd(), WM_LBUTTONUP, 0, at);  // the cursor moved with the window
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_TRUE(dialog.HasRecord(L"mousedown:global_section_exit"));
    EXPECT_FALSE(dialog.HasRecord(L"click:button_exit"));
    EXPECT_TRUE(dialog.HasRecord(L"lbuttonup")) << "the dialog still ends its drag";
}

// A dialog that runs without a screen: the same init, page completion, timers and posted messages,
// in a message-only window that is never shown (the browser control is not even tried).
TEST(DHtmlDialogMessageOnly, RunsItsLoopTimersAndPostsWithoutShowingAWindow) {
    CDHtmlDialog::SetPageMode(PageMode::Automatic);
    TestDialog dialog;
    dialog.SetMessageOnly(true);
    std::thread worker;
    bool visible = true;
    bool topLevel = true;
    bool widthKept = false;
    dialog.onDocument = [&](TestDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        widthKept = d.SetElementWidth(L"progress_bar_percent", 102) &&
                    d.GetElementWidth(L"progress_bar_percent") == 102;
        visible = ::IsWindowVisible(hwnd) != FALSE;
        topLevel = ::GetAncestor(hwnd, GA_PARENT) == ::GetDesktopWindow();
        ::SetTimer(hwnd, 101, 10, nullptr);
        worker = std::thread([hwnd] { ::PostMessageW(hwnd, kPostedMessage, 1, 0); });
    };
    std::thread finisher([&] {
        bool done = testing_support::WaitUntil(
            [&] { return dialog.HasRecord(L"timer:101") && dialog.HasRecord(L"posted:1"); }, 5000);
        if (HWND hwnd = dialog.window.load()) ::PostMessageW(hwnd, framework_tests::kFinishMessage, done ? 1 : 0, 0);
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    finisher.join();
    if (worker.joinable()) worker.join();
    EXPECT_TRUE(dialog.HasRecord(L"document"));
    EXPECT_FALSE(visible);
    EXPECT_FALSE(topLevel) << "a message-only window has the message root as its parent";
    EXPECT_EQ(dialog.ActivePageMode(), PageMode::Native);
    EXPECT_TRUE(widthKept);
    CDHtmlDialog::SetPageMode(PageMode::Automatic);
}
