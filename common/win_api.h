// Run-time look-up of functions that older Windows versions lack.
#pragma once

#include <windows.h>

namespace orlyn {

// Returns the export `name` of an already loaded system module (loading it when needed), typed as F,
// or nullptr when the system lacks it.
template <typename F>
F LookupProc(const wchar_t* module, const char* name) {
    HMODULE m = ::GetModuleHandleW(module);
    if (!m) m = ::LoadLibraryW(module);  // system DLLs stay loaded for the life of the process
    if (!m) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
}

}  // namespace orlyn
