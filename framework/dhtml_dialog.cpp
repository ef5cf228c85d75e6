#include "framework/dhtml_dialog.h"

#include <mshtmhst.h>
#include <windowsx.h>

#include <memory>

#include "framework/browser_host.h"
#include "framework/native_page.h"
#include "framework/page_resources.h"
#include "framework/win_app.h"

namespace {

PageMode gPageMode = PageMode::Automatic;

// Posted to itself by a natively drawn page once it is laid out, so that OnDocumentComplete comes
// after OnInitDialog returned, as it does when the browser loads the page.
UINT DocumentCompleteMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"OrlynDhtmlDialogDocumentComplete");
    return message;
}

// Posted by the browser host when the page cannot be shown; handled outside the browser's own call.
UINT PageFailedMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"OrlynDhtmlDialogPageFailed");
    return message;
}

// Automatic mode: how long the browser may take to load the page before it is drawn natively.
constexpr UINT_PTR kPageLoadTimer = 0x0D7A;
constexpr UINT kPageLoadTimeoutMs = 10000;

POINT WindowOrigin(HWND hwnd) {
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    return POINT{rect.left, rect.top};
}

bool IsKeyboardMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

}  // namespace

struct CDHtmlDialog::Impl final : BrowserHost::Events {
    explicit Impl(CDHtmlDialog* owner) : self(owner) {}

    CDHtmlDialog* self;
    std::unique_ptr<NativePage> native;
    std::unique_ptr<BrowserHost> browser;
    std::wstring url;
    bool ended = false;
    INT_PTR result = 0;
    bool documentComplete = false;
    int pressedElement = -1;  // native page: element under the last left-button press
    std::wstring pressedId;   // browser page: element under the last mouse-down with a handler
    POINT pressedWindowAt = {0, 0};  // where the window was at that press
    bool oleInitialized = false;

    void OnPageLoaded(IDispatch* document, const wchar_t* loadedUrl) override {
        if (documentComplete || !browser) return;
        if (self->hwnd_) ::KillTimer(self->hwnd_, kPageLoadTimer);
        auto map = self->GetEventMap();
        // An engine that "loads" the page without its elements has not shown it.
        if (gPageMode == PageMode::Automatic) {
            for (const auto& entry : map) {
                if (!browser->HasElement(entry.elementId)) {
                    OnPageFailed();
                    return;
                }
            }
        }
        documentComplete = true;
        for (const auto& entry : map) browser->BindEvent(entry.elementId, entry.event);
        self->OnDocumentComplete(document, loadedUrl);
    }

    void OnPageFailed() override {
        if (self->hwnd_) ::PostMessageW(self->hwnd_, PageFailedMessage(), 0, 0);
    }

    // The browser could be made but did not show the page: draw it natively (Automatic only).
    void FallBackToNative() {
        if (gPageMode != PageMode::Automatic || documentComplete || !browser) return;
        ::KillTimer(self->hwnd_, kPageLoadTimer);
        browser->Close();
        browser.reset();
        ReleaseOle();
        self->StartNativePage();
    }

    void ReleaseOle() {
        if (oleInitialized) ::OleUninitialize();
        oleInitialized = false;
    }

    HRESULT OnElementEvent(const wchar_t* elementId, DhtmlEvent event) override {
        if (event == DhtmlEvent::MouseDown && browser) {
            // A mouse-down handler may capture the mouse for the dialog (to drag it); then the page
            // never sees the release and a button's click would be lost. Remember what was pressed.
            POINT cursor;
            ::GetCursorPos(&cursor);
            ::ScreenToClient(self->hwnd_, &cursor);
            pressedId = browser->ElementIdAt(cursor);
            pressedWindowAt = WindowOrigin(self->hwnd_);
        } else if (event == DhtmlEvent::Click) {
            pressedId.clear();
        }
        return self->FireEvent(elementId, event) ? S_OK : S_FALSE;
    }

