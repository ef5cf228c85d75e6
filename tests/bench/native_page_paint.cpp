// How long the native page takes to load (decode its images) and to draw one frame. The progress bar
// is redrawn every 100 ms while a repair runs, so a frame must cost a small part of that.
#include <windows.h>

#include <cstdio>

#include "framework/native_page.h"
#include "resources/resource.h"

namespace {
double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int main() {
    constexpr int kLoads = 20, kFrames = 500;
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kLoads; ++i) {
        NativePage page;
        if (!page.Load(nullptr, IDR_HTML_ORLYNREPAIR)) {
            std::printf("the page resource is missing\n");
            return 1;
        }
    }
    ::QueryPerformanceCounter(&end);
    std::printf("load (GDI+ start, page, 7 images): %.2f ms\n", Milliseconds(start, end) / kLoads);

    NativePage page;
    page.Load(nullptr, IDR_HTML_ORLYNREPAIR);
    HDC screen = ::GetDC(nullptr);
    HDC target = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 500, 233);
    HGDIOBJ old = ::SelectObject(target, bitmap);
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kFrames; ++i) {
        page.SetElementWidth(L"progress_bar_percent", 1 + (i * 310) / kFrames);
        page.Paint(target, RECT{0, 0, 500, 233});
    }
    ::GdiFlush();
    ::QueryPerformanceCounter(&end);
    std::printf("paint one frame (500 x 233, double-buffered): %.3f ms\n", Milliseconds(start, end) / kFrames);
    ::SelectObject(target, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(target);
    ::ReleaseDC(nullptr, screen);
    return 0;
}
