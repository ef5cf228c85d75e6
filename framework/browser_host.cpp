#include "framework/browser_host.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ole2.h>

#include <atomic>
#include <string>

#include "common/unique_handle.h"

namespace {

// {25336920-03F9-11CF-8FD0-00AA00686F13}: the HTML document object of the system's HTML engine.
const CLSID kHtmlDocumentClsid = {0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};
// {34A715A0-6587-11D0-924A-0020AFC7AC4D}: the browser's event interface.
const IID kWebBrowserEvents2 = {0x34a715a0, 0x6587, 0x11d0, {0x92, 0x4a, 0x00, 0x20, 0xaf, 0xc7, 0xac, 0x4d}};

using orlyn::ComPtr;
using orlyn::UniqueBstr;

// The IDispatch of an event sink: it is called by id alone and offers no type information or names.
class EventSink : public IDispatch {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
};

// The client site of the browser control: container, in-place site and frame, host UI handler and
// the sink of the browser's events, in one object that lives as long as the control holds it.
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public EventSink {
public:
    BrowserSite(HWND window, DWORD hostFlags, BrowserHost::Events* events)
        : window_(window), hostFlags_(hostFlags), events_(events) {}

    // The owner events go to; nullptr once the host has closed.
    BrowserHost::Events* Owner() const { return events_; }
    void Detach() { events_ = nullptr; }
    void SetBrowser(IUnknown* browser) { browser_ = browser; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *out = static_cast<IOleInPlaceFrame*>(this);
        } else if (iid == IID_IDocHostUIHandler) {
            *out = static_cast<IDocHostUIHandler*>(this);
        } else if (iid == IID_IDispatch || iid == kWebBrowserEvents2) {
            *out = static_cast<IDispatch*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (of the in-place site and the frame)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (!frame || !document || !position || !clip || !info) return E_POINTER;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        ::GetClientRect(window_, position);
        *clip = *position;
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }  // the frame's and the UI handler's
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
        return S_OK;  // the page has no context menu
    }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
        if (!info || info->cbSize < sizeof(DOCHOSTUIINFO)) return E_INVALIDARG;
        info->dwFlags = hostFlags_;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override {
        return S_OK;  // no menus or toolbars of the browser's own
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
        if (key) *key = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
        if (target) *target = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** external) override {
        if (external) *external = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
        if (out) *out = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
        if (out) *out = nullptr;
        return S_FALSE;
    }

    // IDispatch: the browser's events
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!events_) return S_OK;
        if (id == DISPID_DOCUMENTCOMPLETE && params && params->cArgs >= 2) {
            // Arguments come last first: (pDisp, URL). Only the top-level document counts, not frames.
            const VARIANT& frame = params->rgvarg[1];
            ComPtr<IUnknown> frameUnknown;
            if (frame.vt == VT_DISPATCH && frame.pdispVal) {
                frame.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(frameUnknown.put()));
            }
            if (!browser_ || frameUnknown.get() != browser_) return S_OK;
            const VARIANT& url = params->rgvarg[0];
            const wchar_t* address = L"";
            if (url.vt == (VT_BYREF | VT_VARIANT) && url.pvarVal && url.pvarVal->vt == VT_BSTR) {
                address = url.pvarVal->bstrVal ? url.pvarVal->bstrVal : L"";
            } else if (url.vt == VT_BSTR && url.bstrVal) {
                address = url.bstrVal;
            }
            ComPtr<IDispatch> document;
            ComPtr<IWebBrowser2> web;
            if (SUCCEEDED(browser_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(web.put())))) {
                web->get_Document(document.put());
            }
            events_->OnPageLoaded(document.get(), address);
        } else if (id == DISPID_NAVIGATEERROR) {
            events_->OnPageFailed();
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    HWND window_;
    DWORD hostFlags_;
    BrowserHost::Events* events_;
    IUnknown* browser_ = nullptr;  // not held: the site is held by the browser, not the other way
};