    // Browser page: a release that reached the dialog (it held the capture) over the element that was
    // pressed is that element's click.
    void ReleaseReachedDialog(LPARAM lParam) {
        if (!browser || pressedId.empty()) return;
        std::wstring pressed;
        pressed.swap(pressedId);
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        POINT origin = WindowOrigin(self->hwnd_);
        if (origin.x != pressedWindowAt.x || origin.y != pressedWindowAt.y) return;  // a drag
        if (browser->ElementIdAt(point) == pressed) self->FireEvent(pressed.c_str(), DhtmlEvent::Click);
    }
};

CDHtmlDialog::CDHtmlDialog(UINT templateId, UINT htmlId, HWND parent)
    : hostFlags(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO),
      templateId_(templateId),
      htmlId_(htmlId),
      parent_(parent),
      impl_(std::make_unique<Impl>(this)) {}

CDHtmlDialog::~CDHtmlDialog() {
    if (hwnd_) ::DestroyWindow(hwnd_);
}

void CDHtmlDialog::SetPageMode(PageMode mode) { gPageMode = mode; }

INT_PTR CDHtmlDialog::DoModal() {
    if (hwnd_) return -1;  // already running
    impl_->ended = false;
    impl_->result = 0;
    impl_->documentComplete = false;
    impl_->pressedElement = -1;
    impl_->pressedId.clear();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    HWND owner = parent_;
    HWND created = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId_),
                                        messageOnly_ ? HWND_MESSAGE : owner, DialogProc,
                                        reinterpret_cast<LPARAM>(this));
    if (!created) return -1;
    CWinApp* app = CWinApp::Current();
    if (app && app->mainWindowObject == this) app->mainWindow = hwnd_;

    // Modal: the owner takes no input while the dialog runs.
    bool ownerWasEnabled = false;
    if (owner && !messageOnly_ && ::IsWindowEnabled(owner)) {
        ownerWasEnabled = true;
        ::EnableWindow(owner, FALSE);
    }
    if (!impl_->ended && hwnd_ && !messageOnly_) ::ShowWindow(hwnd_, SW_SHOWNORMAL);

    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!impl_->ended && hwnd_ && ::IsWindow(hwnd_)) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            impl_->result = -1;
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    if (ownerWasEnabled) ::EnableWindow(owner, TRUE);
    if (hwnd_) {
        if (owner && ::GetActiveWindow() == hwnd_) ::SetActiveWindow(owner);
        ::DestroyWindow(hwnd_);
    }
    if (app && app->mainWindowObject == this) app->mainWindow = nullptr;
    // WM_QUIT belongs to the thread's outer loop.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return impl_->result;
}

void CDHtmlDialog::EndDialog(INT_PTR result) {
    impl_->ended = true;
    impl_->result = result;
    // The loop ends once this message's handling returns, and the window is destroyed then.
    if (hwnd_) {
        ::ShowWindow(hwnd_, SW_HIDE);
        ::PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes the modal loop
    }
}

bool CDHtmlDialog::SetElementWidth(const wchar_t* elementId, long width) {
    if (impl_->browser) return impl_->browser->SetElementWidth(elementId, width);
    if (!impl_->native || !impl_->native->SetElementWidth(elementId, width)) return false;
    RECT rect;
    if (hwnd_ && impl_->native->GetElementRect(elementId, &rect)) {
        // The whole parent box: the old width may have been wider.
        const auto& layout = impl_->native->Layout();
        int index = page_layout::FindElement(layout, elementId);
        RECT dirty = layout.elements[layout.elements[index].parent >= 0 ? layout.elements[index].parent : index].rect;
        ::InvalidateRect(hwnd_, &dirty, FALSE);
    }
    return true;
}

long CDHtmlDialog::GetElementWidth(const wchar_t* elementId) const {
    if (impl_->browser) return impl_->browser->GetElementWidth(elementId);
    return impl_->native ? impl_->native->GetElementWidth(elementId) : -1;
}

bool CDHtmlDialog::HasElement(const wchar_t* elementId) const {
    if (impl_->browser) return impl_->browser->HasElement(elementId);
    return impl_->native && impl_->native->HasElement(elementId);
}

bool CDHtmlDialog::GetElementRect(const wchar_t* elementId, RECT* rect) const {
    if (impl_->browser) return impl_->browser->GetElementRect(elementId, rect);
    return impl_->native && impl_->native->GetElementRect(elementId, rect);
}

