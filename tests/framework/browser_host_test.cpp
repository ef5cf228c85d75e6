#include <windows.h>
#include <exdispid.h>
#include <mshtmhst.h>

#include <gtest/gtest.h>

#include <string>

#include "common/unique_handle.h"
#include "framework/browser_host.h"
#include "tests/framework/test_dialog.h"

using orlyn::ComPtr;

namespace {

class RecordingEvents final : public BrowserHost::Events {
public:
    void OnPageLoaded(IDispatch*, const wchar_t*) override { ++loaded; }
    void OnPageFailed() override { ++failed; }
    HRESULT OnElementEvent(const wchar_t* id, DhtmlEvent event) override {
        ++elementEvents;
        lastElement = id;
        lastEvent = event;
        return S_OK;
    }
    int loaded = 0, failed = 0, elementEvents = 0;
    std::wstring lastElement;
    DhtmlEvent lastEvent = DhtmlEvent::Click;
};

class BrowserHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = ::CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 500, 233, nullptr, nullptr, nullptr,
                                    nullptr);
        ASSERT_NE(window_, nullptr);
        host_ = BrowserHost::Create(window_, kFlags, &events_);
        if (!host_) GTEST_SKIP() << "the browser control cannot be created here";
    }
    void TearDown() override {
        if (host_) host_->Close();
        host_.reset();
        if (window_) ::DestroyWindow(window_);
    }

    template <typename T>
    ComPtr<T> Site(REFIID iid) {
        ComPtr<T> site;
        if (host_->ClientSite()) host_->ClientSite()->QueryInterface(iid, reinterpret_cast<void**>(site.put()));
        return site;
    }

    static constexpr DWORD kFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME;
    HWND window_ = nullptr;
    RecordingEvents events_;
    std::unique_ptr<BrowserHost> host_;
};

}  // namespace

TEST(DHtmlDialogHostFlags, BaseAsksForNoBorderAndNoScrollBars) {
    framework_tests::TestDialog dialog;
    EXPECT_EQ(dialog.hostFlags, static_cast<DWORD>(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO));
}

TEST_F(BrowserHostTest, HostInfoCarriesTheDialogsFlags) {
    auto handler = Site<IDocHostUIHandler>(IID_IDocHostUIHandler);
    ASSERT_TRUE(handler);
    DOCHOSTUIINFO info = {};
    info.cbSize = sizeof(info);
    info.dwFlags = 0xDEADBEEF;
    ASSERT_EQ(handler->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, kFlags);
    DOCHOSTUIINFO tooSmall = {};
    tooSmall.cbSize = 4;
    EXPECT_EQ(handler->GetHostInfo(&tooSmall), E_INVALIDARG);
    POINT at{10, 10};
    EXPECT_EQ(handler->ShowContextMenu(0, &at, nullptr, nullptr), S_OK) << "the browser shows no menu of its own";
}

TEST_F(BrowserHostTest, SiteIsTheHostWindowInPlace) {
    auto site = Site<IOleInPlaceSite>(IID_IOleInPlaceSite);
    ASSERT_TRUE(site);
    HWND window = nullptr;
    ASSERT_EQ(site->GetWindow(&window), S_OK);
    EXPECT_EQ(window, window_);
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position = {}, clip = {};
    OLEINPLACEFRAMEINFO info = {};
    info.cb = sizeof(info);
    ASSERT_EQ(site->GetWindowContext(frame.put(), document.put(), &position, &clip, &info), S_OK);
    EXPECT_TRUE(frame);
    EXPECT_EQ(position.right - position.left, 500);
    EXPECT_EQ(position.bottom - position.top, 233);
    EXPECT_EQ(info.hwndFrame, window_);
    // The control's own window lies in the host window.
    EXPECT_NE(::GetWindow(window_, GW_CHILD), nullptr);
}

TEST_F(BrowserHostTest, BrowserEventsReachTheOwnerUntilTheHostCloses) {
    auto sink = Site<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(sink);
    DISPPARAMS none = {};
    sink->Invoke(DISPID_NAVIGATEERROR, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ(events_.failed, 1);

    // A frame's DocumentComplete (not the browser's own) is not the page's.
    VARIANT args[2];
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = sink.get();  // some other object
    args[0].vt = VT_BSTR;
    args[0].bstrVal = ::SysAllocString(L"about:blank");
    DISPPARAMS complete = {args, nullptr, 2, 0};
    sink->Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, 0, DISPATCH_METHOD, &complete, nullptr, nullptr, nullptr);
    EXPECT_EQ(events_.loaded, 0);
    ::SysFreeString(args[0].bstrVal);

    host_->Close();
    sink->Invoke(DISPID_NAVIGATEERROR, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ(events_.failed, 1);
    EXPECT_EQ(host_->ClientSite(), nullptr);
    host_->Close();  // twice is harmless
    EXPECT_FALSE(host_->HasElement(L"progress_bar_percent"));
    EXPECT_FALSE(host_->SetElementWidth(L"progress_bar_percent", 5));
}

TEST_F(BrowserHostTest, AnElementHandlerThePageKeepsPastCloseReachesNoReleasedSite) {
    ComPtr<IDispatch> handler = host_->NewElementHandler(L"btn_retry", DhtmlEvent::MouseDown);
    ASSERT_TRUE(handler);
    DISPPARAMS none = {};
    VARIANT result;
    result.vt = VT_I4;  // preset: the handler must clear it
    EXPECT_EQ(handler->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(events_.elementEvents, 1);
    EXPECT_EQ(events_.lastElement, L"btn_retry");
    EXPECT_EQ(events_.lastEvent, DhtmlEvent::MouseDown);
    EXPECT_EQ(handler->Invoke(DISPID_UNKNOWN, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(events_.elementEvents, 1);

    // The test holds the site too, to see who else does once the host has let it go.
    IUnknown* site = host_->ClientSite();
    ASSERT_NE(site, nullptr);
    site->AddRef();
    host_->Close();
    EXPECT_FALSE(host_->NewElementHandler(L"btn_retry", DhtmlEvent::Click)) << "no new handlers after Close";

    // A late event, as a page still being torn down may send: nothing reaches the owner.
    EXPECT_EQ(handler->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(events_.elementEvents, 1);
    ASSERT_EQ(site->Release(), 1u) << "the handler keeps the site alive";
    EXPECT_EQ(handler->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(events_.elementEvents, 1);
    handler.reset();  // releases the site with it
}
