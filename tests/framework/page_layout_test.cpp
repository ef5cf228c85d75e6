#include <gtest/gtest.h>

#include "framework/page_layout.h"

using page_layout::BuildPageLayout;
using page_layout::PageLayout;

namespace {

std::wstring IdAt(const PageLayout& layout, long x, long y) {
    int index = page_layout::HitTest(layout, POINT{x, y});
    return index < 0 ? L"" : layout.elements[index].id;
}

RECT RectOf(const PageLayout& layout, const wchar_t* id) {
    int index = page_layout::FindElement(layout, id);
    return index < 0 ? RECT{-1, -1, -1, -1} : layout.elements[index].rect;
}

}  // namespace

TEST(PageLayout, PointsHitTheInnermostElement) {
    PageLayout layout = BuildPageLayout(102);
    struct Case {
        long x, y;
        const wchar_t* id;
    } cases[] = {
        {0, 0, L"global_section_logo"},
        {220, 14, L"global_section_logo"},   // just left of the logo
        {221, 9, L"orlyn_logo"},             // its top-left pixel
        {279, 19, L"orlyn_logo"},            // its bottom-right pixel
        {280, 14, L"global_section_logo"},
        {450, 14, L"global_section_logo"},   // the logo cell takes what the right cells leave
        {451, 5, L"global_section_minimize"},
        {451, 6, L"button_minimize"},
        {466, 21, L"button_minimize"},
        {467, 14, L"global_section_minimize"},  // its right margin
        {480, 28, L"global_section_minimize"},
        {481, 14, L"button_exit"},
        {489, 18, L"button_exit"},
        {490, 14, L"global_section_exit"},
        {499, 0, L"global_section_exit"},
        {10, 29, L"main_panel_background"},
        {120, 76, L"title_text_area"},
        {379, 135, L"title_text_area"},
        {119, 100, L"main_panel_background"},
        {50, 156, L"progress_bar_percent"},
        {151, 170, L"progress_bar_percent"},  // the last pixel of a 102-pixel bar
        {152, 160, L"progress_bar_background"},
        {449, 170, L"progress_bar_background"},
        {450, 160, L"main_panel_background"},
        {499, 232, L"main_panel_background"},
        {500, 100, L""},
        {100, 233, L""},
        {-1, 0, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        EXPECT_EQ(IdAt(layout, c.x, c.y), c.id);
    }
}

TEST(PageLayout, BoxesFollowThePagesSizesAndMargins) {
    PageLayout layout = BuildPageLayout();
    struct Case {
        const wchar_t* id;
        RECT rect;
    } cases[] = {
        {L"entire_popup", {0, 0, 500, 233}},
        {L"table_title_bar", {0, 0, 500, 29}},
        {L"orlyn_logo", {221, 9, 280, 20}},
        {L"button_minimize", {451, 6, 467, 22}},
        {L"button_exit", {481, 10, 490, 19}},
        {L"table_main_area", {0, 29, 500, 233}},
        {L"main_rounded_ractangle_background", {120, 76, 380, 136}},
        {L"progress_bar_background", {50, 156, 450, 171}},
        {L"progress_bar_percent", {50, 156, 51, 171}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id);
        RECT r = RectOf(layout, c.id);
        EXPECT_EQ(r.left, c.rect.left);
        EXPECT_EQ(r.top, c.rect.top);
        EXPECT_EQ(r.right, c.rect.right);
        EXPECT_EQ(r.bottom, c.rect.bottom);
    }
}

TEST(PageLayout, ProgressImageIsClippedToItsTrackAndNeverNegative) {
    struct Case {
        long width, visibleWidth;
    } cases[] = {{0, 0}, {1, 1}, {310, 310}, {400, 400}, {1000, 400}, {-5, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width);
        PageLayout layout = BuildPageLayout(c.width);
        int bar = page_layout::FindElement(layout, L"progress_bar_percent");
        RECT visible = page_layout::VisibleRect(layout, bar);
        EXPECT_EQ(visible.right - visible.left, c.visibleWidth);
        // Past the track a point belongs to the panel, not to the hidden part of the bar.
        EXPECT_EQ(IdAt(layout, 455, 160), L"main_panel_background");
    }
}

TEST(PageLayout, EventsBubbleFromImageToCellToTheTable) {
    PageLayout layout = BuildPageLayout();
    std::vector<std::wstring> chain;
    for (int index : page_layout::Ancestry(layout, page_layout::FindElement(layout, L"button_exit"))) {
        chain.push_back(layout.elements[index].id);
    }
    EXPECT_EQ(chain, (std::vector<std::wstring>{L"button_exit", L"global_section_exit", L"table_title_bar",
                                                L"entire_popup"}));
    EXPECT_TRUE(page_layout::Ancestry(layout, -1).empty());
    EXPECT_EQ(page_layout::FindElement(layout, L"no_such"), -1);
    EXPECT_EQ(page_layout::FindElement(layout, nullptr), -1);
}

TEST(PageLayout, PicturesArePlacedAsTheBrowserPlacesBackgrounds) {
    RECT box{0, 29, 500, 233};
    struct Case {
        page_layout::Placement placement;
        SIZE picture;
        RECT expected;
    } cases[] = {
        {page_layout::Placement::Centered, {686, 398}, {-93, -68, 593, 330}},
        {page_layout::Placement::Centered, {100, 50}, {200, 106, 300, 156}},
        {page_layout::Placement::TopLeft, {686, 398}, {0, 29, 686, 427}},
        {page_layout::Placement::Stretch, {268, 15}, {0, 29, 500, 233}},
        {page_layout::Placement::None, {10, 10}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "placement " << static_cast<int>(c.placement));
        RECT r = page_layout::PlacePicture(box, c.picture, c.placement);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
}
