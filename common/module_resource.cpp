#include "common/module_resource.h"

namespace orlyn {

bool FindModuleResource(HMODULE module, const wchar_t* type, const wchar_t* name, const void** data, DWORD* size) {
    *data = nullptr;
    *size = 0;
    if (!module) module = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(module, name, type);
    if (!info) return false;
    DWORD length = ::SizeofResource(module, info);
    HGLOBAL loaded = ::LoadResource(module, info);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes && length != 0) return false;
    *data = bytes;
    *size = length;
    return true;
}

}  // namespace orlyn
