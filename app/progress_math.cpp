#include "app/progress_math.h"

#include <windowsx.h>

namespace progress_math {

DWORD ComputePercent(DWORD phaseCount, DWORD phasesDone, DWORD phaseItemCount, DWORD phaseItemsDone) {
    if (phaseCount == 0) return 0;
    DWORD itemPart = phaseItemCount ? phaseItemsDone * 100 / phaseItemCount : 0;
    DWORD percent = (phasesDone * 100 + itemPart) * 100 / (phaseCount * 100);
    return percent > 100 ? 100 : percent;
}

long BarWidth(DWORD percent) {
    long width = static_cast<long>(percent * static_cast<DWORD>(kBarFullWidth) / 100);
    return width == 0 ? 1 : width;
}

POINT CenteredOrigin(const RECT& workArea, int width, int height) {
    // Only the work area's size counts, not its left and top: a task bar on the left or at the top
    // shifts the window by its own size at most, and it stays on the screen.
    int areaWidth = workArea.right - workArea.left;
    int areaHeight = workArea.bottom - workArea.top;
    return POINT{(areaWidth - width) / 2, (areaHeight - height) / 2};
}

POINT DragTarget(POINT cursorClient, POINT windowTopLeft, POINT dragOffset) {
    return POINT{cursorClient.x + windowTopLeft.x - dragOffset.x, cursorClient.y + windowTopLeft.y - dragOffset.y};
}

POINT PointFromLParam(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

}  // namespace progress_math
