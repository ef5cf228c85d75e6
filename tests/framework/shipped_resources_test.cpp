// The resources the program ships (resources/OrlynRepair.rc): page, images, icon, dialog template, manifest.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "common/unique_handle.h"
#include "framework/page_layout.h"
#include "framework/page_resources.h"
#include "resources/resource.h"

namespace {

std::wstring Page() { return page_resources::ReadHtmlPage(nullptr, IDR_HTML_ORLYNREPAIR); }

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (ok_) Gdiplus::GdiplusShutdown(token_);
    }
    bool ok() const { return ok_; }

private:
    ULONG_PTR token_ = 0;
    bool ok_ = false;
};

// Decodes a "BINARY" resource as an image; {-1, -1} when it is missing or does not decode.
SIZE DecodedSize(const wchar_t* name) {
    std::string bytes = page_resources::ReadResource(nullptr, L"BINARY", name);
    if (bytes.empty()) return SIZE{-1, -1};
    orlyn::ComPtr<IStream> stream;
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    memcpy(::GlobalLock(memory), bytes.data(), bytes.size());
    ::GlobalUnlock(memory);
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, stream.put()))) return SIZE{-1, -1};
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream.get()));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return SIZE{-1, -1};
    GUID format;
    bitmap->GetRawFormat(&format);
    if (format != Gdiplus::ImageFormatPNG) return SIZE{-2, -2};
    return SIZE{static_cast<LONG>(bitmap->GetWidth()), static_cast<LONG>(bitmap->GetHeight())};
}

const wchar_t* const kReliedOnIds[] = {L"progress_bar_percent",   L"button_minimize",         L"button_exit",
                                       L"global_section_logo", L"global_section_minimize", L"global_section_exit"};

}  // namespace

TEST(PageResource, HoldsEveryElementIdTheProgramUsesOnceEach) {
    std::wstring page = Page();
    ASSERT_FALSE(page.empty());
    std::vector<std::wstring> ids = page_resources::ElementIds(page);
    std::multiset<std::wstring> counted(ids.begin(), ids.end());
    for (const wchar_t* id : kReliedOnIds) EXPECT_EQ(counted.count(id), 1u) << id;
    for (const wchar_t* id : {L"entire_popup", L"table_title_bar", L"orlyn_logo", L"table_main_area",
                              L"main_panel_background", L"main_rounded_ractangle_background", L"title_text_area",
                              L"progress_bar_background"}) {
        EXPECT_EQ(counted.count(id), 1u) << id;
    }
    EXPECT_EQ(counted.size(), std::set<std::wstring>(ids.begin(), ids.end()).size()) << "an id is used twice";
}

TEST(PageResource, NativeLayoutHasExactlyThePagesElements) {
    std::vector<std::wstring> ids = page_resources::ElementIds(Page());
    std::set<std::wstring> pageIds(ids.begin(), ids.end());
    std::set<std::wstring> layoutIds;
    for (const auto& element : page_layout::BuildPageLayout().elements) layoutIds.insert(element.id);
    EXPECT_EQ(pageIds, layoutIds);
}

TEST(PageResource, SaysWhatTheWindowShows) {
    std::wstring page = Page();
    EXPECT_TRUE(Contains(page, L"<title>Orlyn - 게임은 오를린</title>"));
    EXPECT_EQ(page_resources::ElementText(page, L"title_text_area"), L"복구 중...");
    EXPECT_TRUE(Contains(page, L"charset=utf-8"));
    // The body keeps the page from acting like a web page: no menu, no selection, no dragging.
    for (const wchar_t* handler : {L"oncontextmenu=\"return false\"", L"onselectstart=\"return false\"",
                                   L"ondragstart=\"return false\"", L"ondragover=\"return false\""}) {
        EXPECT_TRUE(Contains(page, handler)) << handler;
    }
    // The maker's web font, which does not resolve inside the program.
    EXPECT_TRUE(Contains(page, L"@font-face"));
    EXPECT_TRUE(Contains(page, L"url(\"/res/font/"));
    EXPECT_TRUE(Contains(page, L"format(\"woff\")"));
    // Images by their resource names; the progress image starts one pixel wide.
    for (const wchar_t* src : {L"src=\"BINARY/ORLYN_LOGO\"", L"src=\"BINARY/BUTTON_MINIMIZE\"",
                               L"src=\"BINARY/BUTTON_CLOSE\"", L"src=\"BINARY/PROGRESS_LOAD\" width=\"1\" height=\"15\"",
                               L"url(\"BINARY/MAIN_PANEL_BACKGROUND\")", L"url(\"BINARY/BACKGROUND_ROUNDED_RECTANGLE\")",
                               L"url(\"BINARY/PROGRESS_BASE\")"}) {
        EXPECT_TRUE(Contains(page, src)) << src;
    }
}

TEST(PageResource, EveryImageIsAPngOfItsSize) {
    GdiplusSession gdiplus;
    ASSERT_TRUE(gdiplus.ok());
    struct Case {
        const wchar_t* name;
        LONG width, height;
    } cases[] = {
        {L"MAIN_PANEL_BACKGROUND", 686, 398}, {L"BACKGROUND_ROUNDED_RECTANGLE", 260, 60},
        {L"PROGRESS_BASE", 400, 15},          {L"PROGRESS_LOAD", 268, 15},
        {L"ORLYN_LOGO", 59, 11},              {L"BUTTON_MINIMIZE", 48, 48},
        {L"BUTTON_CLOSE", 9, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name);
        SIZE size = DecodedSize(c.name);
        EXPECT_EQ(size.cx, c.width);
        EXPECT_EQ(size.cy, c.height);
    }
}

TEST(PageResource, IconHasTheThreeSizes) {
    std::string group = page_resources::ReadResource(nullptr, RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_GE(group.size(), 6u);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries starting with width and height.
    const auto* bytes = reinterpret_cast<const unsigned char*>(group.data());
    unsigned count = bytes[4] | (bytes[5] << 8);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::set<int> sizes;
    for (unsigned i = 0; i < count; ++i) {
        int width = bytes[6 + 14 * i], height = bytes[7 + 14 * i];
        EXPECT_EQ(width, height);
        sizes.insert(width);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));
    orlyn::UniqueIcon small(static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0)));
    EXPECT_TRUE(small.valid());
}

TEST(PageResource, DialogTemplateIsAnEmptyPopupWithTheShellFont) {
    std::string bytes = page_resources::ReadResource(nullptr, RT_DIALOG, MAKEINTRESOURCEW(IDD_ORLYNREPAIR_DIALOG));
    ASSERT_GE(bytes.size(), 26u);
    const auto* words = reinterpret_cast<const WORD*>(bytes.data());
    ASSERT_EQ(words[0], 1);       // DLGTEMPLATEEX
    ASSERT_EQ(words[1], 0xFFFF);
    DWORD style;
    memcpy(&style, bytes.data() + 12, sizeof(style));
    WORD items;
    memcpy(&items, bytes.data() + 16, sizeof(items));
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_SETFONT);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_VISIBLE | WS_CHILD), 0u);
    EXPECT_EQ(items, 0);
    // After the fixed part (26 bytes): menu, class, title (each empty: one zero word), then the font.
    const WORD* p = reinterpret_cast<const WORD*>(bytes.data() + 26);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[3], 8);  // point size
    std::wstring face(reinterpret_cast<const wchar_t*>(p + 3 + 3));
    EXPECT_EQ(face, L"MS Shell Dlg");
}

TEST(PageResource, ManifestAsksForAdministratorRights) {
    std::string manifest = page_resources::ReadResource(nullptr, RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos);
}