// A page element's event handler: the page calls Invoke(DISPID_VALUE) when the event fires. The page may
// keep it, and call it, after the host has closed: it holds a counted reference to the site, so the
// site outlives it, and asks the site for its owner at each event (none once the host has closed).
class ElementHandler final : public EventSink {
public:
    ElementHandler(BrowserSite* site, const wchar_t* id, DhtmlEvent event);
    ~ElementHandler();
    ElementHandler(const ElementHandler&) = delete;
    ElementHandler& operator=(const ElementHandler&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override;

private:
    std::atomic<ULONG> refs_{1};
    BrowserSite* site_;  // counted
    std::wstring id_;
    DhtmlEvent event_;
};

ElementHandler::ElementHandler(BrowserSite* site, const wchar_t* id, DhtmlEvent event)
    : site_(site), id_(id ? id : L""), event_(event) {
    site_->AddRef();
}

ElementHandler::~ElementHandler() { site_->Release(); }

STDMETHODIMP ElementHandler::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                    UINT*) {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (result) ::VariantInit(result);
    if (BrowserHost::Events* events = site_->Owner()) events->OnElementEvent(id_.c_str(), event_);
    return S_OK;
}

class WebBrowserHost final : public BrowserHost {
public:
    ~WebBrowserHost() override { Close(); }

    bool Start(HWND parent, DWORD hostFlags, Events* events) {
        site_ = new BrowserSite(parent, hostFlags, events);
        if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                      reinterpret_cast<void**>(object_.put())))) {
            return false;
        }
        if (FAILED(object_->SetClientSite(static_cast<IOleClientSite*>(site_)))) return false;
        ::OleSetContainedObject(object_.get(), TRUE);
        RECT client;
        ::GetClientRect(parent, &client);
        if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0,
                                   parent, &client))) {
            return false;
        }
        if (FAILED(object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(browser_.put())))) {
            return false;
        }
        ComPtr<IUnknown> identity;
        browser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put()));
        site_->SetBrowser(identity.get());
        browser_->put_Silent(VARIANT_TRUE);  // no script error boxes
        ComPtr<IConnectionPointContainer> points;
        if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer,
                                               reinterpret_cast<void**>(points.put()))) &&
            SUCCEEDED(points->FindConnectionPoint(kWebBrowserEvents2, eventPoint_.put()))) {
            if (FAILED(eventPoint_->Advise(static_cast<IDispatch*>(site_), &cookie_))) eventPoint_.reset();
        }
        return eventPoint_.get() != nullptr;  // without DocumentComplete the page would never start
    }

    bool Navigate(const wchar_t* url) override {
        if (!browser_) return false;
        UniqueBstr address(url ? url : L"");
        VARIANT empty;
        ::VariantInit(&empty);
        return SUCCEEDED(browser_->Navigate(address.get(), &empty, &empty, &empty, &empty));
    }

    void Resize(const RECT& client) override {
        ComPtr<IOleInPlaceObject> inPlace;
        if (object_ && SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject,
                                                         reinterpret_cast<void**>(inPlace.put())))) {
            inPlace->SetObjectRects(&client, &client);
        }
    }

    bool BindEvent(const wchar_t* elementId, DhtmlEvent event) override {
        ComPtr<IHTMLElement> element = Element(elementId);
        ComPtr<IDispatch> dispatch = NewElementHandler(elementId, event);
        if (!element || !dispatch) return false;
        VARIANT handler;
        ::VariantInit(&handler);
        handler.vt = VT_DISPATCH;
        handler.pdispVal = dispatch.get();  // the element takes its own reference
        HRESULT hr = event == DhtmlEvent::Click ? element->put_onclick(handler) : element->put_onmousedown(handler);
        return SUCCEEDED(hr);
    }

    ComPtr<IDispatch> NewElementHandler(const wchar_t* elementId, DhtmlEvent event) override {
        ComPtr<IDispatch> handler;
        if (site_) handler.attach(new ElementHandler(site_, elementId, event));
        return handler;
    }

    bool HasElement(const wchar_t* elementId) override { return Element(elementId).get() != nullptr; }

    bool SetElementWidth(const wchar_t* elementId, long width) override {
        ComPtr<IHTMLImgElement> image = Image(elementId);
        return image && SUCCEEDED(image->put_width(width));
    }

    long GetElementWidth(const wchar_t* elementId) override {
        ComPtr<IHTMLImgElement> image = Image(elementId);
        long width = -1;
        if (!image || FAILED(image->get_width(&width))) return -1;
        return width;
    }

    bool GetElementRect(const wchar_t* elementId, RECT* rect) override {
        ComPtr<IHTMLElement> element = Element(elementId);
        ComPtr<IHTMLElement2> element2;
        ComPtr<IHTMLRect> box;
        if (!element ||
            FAILED(element->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(element2.put()))) ||
            FAILED(element2->getBoundingClientRect(box.put())) || !box) {
            return false;
        }
        RECT r = {};
        box->get_left(&r.left);
        box->get_top(&r.top);
        box->get_right(&r.right);
        box->get_bottom(&r.bottom);
        if (rect) *rect = r;
        return true;
    }

    std::wstring ElementIdAt(POINT client) override {
        ComPtr<IHTMLDocument2> document = Document2();
        ComPtr<IHTMLElement> element;
        if (!document || FAILED(document->elementFromPoint(client.x, client.y, element.put()))) return {};
        while (element) {
            UniqueBstr id;
            if (SUCCEEDED(element->get_id(id.put())) && id.get() && id.get()[0]) return std::wstring(id.get());
            ComPtr<IHTMLElement> parent;
            if (FAILED(element->get_parentElement(parent.put()))) break;
            element = parent;
        }
        return {};
    }

    bool TranslateAccelerator(MSG* msg) override {
        ComPtr<IOleInPlaceActiveObject> active;
        if (!browser_ || FAILED(browser_->QueryInterface(IID_IOleInPlaceActiveObject,
                                                         reinterpret_cast<void**>(active.put())))) {
            return false;
        }
        return active->TranslateAccelerator(msg) == S_OK;
    }

    void Close() override {
        if (site_) site_->Detach();
        if (eventPoint_) {
            eventPoint_->Unadvise(cookie_);
            eventPoint_.reset();
        }
        if (browser_) {
            browser_->Stop();
            browser_.reset();
        }
        if (object_) {
            object_->Close(OLECLOSE_NOSAVE);
            object_->SetClientSite(nullptr);
            object_.reset();
        }
        if (site_) {
            site_->SetBrowser(nullptr);
            site_->Release();
            site_ = nullptr;
        }
    }

    IUnknown* ClientSite() override { return site_ ? static_cast<IOleClientSite*>(site_) : nullptr; }