bool CDHtmlDialog::IsDocumentComplete() const { return impl_->documentComplete; }

BOOL CDHtmlDialog::OnInitDialog() {
    impl_->url = page_resources::PageUrl(nullptr, htmlId_);
    // Without a screen no browser control is made; the native page, never drawn, still keeps the
    // element widths and tells when the page is complete.
    if (!messageOnly_) {
        if (gPageMode != PageMode::Native && StartBrowserPage()) return TRUE;
        if (gPageMode == PageMode::Browser) return TRUE;  // asked for the browser only: an empty face
    }
    StartNativePage();
    return TRUE;
}

bool CDHtmlDialog::StartBrowserPage() {
    // An application that did not enable the control container hosts no controls.
    CWinApp* app = CWinApp::Current();
    if (app && !app->ControlContainerEnabled()) return false;
    if (gPageMode == PageMode::Automatic && !BrowserHost::HtmlEngineAvailable()) return false;
    // In-place activation, drag and drop and the clipboard of the control need OLE, not just COM.
    if (!impl_->oleInitialized && SUCCEEDED(::OleInitialize(nullptr))) impl_->oleInitialized = true;
    auto browser = BrowserHost::Create(hwnd_, hostFlags, impl_.get());
    if (!browser) {
        impl_->ReleaseOle();
        return false;
    }
    RECT client;
    ::GetClientRect(hwnd_, &client);
    browser->Resize(client);
    impl_->browser = std::move(browser);
    if (!impl_->browser->Navigate(impl_->url.c_str())) {
        impl_->browser->Close();
        impl_->browser.reset();
        impl_->ReleaseOle();
        return false;
    }
    activeMode_ = PageMode::Browser;
    if (gPageMode == PageMode::Automatic) ::SetTimer(hwnd_, kPageLoadTimer, kPageLoadTimeoutMs, nullptr);
    return true;
}

void CDHtmlDialog::StartNativePage() {
    impl_->native = std::make_unique<NativePage>();
    impl_->native->Load(nullptr, htmlId_);
    activeMode_ = PageMode::Native;
    if (hwnd_) {
        ::InvalidateRect(hwnd_, nullptr, TRUE);
        ::PostMessageW(hwnd_, DocumentCompleteMessage(), 0, 0);
    }
}

BOOL CDHtmlDialog::PreTranslateMessage(MSG* msg) {
    if (!hwnd_ || !msg || !IsKeyboardMessage(msg->message)) return FALSE;
    if (msg->hwnd != hwnd_ && !::IsChild(hwnd_, msg->hwnd)) return FALSE;
    if (impl_->browser && impl_->browser->TranslateAccelerator(msg)) return TRUE;
    // Dialog keys, as a dialog has them: Enter is IDOK, Escape is IDCANCEL.
    return ::IsDialogMessageW(hwnd_, msg);
}

bool CDHtmlDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CDHtmlDialog::OnDocumentComplete(IDispatch*, const wchar_t*) {}

bool CDHtmlDialog::FireEvent(const wchar_t* elementId, DhtmlEvent event) {
    bool fired = false;
    for (const auto& entry : GetEventMap()) {
        if (entry.event == event && entry.elementId && elementId && wcscmp(entry.elementId, elementId) == 0) {
            entry.handler(this, elementId);
            fired = true;
        }
    }
    return fired;
}

bool CDHtmlDialog::HasEventHandler(const wchar_t* elementId) const {
    for (const auto& entry : GetEventMap()) {
        if (entry.elementId && elementId && wcscmp(entry.elementId, elementId) == 0) return true;
    }
    return false;
}

