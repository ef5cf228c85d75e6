// The dialog page drawn without an HTML engine: the same boxes, images and text as the page, from the
// same resources, painted double-buffered with GDI+.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "framework/page_layout.h"

namespace Gdiplus {
class Bitmap;
}

class NativePage {
public:
    NativePage();
    ~NativePage();
    NativePage(const NativePage&) = delete;
    NativePage& operator=(const NativePage&) = delete;

    // Reads the page (its element ids and text) and decodes the images it draws. False when the page
    // resource is missing; a missing image only leaves its box empty.
    bool Load(HMODULE module, UINT htmlId);

    // Draws the whole page into dc (client size `client`), through an off-screen bitmap.
    void Paint(HDC dc, const RECT& client) const;

    const page_layout::PageLayout& Layout() const { return layout_; }
    // Innermost element at a client point, or -1.
    int HitTest(POINT point) const { return page_layout::HitTest(layout_, point); }
    bool HasElement(const wchar_t* id) const;
    bool GetElementRect(const wchar_t* id, RECT* rect) const;
    long GetElementWidth(const wchar_t* id) const;
    // Image elements only (as the browser's image element); false for other elements or a negative width.
    bool SetElementWidth(const wchar_t* id, long width);
    const std::wstring& Text() const { return text_; }

private:
    // Draws the pictures of the boxes (backgrounds) or of the images, in page order, in client pixels.
    void DrawPictures(HDC target, bool images) const;
    void DrawPageText(HDC target) const;

    ULONG_PTR gdiplusToken_ = 0;
    page_layout::PageLayout layout_;
    std::vector<std::wstring> pageIds_;
    std::wstring text_;
    std::map<std::wstring, std::unique_ptr<Gdiplus::Bitmap>> pictures_;
    orlyn::UniqueGdiObject font_;
    mutable orlyn::UniqueGdiObject background_;  // the backgrounds and the text, drawn once
    mutable SIZE backgroundSize_ = {0, 0};
};

// The face the page's text is drawn in: "NanumGothic" when installed (it has the Korean glyphs), else
// the face of the default GUI font.
std::wstring PageFontFace();

// A 32-bit top-down picture of the given size, as the page is drawn into.
BITMAPINFO TopDownPictureInfo(long width, long height);
