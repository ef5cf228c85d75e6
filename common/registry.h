// Registry helpers. Every open goes through OpenRegKey/CreateRegKey, which decide the view flag.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

namespace orlyn {

// Default: the process's own view (the 32-bit view for the shipped 32-bit program on 64-bit Windows).
// Wow64_64: the 64-bit view (KEY_WOW64_64KEY); Wow64_32: the 32-bit view (KEY_WOW64_32KEY), which a
// 64-bit process needs to name it. On 32-bit Windows the system ignores both flags.
enum class RegView { Default, Wow64_64, Wow64_32 };

REGSAM ViewFlag(RegView view);

// RegOpenKeyExW with the view flag added to access. Returns the Win32 error code.
[[nodiscard]] LONG OpenRegKey(HKEY root, const wchar_t* path, REGSAM access, RegView view, UniqueHkey& out);
// RegCreateKeyExW (non-volatile, no class) with the view flag added to access.
[[nodiscard]] LONG CreateRegKey(HKEY root, const wchar_t* path, REGSAM access, RegView view, UniqueHkey& out,
                                DWORD* disposition = nullptr);

// Writes a REG_SZ value with its terminating NUL counted in the size.
[[nodiscard]] LONG SetRegString(HKEY key, const wchar_t* name, const wchar_t* text);
[[nodiscard]] LONG SetRegDword(HKEY key, const wchar_t* name, DWORD value);

// Reads a REG_SZ value of at most maxBytes bytes (terminating NUL included when stored).
// Fails with ERROR_UNSUPPORTED_TYPE for another type and ERROR_MORE_DATA when larger.
[[nodiscard]] LONG ReadRegString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring& out);

// Deletes one key that has no subkeys, in the given view (RegDeleteKeyExW, looked up at run time).
[[nodiscard]] LONG DeleteRegKey(HKEY root, const wchar_t* path, RegView view);

// Deletes a key with its subkeys and values in the given view, depth first, down to subkeyLevels levels
// of subkeys (a subkey deeper than that is left, and so is every key above it). A key that does not open
// with full access is only deleted itself; a subkey that cannot be deleted ends the walk of its parent,
// whose own deletion then fails. Returns the Win32 error code of deleting the key; ERROR_FILE_NOT_FOUND
// when it does not exist.
constexpr unsigned kAllSubkeyLevels = ~0u;
[[nodiscard]] LONG DeleteRegTree(HKEY root, const wchar_t* path, RegView view,
                                 unsigned subkeyLevels = kAllSubkeyLevels);

// "HKLM\\" or "HKCU\\" (or "HKCR\\", "HKU\\") for log lines; empty for any other root.
const wchar_t* RootPrefix(HKEY root);

}  // namespace orlyn