bool CDHtmlDialog::BaseMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_PAINT:
        if (impl_->native) {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(hwnd_, &paint);
            RECT client;
            ::GetClientRect(hwnd_, &client);
            if (dc) impl_->native->Paint(dc, client);
            ::EndPaint(hwnd_, &paint);
            result = 0;
            return true;
        }
        return false;
    case WM_PRINTCLIENT:
        if (impl_->native && wParam) {
            RECT client;
            ::GetClientRect(hwnd_, &client);
            impl_->native->Paint(reinterpret_cast<HDC>(wParam), client);
            result = 0;
            return true;
        }
        return false;
    case WM_ERASEBKGND:
        if (impl_->native) {  // the page paints every pixel, off-screen first
            result = 1;
            return true;
        }
        return false;
    case WM_SIZE:
        if (impl_->browser) {
            RECT client;
            ::GetClientRect(hwnd_, &client);
            impl_->browser->Resize(client);
        } else if (impl_->native) {
            ::InvalidateRect(hwnd_, nullptr, FALSE);
        }
        result = 0;
        return true;
    case WM_CLOSE:
        EndDialog(IDCANCEL);
        result = 0;
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            EndDialog(LOWORD(wParam));
            result = 0;
            return true;
        }
        return false;
    case WM_DESTROY:
        if (impl_->browser) {
            impl_->browser->Close();
            impl_->browser.reset();
        }
        impl_->ReleaseOle();
        return false;
    default:
        (void)lParam;
        return false;
    }
}

LRESULT CDHtmlDialog::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (BaseMessage(message, wParam, lParam, result)) return result;
    return hwnd_ ? ::DefWindowProcW(hwnd_, message, wParam, lParam) : 0;
}

bool CDHtmlDialog::RouteNativeMouse(UINT message, LPARAM lParam) {
    if (!impl_->native) return false;
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const auto& layout = impl_->native->Layout();
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
        int hit = impl_->native->HitTest(point);
        impl_->pressedElement = hit;
        impl_->pressedWindowAt = WindowOrigin(hwnd_);
        bool bound = false;
        // Mouse-down bubbles from the innermost element out, as on the page.
        for (int index : page_layout::Ancestry(layout, hit)) {
            const wchar_t* id = layout.elements[index].id;
            if (HasEventHandler(id)) bound = true;
            FireEvent(id, DhtmlEvent::MouseDown);
            if (!hwnd_) return true;  // a handler destroyed the window
        }
        return bound;
    }
    if (message == WM_LBUTTONUP) {
        int pressed = impl_->pressedElement;
        impl_->pressedElement = -1;
        if (pressed < 0) return false;
        // A press that dragged the window is no click, even though the cursor is still on the element.
        POINT origin = WindowOrigin(hwnd_);
        if (origin.x != impl_->pressedWindowAt.x || origin.y != impl_->pressedWindowAt.y) return false;
        int released = impl_->native->HitTest(point);
        // A click goes to the innermost element that holds both the press and the release.
        auto pressedChain = page_layout::Ancestry(layout, pressed);
        int target = -1;
        for (int index : page_layout::Ancestry(layout, released)) {
            for (int p : pressedChain) {
                if (p == index) {
                    target = index;
                    break;
                }
            }
            if (target >= 0) break;
        }
        for (int index : page_layout::Ancestry(layout, target)) {
            FireEvent(layout.elements[index].id, DhtmlEvent::Click);
            if (!hwnd_) return true;
        }
        return false;  // the dialog still sees the release (it ends a drag)
    }
    return false;
}

INT_PTR CALLBACK CDHtmlDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDHtmlDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDHtmlDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDHtmlDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        return FALSE;
    }
    if (message == DocumentCompleteMessage() && message != 0) {
        if (self->impl_->native && !self->impl_->documentComplete) {
            self->impl_->documentComplete = true;
            self->OnDocumentComplete(nullptr, self->impl_->url.c_str());
        }
        return TRUE;
    }
    if (message == PageFailedMessage() && message != 0) {
        self->impl_->FallBackToNative();
        return TRUE;
    }
    if (message == WM_TIMER && wParam == kPageLoadTimer) {
        self->impl_->FallBackToNative();
        return TRUE;
    }
    if (self->RouteNativeMouse(message, lParam)) return TRUE;
    if (message == WM_LBUTTONUP) {
        self->impl_->ReleaseReachedDialog(lParam);
        if (!self->hwnd_) return TRUE;
    }

    LRESULT result = 0;
    bool handled = self->OnMessage(message, wParam, lParam, result);
    if (!handled) handled = self->BaseMessage(message, wParam, lParam, result);
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    if (self->hwnd_) ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}
