#include "common/windows_version.h"

#include <windows.h>

#include "common/win_api.h"

namespace orlyn {

bool IsRunningUnderWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const auto isWow64Process = LookupProc<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace orlyn
