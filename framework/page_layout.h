// Where the dialog page's elements lie: the boxes that the page's own sizes and margins give, in
// client pixels, for the native page renderer (drawing and hit-testing). Pure logic.
#pragma once

#include <windows.h>

#include <vector>

namespace page_layout {

// The page's size; the window is made exactly this size.
constexpr long kPageWidth = 500;
constexpr long kPageHeight = 233;
// Widest the progress image can be drawn: its track.
constexpr long kProgressTrackWidth = 400;

enum class ElementKind {
    Box,    // a table, cell or panel
    Image,  // an <img>: its picture is stretched to its box
    Text,   // a text block: the page's text, 17 px, centred, below its top padding
};

// How an element's picture fills its box.
enum class Placement {
    None,      // no picture
    Stretch,   // an image's source, scaled to the box
    TopLeft,   // a background, not repeated, from the box's top-left corner, clipped
    Centered,  // a background, not repeated, centred in the box, clipped
};

struct PageElement {
    const wchar_t* id;
    int parent;  // index of the enclosing element; -1 for the page's root
    ElementKind kind;
    RECT rect;  // client coordinates
    const wchar_t* picture;  // name of the "BINARY" resource drawn in the element, or nullptr
    Placement placement;
    long paddingTop;  // Text: space above the text
};

struct PageLayout {
    std::vector<PageElement> elements;  // parents come before their children
};

// The page's layout with the progress image `progressWidth` pixels wide (at least 0).
PageLayout BuildPageLayout(long progressWidth = 1);

// Index of the element with that id, or -1.
int FindElement(const PageLayout& layout, const wchar_t* id);
// Innermost element whose box holds the point, or -1 outside the page. A child's box is clipped to
// its parent's: a point in the hidden part of a child belongs to the parent.
int HitTest(const PageLayout& layout, POINT point);
// The element and its ancestors, innermost first (the order in which page events bubble).
std::vector<int> Ancestry(const PageLayout& layout, int index);
// The box an element occupies once clipped by its ancestors (what can be seen and hit of it).
RECT VisibleRect(const PageLayout& layout, int index);

// Where a picture of the given size is drawn for a placement inside box (before clipping to it).
RECT PlacePicture(const RECT& box, SIZE picture, Placement placement);

}  // namespace page_layout