private:
    ComPtr<IDispatch> DocumentDispatch() {
        ComPtr<IDispatch> document;
        if (browser_) browser_->get_Document(document.put());
        return document;
    }
    ComPtr<IHTMLDocument2> Document2() {
        ComPtr<IHTMLDocument2> document;
        ComPtr<IDispatch> dispatch = DocumentDispatch();
        if (dispatch) dispatch->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(document.put()));
        return document;
    }
    ComPtr<IHTMLElement> Element(const wchar_t* elementId) {
        ComPtr<IHTMLElement> element;
        ComPtr<IHTMLDocument3> document;
        ComPtr<IDispatch> dispatch = DocumentDispatch();
        if (!elementId || !dispatch ||
            FAILED(dispatch->QueryInterface(IID_IHTMLDocument3, reinterpret_cast<void**>(document.put())))) {
            return element;
        }
        UniqueBstr id(elementId);
        document->getElementById(id.get(), element.put());
        return element;
    }
    ComPtr<IHTMLImgElement> Image(const wchar_t* elementId) {
        ComPtr<IHTMLImgElement> image;
        ComPtr<IHTMLElement> element = Element(elementId);
        if (element) element->QueryInterface(IID_IHTMLImgElement, reinterpret_cast<void**>(image.put()));
        return image;
    }

    BrowserSite* site_ = nullptr;
    ComPtr<IOleObject> object_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IConnectionPoint> eventPoint_;
    DWORD cookie_ = 0;
};

}  // namespace

bool BrowserHost::HtmlEngineAvailable() {
    ComPtr<IUnknown> document;
    return SUCCEEDED(::CoCreateInstance(kHtmlDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(document.put())));
}

std::unique_ptr<BrowserHost> BrowserHost::Create(HWND parent, DWORD hostFlags, Events* events) {
    auto host = std::make_unique<WebBrowserHost>();
    if (!host->Start(parent, hostFlags, events)) return nullptr;  // ~WebBrowserHost closes what was made
    return host;
}
