#include "framework/native_page.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

#include "common/unique_handle.h"
#include "framework/page_resources.h"

namespace {

constexpr int kTextHeight = 17;  // the page's 17 px font
constexpr COLORREF kTextColor = RGB(255, 255, 255);

// Decodes a PNG resource into a bitmap of its own (premultiplied, quick to draw), so that nothing keeps
// the resource stream alive.
std::unique_ptr<Gdiplus::Bitmap> DecodePicture(HMODULE module, const wchar_t* name) {
    std::string bytes = page_resources::ReadResource(module, L"BINARY", name);
    if (bytes.empty()) return nullptr;
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory) return nullptr;
    if (void* p = ::GlobalLock(memory)) {
        memcpy(p, bytes.data(), bytes.size());
        ::GlobalUnlock(memory);
    }
    orlyn::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, stream.put()))) {
        ::GlobalFree(memory);
        return nullptr;
    }
    std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
    UINT width = decoded->GetWidth(), height = decoded->GetHeight();
    auto copy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(width), static_cast<INT>(height),
                                                  PixelFormat32bppPARGB);
    if (copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
    {
        Gdiplus::Graphics g(copy.get());
        g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        g.DrawImage(decoded.get(), 0, 0, static_cast<INT>(width), static_cast<INT>(height));
    }
    return copy;
}

// A memory DC, deleted at the end of the scope.
struct MemoryDc {
    explicit MemoryDc(HDC like) : dc(::CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc) ::DeleteDC(dc);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC dc;
};

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

}  // namespace

std::wstring PageFontFace() {
    LOGFONTW query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    wcscpy(query.lfFaceName, L"NanumGothic");
    bool found = false;
    HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &query, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    if (found) return L"NanumGothic";
    LOGFONTW gui = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui);
    return gui.lfFaceName;
}

NativePage::NativePage() : layout_(page_layout::BuildPageLayout()) {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr) != Gdiplus::Ok) gdiplusToken_ = 0;
    LOGFONTW font = {};
    font.lfHeight = -kTextHeight;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    std::wstring face = PageFontFace();
    wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    font_.reset(::CreateFontIndirectW(&font));
}

NativePage::~NativePage() {
    pictures_.clear();  // before GDI+ goes
    if (gdiplusToken_) Gdiplus::GdiplusShutdown(gdiplusToken_);
}

bool NativePage::Load(HMODULE module, UINT htmlId) {
    std::wstring html = page_resources::ReadHtmlPage(module, htmlId);
    if (html.empty()) return false;
    pageIds_ = page_resources::ElementIds(html);
    text_ = page_resources::ElementText(html, L"title_text_area");
    if (!gdiplusToken_) return true;
    for (const auto& element : layout_.elements) {
        if (element.picture && !pictures_.count(element.picture)) {
            pictures_[element.picture] = DecodePicture(module, element.picture);
        }
    }
    return true;
}

bool NativePage::HasElement(const wchar_t* id) const {
    if (!id) return false;
    return std::find(pageIds_.begin(), pageIds_.end(), id) != pageIds_.end();
}

bool NativePage::GetElementRect(const wchar_t* id, RECT* rect) const {
    int index = HasElement(id) ? page_layout::FindElement(layout_, id) : -1;
    if (index < 0) return false;
    if (rect) *rect = layout_.elements[index].rect;
    return true;
}

long NativePage::GetElementWidth(const wchar_t* id) const {
    RECT rect;
    if (!GetElementRect(id, &rect)) return -1;
    return rect.right - rect.left;
}

bool NativePage::SetElementWidth(const wchar_t* id, long width) {
    int index = HasElement(id) ? page_layout::FindElement(layout_, id) : -1;
    if (index < 0 || width < 0 || layout_.elements[index].kind != page_layout::ElementKind::Image) return false;
    RECT& rect = layout_.elements[index].rect;
    rect.right = rect.left + width;
    return true;
}

void NativePage::DrawPictures(HDC target, bool images) const {
    Gdiplus::Graphics g(target);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    // Sample inside the picture at its edges, so a stretched bar keeps solid ends.
    Gdiplus::ImageAttributes clampEdges;
    clampEdges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    for (size_t i = 0; i < layout_.elements.size(); ++i) {
        const auto& element = layout_.elements[i];
        if (!element.picture || (element.kind == page_layout::ElementKind::Image) != images) continue;
        auto found = pictures_.find(element.picture);
        if (found == pictures_.end() || !found->second) continue;
        Gdiplus::Bitmap* picture = found->second.get();
        SIZE size{static_cast<LONG>(picture->GetWidth()), static_cast<LONG>(picture->GetHeight())};
        RECT visible = page_layout::VisibleRect(layout_, static_cast<int>(i));
        if (visible.right <= visible.left || visible.bottom <= visible.top) continue;
        RECT place = page_layout::PlacePicture(element.rect, size, element.placement);
        g.SetClip(Gdiplus::Rect(visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top));
        Gdiplus::Rect dest(place.left, place.top, place.right - place.left, place.bottom - place.top);
        g.DrawImage(picture, dest, 0, 0, size.cx, size.cy, Gdiplus::UnitPixel, &clampEdges);
    }
}

void NativePage::DrawPageText(HDC target) const {
    int text = page_layout::FindElement(layout_, L"title_text_area");
    if (text < 0 || text_.empty()) return;
    const auto& element = layout_.elements[text];
    RECT box = element.rect;
    box.top += element.paddingTop;
    HGDIOBJ oldFont = ::SelectObject(target, font_ ? font_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(target, TRANSPARENT);
    ::SetTextColor(target, kTextColor);
    ::DrawTextW(target, text_.c_str(), static_cast<int>(text_.size()), &box,
                DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(target, oldFont);
}

void NativePage::Paint(HDC dc, const RECT& client) const {
    int width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    // What never changes (backgrounds and text) is drawn once; each frame copies it and draws the
    // images on top (no image of the page lies under a background or the text).
    if (!background_ || backgroundSize_.cx != width || backgroundSize_.cy != height) {
        BITMAPINFO info = TopDownPictureInfo(width, height);
        void* bits = nullptr;
        background_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!background_) return;
        backgroundSize_ = SIZE{width, height};
        MemoryDc cache(dc);
        HGDIOBJ old = ::SelectObject(cache.dc, background_.get());
        {
            Gdiplus::Graphics g(cache.dc);
            g.Clear(Gdiplus::Color(255, 0, 0, 0));  // the page's black body, opaque
        }
        DrawPictures(cache.dc, false);
        DrawPageText(cache.dc);
        ::SelectObject(cache.dc, old);
    }
    MemoryDc cache(dc), frame(dc);
    orlyn::UniqueGdiObject bitmap(::CreateCompatibleBitmap(dc, width, height));
    if (!cache.dc || !frame.dc || !bitmap) return;
    HGDIOBJ oldCache = ::SelectObject(cache.dc, background_.get());
    HGDIOBJ oldFrame = ::SelectObject(frame.dc, bitmap.get());
    ::BitBlt(frame.dc, 0, 0, width, height, cache.dc, 0, 0, SRCCOPY);
    DrawPictures(frame.dc, true);
    ::BitBlt(dc, client.left, client.top, width, height, frame.dc, 0, 0, SRCCOPY);
    ::SelectObject(frame.dc, oldFrame);
    ::SelectObject(cache.dc, oldCache);
}

BITMAPINFO TopDownPictureInfo(long width, long height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows run from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return info;
}
