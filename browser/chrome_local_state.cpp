#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <new>
#include <string>

#include "browser/chrome.h"
#include "browser/local_state_json.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

using orlyn::UniqueFileHandle;

std::wstring GetLocalStatePath() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::wstring();
    if (!::PathAppendW(path, L"Google\\Chrome\\User Data\\Local State")) return std::wstring();
    return path;
}

namespace {

// Opens the existing file (others may only read it meanwhile) and reads it whole.
bool OpenAndRead(const std::wstring& path, bool forWriting, UniqueFileHandle& file, std::string& text) {
    if (path.empty() || !::PathFileExistsW(path.c_str())) return false;
    const DWORD access = forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    file.reset(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    // A file of 4 GB or more would be read cut off, and written back cut off.
    if (!::GetFileSizeEx(file.get(), &size) || size.HighPart != 0 || size.LowPart == MAXDWORD) return false;
    try {
        text.assign(size.LowPart, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD total = 0;
    while (total < size.LowPart) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), &text[total], size.LowPart - total, &got, nullptr)) return false;
        if (got == 0) break;
        total += got;
    }
    text.resize(total);
    return true;
}

std::string SchemeMemberName(const std::wstring& scheme) { return orlyn::ToUtf8(scheme); }

// Writes bytes to a new file beside path and moves it over path. Every byte must reach the new file
// before the original is replaced; on any failure the original stays as it was and the new file is
// deleted. `original` (the handle the text was read through) is closed just before the move, which a
// handle without delete sharing would refuse.
bool ReplaceFileContents(const std::wstring& path, const std::string& bytes, UniqueFileHandle& original) {
    const std::wstring temp = orlyn::FormatString(L"%s.%lu_%lu.tmp", path.c_str(), ::GetCurrentProcessId(),
                                                  ::GetTickCount());
    bool written = false;
    {
        UniqueFileHandle out(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        written = true;
        size_t done = 0;
        while (written && done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 0x100000 ? 0x100000 : bytes.size() - done);
            DWORD put = 0;
            written = ::WriteFile(out.get(), bytes.data() + done, chunk, &put, nullptr) && put == chunk;
            done += put;
        }
        written = written && ::FlushFileBuffers(out.get());
    }
    if (written) {
        original.reset();
        written = ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!written) ::DeleteFileW(temp.c_str());
    return written;
}

using EditFn = local_state::EditResult (*)(const std::string& text, const std::string& name, std::string& out);

// Reads the file, applies the edit and writes the file back when the edit changed it.
bool EditFile(const std::wstring& path, const std::wstring& scheme, EditFn edit) {
    UniqueFileHandle file;
    std::string text, changed;
    if (!OpenAndRead(path, true, file, text)) return false;
    switch (edit(text, SchemeMemberName(scheme), changed)) {
    case local_state::EditResult::Unchanged: return true;
    case local_state::EditResult::Changed: return ReplaceFileContents(path, changed, file);
    default: return false;
    }
}

}  // namespace

bool IsSchemeExcludedInFile(const std::wstring& path, const std::wstring& scheme) {
    UniqueFileHandle file;
    std::string text;
    if (!OpenAndRead(path, false, file, text)) return false;
    return local_state::HasExclusion(text, SchemeMemberName(scheme));
}

bool AddSchemeExclusionToFile(const std::wstring& path, const std::wstring& scheme) {
    return EditFile(path, scheme, local_state::AddExclusion);
}

bool RemoveSchemeExclusionFromFile(const std::wstring& path, const std::wstring& scheme) {
    return EditFile(path, scheme, local_state::RemoveExclusion);
}

CChrome::CChrome(const std::wstring& scheme) : scheme_(scheme) {}

CChrome::~CChrome() = default;

bool CChrome::IsSchemeExcluded() const { return IsSchemeExcludedInFile(GetLocalStatePath(), scheme_); }

bool CChrome::AddSchemeExclusion() { return AddSchemeExclusionToFile(GetLocalStatePath(), scheme_); }

bool CChrome::RemoveSchemeExclusion() { return RemoveSchemeExclusionFromFile(GetLocalStatePath(), scheme_); }
