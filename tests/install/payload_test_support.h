// Helpers for tests of the payload: pointing the temp folder elsewhere, reading resources and PE headers.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle.h"
#include "install/payload_extraction.h"
#include "support/test_support.h"

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

using ResourceList = std::vector<std::pair<WORD, std::string>>;

// For the scope, the payload comes from a module that holds exactly these RT_RCDATA resources (a copy of
// the stand-in TSLDll64.dll whose resources are replaced, loaded as a data file). Lets a test give the
// program a manifest with a bad row, or one that names a resource that is not there.
class ScopedPayloadModule {
public:
    explicit ScopedPayloadModule(const ResourceList& resources) : dir_(L"pm") {
        std::wstring path = dir_ / L"payload.dll";
        SetPayloadModuleForTesting(nullptr);
        std::string image = ResourceBytes(1013);
        if (image.empty() || !testing_support::WriteFileBytes(path, image)) return;
        HANDLE update = ::BeginUpdateResourceW(path.c_str(), TRUE);
        if (!update) return;
        for (const auto& r : resources) {
            ::UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(r.first), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              const_cast<char*>(r.second.data()), static_cast<DWORD>(r.second.size()));
        }
        if (!::EndUpdateResourceW(update, FALSE)) return;
        module_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (module_) SetPayloadModuleForTesting(module_.get());
    }
    ~ScopedPayloadModule() { SetPayloadModuleForTesting(nullptr); }
    ScopedPayloadModule(const ScopedPayloadModule&) = delete;
    ScopedPayloadModule& operator=(const ScopedPayloadModule&) = delete;
    bool ok() const { return module_.valid(); }

private:
    testing_support::TempDir dir_;
    orlyn::UniqueLibrary module_;
};

}  // namespace payload_testing
