// A modal dialog whose face is an HTML page (resource), in place of MFC's CDHtmlDialog.
//
// Where the system's HTML engine works, the page is shown in the browser control (IWebBrowser2, our
// own client site, host flags from `hostFlags`), its "BINARY/NAME" images are served from the
// program's resources, and element events are bound from the event map. Where it does not (Wine has
// no HTML engine), the same page is drawn natively from the same image resources, with the same
// element ids, hit areas and events, so the window looks and behaves the same.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

enum class DhtmlEvent { Click, MouseDown };

// How the page is shown.
enum class PageMode {
    Automatic,  // the browser control when it can load the page, else native
    Browser,
    Native,
};

class CDHtmlDialog {
public:
    // templateId: dialog template resource; htmlId: HTML resource of the page; parent may be null.
    CDHtmlDialog(UINT templateId, UINT htmlId, HWND parent);
    virtual ~CDHtmlDialog();
    CDHtmlDialog(const CDHtmlDialog&) = delete;
    CDHtmlDialog& operator=(const CDHtmlDialog&) = delete;

    // Creates the dialog from its template and runs its modal loop; returns the EndDialog value.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    HWND GetSafeHwnd() const { return hwnd_; }

    // Sets an image element's width in pixels (IHTMLImgElement::put_width; the native page redraws).
    // Returns false when the element is not available or is no image. Dialog thread only.
    bool SetElementWidth(const wchar_t* elementId, long width);
    // Current width of an element, or -1 (for tests and screenshots).
    long GetElementWidth(const wchar_t* elementId) const;
    // Whether the page has an element of that id.
    bool HasElement(const wchar_t* elementId) const;
    // Client-coordinate rectangle of an element (browser: its bounding rectangle), for tests that click it.
    bool GetElementRect(const wchar_t* elementId, RECT* rect) const;
    PageMode ActivePageMode() const { return activeMode_; }

    // Whether the page has loaded (OnDocumentComplete has been called).
    bool IsDocumentComplete() const;

    // Runs the dialog in a message-only window: the same messages, timers and modal loop, but nothing
    // on the screen (the window is never shown and the page is not drawn). Set before DoModal.
    void SetMessageOnly(bool messageOnly) { messageOnly_ = messageOnly; }

    // Which page renderer to use; Automatic by default. Tests and screenshots use Native.
    static void SetPageMode(PageMode mode);

    // Host flags of the browser control (DOCHOSTUIFLAG_*); the base sets NO3DBORDER | SCROLL_NO.
    DWORD hostFlags;

protected:
    // Base: creates the page host and loads the page. Derived classes call it first.
    virtual BOOL OnInitDialog();
    // Called by the modal loop for every message before it is dispatched; return TRUE when the message
    // was handled and must not be dispatched. Base: keyboard messages of the dialog go to the page
    // (browser) and then to IsDialogMessage, so Enter ends the dialog with IDOK and Escape with IDCANCEL.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // The message map: return true and set result when handled; else the base handles it.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Base handling of a message (what "default handling" means for a derived handler): the native page
    // paints, WM_CLOSE and IDOK/IDCANCEL end the dialog, the rest goes to DefWindowProc.
    LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam);
    // Called once the page has loaded (browser: DocumentComplete; native: after the first layout).
    virtual void OnDocumentComplete(IDispatch* document, const wchar_t* url);

    // DHTML event map: element id, event, handler. Handlers return S_OK.
    struct EventEntry {
        const wchar_t* elementId;
        DhtmlEvent event;
        HRESULT (*handler)(CDHtmlDialog* self, const wchar_t* elementId);
    };
    virtual std::vector<EventEntry> GetEventMap() const { return {}; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    struct Impl;

    bool StartBrowserPage();
    void StartNativePage();
    // Calls the event map's handlers for that element and event; true when there was one.
    bool FireEvent(const wchar_t* elementId, DhtmlEvent event);
    bool HasEventHandler(const wchar_t* elementId) const;
    // What the base does with a message (paint the page, close, IDOK/IDCANCEL, resize the page).
    bool BaseMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Native page: left-button presses and releases on elements become the page's events. True when
    // the message was taken by the page.
    bool RouteNativeMouse(UINT message, LPARAM lParam);

    UINT templateId_;
    UINT htmlId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
    bool messageOnly_ = false;
    PageMode activeMode_ = PageMode::Native;
    std::unique_ptr<Impl> impl_;  // the page host, the modal loop's state and the native page's press
};
