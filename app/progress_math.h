// Arithmetic of the repair dialog: the progress percentage and bar width, the window's place in the
// work area and the drag step. Pure functions, apart from the Windows code that uses them.
#pragma once

#include <windows.h>

namespace progress_math {

constexpr long kBarFullWidth = 310;
constexpr int kDialogWidth = 500;
constexpr int kDialogHeight = 233;

// (phases done * 100 + items done * 100 / item count) * 100 / (phase count * 100), unsigned and
// truncating. An item count or phase count of 0 counts as no progress; never more than 100.
DWORD ComputePercent(DWORD phaseCount, DWORD phasesDone, DWORD phaseItemCount, DWORD phaseItemsDone);

// percent * 310 / 100; a width of 0 becomes 1 (the bar image never disappears).
long BarWidth(DWORD percent);

// Top-left corner of the dialog in a work area: its width and height only decide, halved toward zero.
POINT CenteredOrigin(const RECT& workArea, int width = kDialogWidth, int height = kDialogHeight);

// Window position for a drag step: cursor (client coordinates of the message) + window's top-left
// corner - the offset taken when the drag began.
POINT DragTarget(POINT cursorClient, POINT windowTopLeft, POINT dragOffset);

// The cursor position of a mouse message; client coordinates may be negative while the mouse is captured.
POINT PointFromLParam(LPARAM lParam);

}  // namespace progress_math
