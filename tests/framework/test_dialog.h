// A small dialog on the framework for the tests: it records what reaches it (page events, messages
// of its message map) and runs a test's script once the page has loaded.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/dhtml_dialog.h"
#include "resources/resource.h"

namespace framework_tests {

// Posted to the dialog: ends it with wParam as DoModal's result.
constexpr UINT kFinishMessage = WM_APP + 1;
// Posted from other threads; recorded as "posted:<wParam>".
constexpr UINT kPostedMessage = WM_APP + 2;
constexpr UINT_PTR kWatchdogTimer = 0x5E1F;
constexpr UINT kWatchdogMs = 15000;
constexpr INT_PTR kWatchdogResult = -2;

class TestDialog : public CDHtmlDialog {
public:
    explicit TestDialog(HWND parent = nullptr)
        : CDHtmlDialog(IDD_ORLYNREPAIR_DIALOG, IDR_HTML_ORLYNREPAIR, parent) {}

    bool swallowKeyDown = false;
    bool swallowRightButtonUp = false;
    // Runs on the dialog thread at the end of OnDocumentComplete.
    std::function<void(TestDialog&)> onDocument;
    // Runs on the dialog thread at the end of OnInitDialog; may end the dialog.
    std::function<void(TestDialog&)> onInit;

    void Record(const std::wstring& what) {
        std::lock_guard<std::mutex> guard(mutex_);
        records_.push_back(what);
        ++recordCount;
    }
    std::vector<std::wstring> Records() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return records_;
    }
    bool HasRecord(const std::wstring& what) const {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& r : records_) {
            if (r == what) return true;
        }
        return false;
    }
    void Finish(INT_PTR result) { ::PostMessageW(GetSafeHwnd(), kFinishMessage, static_cast<WPARAM>(result), 0); }

    std::atomic<int> recordCount{0};
    std::atomic<HWND> window{nullptr};
    HANDLE documentLoaded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~TestDialog() override { ::CloseHandle(documentLoaded); }

protected:
    BOOL OnInitDialog() override {
        BOOL result = CDHtmlDialog::OnInitDialog();
        Record(L"init");
        window = GetSafeHwnd();
        ::SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, 500, 233, SWP_NOZORDER);
        ::SetTimer(GetSafeHwnd(), kWatchdogTimer, kWatchdogMs, nullptr);
        if (onInit) onInit(*this);
        return result;
    }

    void OnDocumentComplete(IDispatch* document, const wchar_t* url) override {
        CDHtmlDialog::OnDocumentComplete(document, url);
        Record(L"document");
        if (onDocument) onDocument(*this);
        ::SetEvent(documentLoaded);
    }

    BOOL PreTranslateMessage(MSG* msg) override {
        if (swallowKeyDown && msg->message == WM_KEYDOWN) return TRUE;
        if (swallowRightButtonUp && msg->message == WM_RBUTTONUP) return TRUE;
        return CDHtmlDialog::PreTranslateMessage(msg);
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        switch (message) {
        case kFinishMessage:
            EndDialog(static_cast<INT_PTR>(wParam));
            return true;
        case kPostedMessage:
            Record(L"posted:" + std::to_wstring(wParam));
            return true;
        case WM_TIMER:
            if (wParam == kWatchdogTimer) {
                ::KillTimer(GetSafeHwnd(), kWatchdogTimer);
                Record(L"watchdog");
                EndDialog(kWatchdogResult);
                return true;
            }
            Record(L"timer:" + std::to_wstring(wParam));
            ::KillTimer(GetSafeHwnd(), wParam);
            result = DefaultHandling(message, wParam, lParam);
            return true;
        case WM_KEYDOWN:
            Record(L"keydown");
            break;
        case WM_RBUTTONUP:
            Record(L"rbuttonup");
            break;
        case WM_LBUTTONDOWN:
            Record(L"lbuttondown");
            break;
        case WM_LBUTTONUP:
            Record(L"lbuttonup");
            break;
        case WM_MOUSEMOVE:
            Record(L"mousemove");
            break;
        case WM_COMMAND:
            Record(L"command:" + std::to_wstring(LOWORD(wParam)));
            break;
        default:
            break;
        }
        return false;
    }

    std::vector<EventEntry> GetEventMap() const override {
        return {
            {L"button_minimize", DhtmlEvent::Click, &OnClick},
            {L"button_exit", DhtmlEvent::Click, &OnClick},
            {L"global_section_logo", DhtmlEvent::MouseDown, &OnMouseDown},
            {L"global_section_minimize", DhtmlEvent::MouseDown, &OnMouseDown},
            {L"global_section_exit", DhtmlEvent::MouseDown, &OnMouseDown},
        };
    }

private:
    static HRESULT OnClick(CDHtmlDialog* self, const wchar_t* elementId) {
        static_cast<TestDialog*>(self)->Record(std::wstring(L"click:") + elementId);
        return S_OK;
    }
    static HRESULT OnMouseDown(CDHtmlDialog* self, const wchar_t* elementId) {
        static_cast<TestDialog*>(self)->Record(std::wstring(L"mousedown:") + elementId);
        return S_OK;
    }

    mutable std::mutex mutex_;
    std::vector<std::wstring> records_;
};

// The centre of an element in client coordinates, as a mouse message's lParam.
inline LPARAM ElementCenter(const CDHtmlDialog& dialog, const wchar_t* id) {
    RECT rect = {};
    dialog.GetElementRect(id, &rect);
    return MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

}  // namespace framework_tests
