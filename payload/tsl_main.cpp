// Stand-in for the game manager's launcher (TSL.exe, TSL64.exe): a small window that shows the tsl: link
// it was started with, so that the URL scheme and the installed files can be tried by hand and by tests.
#include <windows.h>
#include <shellapi.h>

#ifndef TSL_TITLE
#define TSL_TITLE L"Tessel Hub"
#endif

namespace {

constexpr wchar_t kWindowClass[] = L"TesselHubStandIn";
constexpr int kLinkControlId = 100;

// The link as given: every argument after the program name, joined by single spaces.
wchar_t* LinkFromCommandLine() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    size_t units = 1;
    for (int i = 1; argv && i < argc; ++i) units += ::lstrlenW(argv[i]) + 1;
    auto* link = static_cast<wchar_t*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, units * sizeof(wchar_t)));
    if (!link) return nullptr;
    for (int i = 1; argv && i < argc; ++i) {
        if (i > 1) ::lstrcatW(link, L" ");
        ::lstrcatW(link, argv[i]);
    }
    if (argv) ::LocalFree(argv);
    return link;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        const auto* link = static_cast<const wchar_t*>(create->lpCreateParams);
        HWND label = ::CreateWindowExW(0, L"STATIC", link && *link ? link : L"(no tsl: link given)",
                                       WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 12, 12, 456, 120, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLinkControlId)),
                                       create->hInstance, nullptr);
        ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), TRUE);
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    wchar_t* link = LinkFromCommandLine();

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc)) return 1;

    HWND window = ::CreateWindowExW(0, kWindowClass, TSL_TITLE, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 496, 184, nullptr, nullptr, instance, link);
    if (!window) return 2;
    ::ShowWindow(window, show);
    ::UpdateWindow(window);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (link) ::HeapFree(::GetProcessHeap(), 0, link);
    return static_cast<int>(msg.wParam);
}
