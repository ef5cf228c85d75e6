#include "framework/page_layout.h"

#include <cwchar>

namespace page_layout {
namespace {

// The page's sizes and margins, as its style sheet gives them.
constexpr long kTitleBarHeight = 29;
constexpr long kLogoWidth = 59, kLogoHeight = 11, kLogoMarginLeft = 221;
constexpr long kMinimizeSize = 16, kMinimizeMarginRight = 14, kMinimizeMarginTop = 6;
constexpr long kExitSize = 9, kExitMarginRight = 10;
constexpr long kMainAreaHeight = 204;
constexpr long kTextPanelWidth = 260, kTextPanelHeight = 60, kTextPanelLeft = 120, kTextPanelTop = 47;
constexpr long kTextPaddingTop = 22;
constexpr long kTrackHeight = 15, kTrackLeft = 50, kTrackMarginTop = 20;

RECT Box(long left, long top, long width, long height) { return RECT{left, top, left + width, top + height}; }

// Vertically centred in a cell of the title bar (rounding down, as the browser places whole pixels).
long Middle(long cellTop, long cellHeight, long height) { return cellTop + (cellHeight - height) / 2; }

}  // namespace

PageLayout BuildPageLayout(long progressWidth) {
    if (progressWidth < 0) progressWidth = 0;
    PageLayout layout;
    auto add = [&layout](const wchar_t* id, int parent, ElementKind kind, RECT rect, const wchar_t* picture,
                         Placement placement, long paddingTop = 0) {
        layout.elements.push_back(PageElement{id, parent, kind, rect, picture, placement, paddingTop});
        return static_cast<int>(layout.elements.size() - 1);
    };

    int popup = add(L"entire_popup", -1, ElementKind::Box, Box(0, 0, kPageWidth, kPageHeight), nullptr,
                    Placement::None);

    // Title bar: the logo cell asks for the whole width, so the two right-aligned cells shrink to
    // their images plus margins and the logo cell takes the rest.
    int titleBar = add(L"table_title_bar", popup, ElementKind::Box, Box(0, 0, kPageWidth, kTitleBarHeight),
                       nullptr, Placement::None);
    const long exitCellWidth = kExitSize + kExitMarginRight;
    const long minimizeCellWidth = kMinimizeSize + kMinimizeMarginRight;
    const long exitCellLeft = kPageWidth - exitCellWidth;
    const long minimizeCellLeft = exitCellLeft - minimizeCellWidth;
    int logoCell = add(L"global_section_logo", titleBar, ElementKind::Box,
                       Box(0, 0, minimizeCellLeft, kTitleBarHeight), nullptr, Placement::None);
    add(L"orlyn_logo", logoCell, ElementKind::Image,
        Box(kLogoMarginLeft, Middle(0, kTitleBarHeight, kLogoHeight), kLogoWidth, kLogoHeight), L"ORLYN_LOGO",
        Placement::Stretch);
    int minimizeCell = add(L"global_section_minimize", titleBar, ElementKind::Box,
                           Box(minimizeCellLeft, 0, minimizeCellWidth, kTitleBarHeight), nullptr, Placement::None);
    add(L"button_minimize", minimizeCell, ElementKind::Image,
        Box(minimizeCellLeft, kMinimizeMarginTop, kMinimizeSize, kMinimizeSize), L"BUTTON_MINIMIZE",
        Placement::Stretch);
    int exitCell = add(L"global_section_exit", titleBar, ElementKind::Box,
                       Box(exitCellLeft, 0, exitCellWidth, kTitleBarHeight), nullptr, Placement::None);
    add(L"button_exit", exitCell, ElementKind::Image,
        Box(exitCellLeft, Middle(0, kTitleBarHeight, kExitSize), kExitSize, kExitSize), L"BUTTON_CLOSE",
        Placement::Stretch);

    // Main area: the panel with the text panel and, below it, the progress track.
    int mainArea = add(L"table_main_area", popup, ElementKind::Box,
                       Box(0, kTitleBarHeight, kPageWidth, kMainAreaHeight), nullptr, Placement::None);
    int panel = add(L"main_panel_background", mainArea, ElementKind::Box,
                    Box(0, kTitleBarHeight, kPageWidth, kMainAreaHeight), L"MAIN_PANEL_BACKGROUND",
                    Placement::Centered);
    const long textPanelTop = kTitleBarHeight + kTextPanelTop;
    int textPanel = add(L"main_rounded_ractangle_background", panel, ElementKind::Box,
                        Box(kTextPanelLeft, textPanelTop, kTextPanelWidth, kTextPanelHeight),
                        L"BACKGROUND_ROUNDED_RECTANGLE", Placement::TopLeft);
    add(L"title_text_area", textPanel, ElementKind::Text,
        Box(kTextPanelLeft, textPanelTop, kTextPanelWidth, kTextPanelHeight), nullptr, Placement::None,
        kTextPaddingTop);
    const long trackTop = textPanelTop + kTextPanelHeight + kTrackMarginTop;
    int track = add(L"progress_bar_background", panel, ElementKind::Box,
                    Box(kTrackLeft, trackTop, kProgressTrackWidth, kTrackHeight), L"PROGRESS_BASE",
                    Placement::TopLeft);
    add(L"progress_bar_percent", track, ElementKind::Image, Box(kTrackLeft, trackTop, progressWidth, kTrackHeight),
        L"PROGRESS_LOAD", Placement::Stretch);
    return layout;
}

int FindElement(const PageLayout& layout, const wchar_t* id) {
    if (!id) return -1;
    for (size_t i = 0; i < layout.elements.size(); ++i) {
        if (std::wcscmp(layout.elements[i].id, id) == 0) return static_cast<int>(i);
    }
    return -1;
}

RECT VisibleRect(const PageLayout& layout, int index) {
    RECT visible = layout.elements[index].rect;
    for (int p = layout.elements[index].parent; p >= 0; p = layout.elements[p].parent) {
        RECT clipped;
        if (!::IntersectRect(&clipped, &visible, &layout.elements[p].rect)) return RECT{0, 0, 0, 0};
        visible = clipped;
    }
    return visible;
}

int HitTest(const PageLayout& layout, POINT point) {
    // Later elements are children or later siblings, which lie on top: the last hit is the innermost.
    int hit = -1;
    for (size_t i = 0; i < layout.elements.size(); ++i) {
        RECT visible = VisibleRect(layout, static_cast<int>(i));
        if (::PtInRect(&visible, point)) hit = static_cast<int>(i);
    }
    return hit;
}

std::vector<int> Ancestry(const PageLayout& layout, int index) {
    std::vector<int> chain;
    for (int i = index; i >= 0 && i < static_cast<int>(layout.elements.size()); i = layout.elements[i].parent) {
        chain.push_back(i);
    }
    return chain;
}

RECT PlacePicture(const RECT& box, SIZE picture, Placement placement) {
    switch (placement) {
    case Placement::Stretch:
        return box;
    case Placement::TopLeft:
        return RECT{box.left, box.top, box.left + picture.cx, box.top + picture.cy};
    case Placement::Centered: {
        // As the browser centres a background: the leftover halved, rounding toward the top-left.
        long left = box.left + (box.right - box.left - picture.cx) / 2;
        long top = box.top + (box.bottom - box.top - picture.cy) / 2;
        return RECT{left, top, left + picture.cx, top + picture.cy};
    }
    case Placement::None:
        break;
    }
    return RECT{0, 0, 0, 0};
}

}  // namespace page_layout
