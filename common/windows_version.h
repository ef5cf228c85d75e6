// What the program needs to know about the Windows it runs on.
#pragma once

namespace orlyn {

// Whether this process is a 32-bit process on 64-bit Windows (IsWow64Process, looked up at run time);
// false when the system lacks the function or cannot say.
bool IsRunningUnderWow64();

}  // namespace orlyn
