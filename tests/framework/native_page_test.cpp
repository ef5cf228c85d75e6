#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "framework/native_page.h"
#include "resources/resource.h"
#include "support/test_support.h"
#include "tests/framework/test_dialog.h"

using framework_tests::TestDialog;

namespace {

// A 32-bit top-down picture of the page, as drawn into a memory DC.
class PagePicture {
public:
    PagePicture(long width = 500, long height = 233) : width_(width), height_(height) {
        BITMAPINFO info = TopDownPictureInfo(width, height);
        dc_ = ::CreateCompatibleDC(nullptr);
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = ::SelectObject(dc_, bitmap_);
    }
    ~PagePicture() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF At(long x, long y) const {
        ::GdiFlush();
        DWORD p = bits_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Columns of row y, from x0 to x1 (exclusive), where pred holds for the pixel.
    long Count(long y, long x0, long x1, const std::function<bool(COLORREF)>& pred) const {
        long n = 0;
        for (long x = x0; x < x1; ++x) n += pred(At(x, y)) ? 1 : 0;
        return n;
    }

private:
    long width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    DWORD* bits_ = nullptr;
};

bool IsOrange(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) > 60 && GetGValue(c) < 190 && GetBValue(c) < 90; }
bool IsDark(COLORREF c) { return GetRValue(c) < 90 && GetGValue(c) < 90 && GetBValue(c) < 90; }
bool IsLight(COLORREF c) { return GetRValue(c) > 170 && GetGValue(c) > 170 && GetBValue(c) > 170; }

constexpr long kBarRow = 163;  // the middle row of the progress track

// The drawn width of the progress fill: orange columns from the track's left edge on.
long DrawnBarWidth(const PagePicture& picture) {
    long x = 50;
    while (x < 450 && IsOrange(picture.At(x, kBarRow))) ++x;
    return x - 50;
}

}  // namespace

TEST(NativePage, DrawsTheProgressFillAtTheWidthItWasGiven) {
    NativePage page;
    ASSERT_TRUE(page.Load(nullptr, IDR_HTML_ORLYNREPAIR));
    RECT client{0, 0, 500, 233};
    for (long width : {1L, 102L, 204L, 310L}) {
        SCOPED_TRACE(testing::Message() << "width " << width);
        ASSERT_TRUE(page.SetElementWidth(L"progress_bar_percent", width));
        EXPECT_EQ(page.GetElementWidth(L"progress_bar_percent"), width);
        PagePicture picture;
        page.Paint(picture.dc(), client);
        EXPECT_EQ(DrawnBarWidth(picture), width);
        // The rest of the track is the dark base.
        EXPECT_EQ(picture.Count(kBarRow, 50 + width + 1, 448, IsDark), 448 - (50 + width + 1));
    }
}

TEST(NativePage, DrawsTheTitleBarAndTheCentredText) {
    NativePage page;
    ASSERT_TRUE(page.Load(nullptr, IDR_HTML_ORLYNREPAIR));
    EXPECT_EQ(page.Text(), L"복구 중...");
    PagePicture picture;
    page.Paint(picture.dc(), RECT{0, 0, 500, 233});
    // Black title bar with the orange logo and the light buttons.
    EXPECT_EQ(picture.At(5, 5), RGB(0, 0, 0));
    EXPECT_GT(picture.Count(14, 221, 280, IsOrange), 5);
    EXPECT_EQ(picture.Count(14, 0, 221, IsOrange), 0);
    long light = 0;
    for (long y = 6; y < 22; ++y) light += picture.Count(y, 451, 467, IsLight);
    EXPECT_GT(light, 4) << "minimise button";
    light = 0;
    for (long y = 10; y < 19; ++y) light += picture.Count(y, 481, 490, IsLight);
    EXPECT_GT(light, 4) << "close button";
    // White text below the panel's top padding, centred: as much of it left of the middle as right.
    long left = 500, right = -1;
    for (long y = 98; y < 118; ++y) {
        for (long x = 120; x < 380; ++x) {
            if (IsLight(picture.At(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    ASSERT_LT(left, right) << "no text drawn";
    EXPECT_LE(std::abs((left - 120) - (380 - 1 - right)), 3);
    for (long x = 120; x < 380; ++x) EXPECT_FALSE(IsLight(picture.At(x, 90))) << "text above its padding";
}

TEST(NativePage, WidthIsOnlyForImagesOfThePage) {
    NativePage page;
    ASSERT_TRUE(page.Load(nullptr, IDR_HTML_ORLYNREPAIR));
    EXPECT_FALSE(page.SetElementWidth(L"progress_bar_background", 10));  // not an image
    EXPECT_FALSE(page.SetElementWidth(L"no_such_element", 10));
    EXPECT_FALSE(page.SetElementWidth(L"progress_bar_percent", -1));
    EXPECT_FALSE(page.SetElementWidth(nullptr, 10));
    EXPECT_EQ(page.GetElementWidth(L"progress_bar_percent"), 1);
    EXPECT_EQ(page.GetElementWidth(L"no_such_element"), -1);
}

TEST(NativePage, WithoutThePageResourceThereIsNoPage) {
    NativePage page;
    EXPECT_FALSE(page.Load(nullptr, 4242));
    EXPECT_FALSE(page.HasElement(L"progress_bar_percent"));
}

TEST(NativePage, DialogRedrawsTheBarWhenItsWidthChanges) {
    CDHtmlDialog::SetPageMode(PageMode::Native);
    TestDialog dialog;
    long before = -1, after = -1, onScreen = -1;
    bool notAnImage = true;
    dialog.onDocument = [&](TestDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        PagePicture first;
        ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(first.dc()), PRF_CLIENT);
        before = DrawnBarWidth(first);
        EXPECT_TRUE(d.SetElementWidth(L"progress_bar_percent", 204));
        notAnImage = d.SetElementWidth(L"entire_popup", 10);
        PagePicture second;
        ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(second.dc()), PRF_CLIENT);
        after = DrawnBarWidth(second);
        // What WM_PAINT put into the window itself.
        ::UpdateWindow(hwnd);
        PagePicture window;
        HDC dc = ::GetDC(hwnd);
        ::BitBlt(window.dc(), 0, 0, 500, 233, dc, 0, 0, SRCCOPY);
        ::ReleaseDC(hwnd, dc);
        onScreen = DrawnBarWidth(window);
        d.Finish(1);
    };
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 204);
    EXPECT_EQ(onScreen, 204);
    EXPECT_FALSE(notAnImage);
    CDHtmlDialog::SetPageMode(PageMode::Automatic);
}
