// A resource of a module, read in place: its bytes stay in the module's memory while it is loaded.
#pragma once

#include <windows.h>

namespace orlyn {

// Finds resource `name` of `type` in module (nullptr: the program's own file) and gives its bytes and
// size (an empty resource gives size 0). False when it is missing or cannot be loaded; the last error
// code says why.
[[nodiscard]] bool FindModuleResource(HMODULE module, const wchar_t* type, const wchar_t* name, const void** data,
                                      DWORD* size);

}  // namespace orlyn
