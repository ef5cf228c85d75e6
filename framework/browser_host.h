// The system's browser control (IWebBrowser2) hosted in a window with our own client site: host
// flags from the dialog, no context menu of its own, page events reported to the owner.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "common/unique_handle.h"
#include "framework/dhtml_dialog.h"

class BrowserHost {
public:
    // What the host reports to its dialog (on the dialog thread).
    class Events {
    public:
        virtual void OnPageLoaded(IDispatch* document, const wchar_t* url) = 0;
        virtual void OnPageFailed() = 0;
        // A bound element event fired; returns what the page's handler returns (S_OK).
        virtual HRESULT OnElementEvent(const wchar_t* elementId, DhtmlEvent event) = 0;

    protected:
        ~Events() = default;
    };

    virtual ~BrowserHost() = default;

    // Whether this system has an HTML engine at all (Wine's can be missing).
    static bool HtmlEngineAvailable();
    // Creates the control in-place in parent's client area; nullptr when it cannot be created.
    static std::unique_ptr<BrowserHost> Create(HWND parent, DWORD hostFlags, Events* events);

    virtual bool Navigate(const wchar_t* url) = 0;
    virtual void Resize(const RECT& client) = 0;
    // Binds an element's event (after the page loaded). False when the element is missing.
    virtual bool BindEvent(const wchar_t* elementId, DhtmlEvent event) = 0;
    // The handler object BindEvent gives the page for an element's event (also for tests); it reports to
    // the owner while the host is open and does nothing after Close, however long the page keeps it.
    // Empty after Close.
    virtual orlyn::ComPtr<IDispatch> NewElementHandler(const wchar_t* elementId, DhtmlEvent event) = 0;
    virtual bool HasElement(const wchar_t* elementId) = 0;
    virtual bool SetElementWidth(const wchar_t* elementId, long width) = 0;
    virtual long GetElementWidth(const wchar_t* elementId) = 0;
    virtual bool GetElementRect(const wchar_t* elementId, RECT* rect) = 0;
    // Id of the innermost element with an id at a client point of the page, empty if none.
    virtual std::wstring ElementIdAt(POINT client) = 0;
    // Gives a keyboard message to the page (its accelerators, tab keys); true when it took it.
    virtual bool TranslateAccelerator(MSG* msg) = 0;
    // Releases the control and its site; the host does nothing afterwards.
    virtual void Close() = 0;
    // The client site the control was given (for tests); nullptr after Close.
    virtual IUnknown* ClientSite() = 0;
};
