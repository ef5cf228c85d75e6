// A 64-bit millisecond tick count on every Windows version (GetTickCount64 where the system has it,
// else GetTickCount extended across its 49.7-day wrap).
#pragma once

#include <windows.h>

namespace orlyn {

ULONGLONG WINAPI TickCount64();
// The wrap extension on its own: given the last state (high 32 bits: wraps seen, low 32 bits: last
// tick) and a new 32-bit tick, the new state. Pure, for tests.
ULONGLONG ExtendTickCount(ULONGLONG state, DWORD tick);

}  // namespace orlyn
