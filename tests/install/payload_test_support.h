// Helpers for tests of the payload: pointing the temp folder elsewhere, reading resources and PE headers.
#pragma once

#include <windows.h>

#include <string>

namespace payload_testing {

// Sets TMP (which GetTempPathW reads first) for the scope and restores the old value after. Lets a test
// give ExtractPayloadManifest a temp folder that cannot be used.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const std::wstring& folder) {
        wchar_t old[32767];
        DWORD n = ::GetEnvironmentVariableW(L"TMP", old, 32767);
        hadOld_ = n > 0 && n < 32767;
        if (hadOld_) old_.assign(old, n);
        ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~ScopedTempFolder() { ::SetEnvironmentVariableW(L"TMP", hadOld_ ? old_.c_str() : nullptr); }
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

private:
    bool hadOld_ = false;
    std::wstring old_;
};

// The bytes of RT_RCDATA resource id of the running program; found is false when it is missing.
inline std::string ResourceBytes(WORD id, bool* found = nullptr) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (found) *found = info != nullptr;
    if (!info) return {};
    HGLOBAL loaded = ::LoadResource(module, info);
    const char* bytes = static_cast<const char*>(::LockResource(loaded));
    return std::string(bytes, ::SizeofResource(module, info));
}

// The machine field of a PE image's file header (IMAGE_FILE_MACHINE_I386, _AMD64), or 0 for no image.
inline WORD PeMachine(const std::string& image) {
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0) return 0;
    size_t at = static_cast<size_t>(dos->e_lfanew);
    if (image.size() < at + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER)) return 0;
    if (*reinterpret_cast<const DWORD*>(image.data() + at) != IMAGE_NT_SIGNATURE) return 0;
    return reinterpret_cast<const IMAGE_FILE_HEADER*>(image.data() + at + sizeof(DWORD))->Machine;
}

}  // namespace payload_testing
