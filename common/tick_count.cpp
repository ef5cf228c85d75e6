#include "common/tick_count.h"

#include "common/win_api.h"

namespace orlyn {

ULONGLONG ExtendTickCount(ULONGLONG state, DWORD tick) {
    ULONGLONG wraps = state >> 32;
    DWORD last = static_cast<DWORD>(state);
    if (tick < last) ++wraps;
    return (wraps << 32) | tick;
}

ULONGLONG WINAPI TickCount64() {
    using Fn = ULONGLONG(WINAPI*)();
    static const Fn system = LookupProc<Fn>(L"kernel32.dll", "GetTickCount64");
    if (system) return system();
    static volatile LONGLONG state = 0;
    for (;;) {
        LONGLONG seen = state;
        LONGLONG next = static_cast<LONGLONG>(ExtendTickCount(static_cast<ULONGLONG>(seen), ::GetTickCount()));
        if (::InterlockedCompareExchange64(&state, next, seen) == seen) return static_cast<ULONGLONG>(next);
    }
}

}  // namespace orlyn
