#include "common/registry.h"

#include <vector>

#include "common/win_api.h"

namespace orlyn {

REGSAM ViewFlag(RegView view) {
    switch (view) {
    case RegView::Wow64_64: return KEY_WOW64_64KEY;
    case RegView::Wow64_32: return KEY_WOW64_32KEY;
    case RegView::Default: break;
    }
    return 0;
}

LONG OpenRegKey(HKEY root, const wchar_t* path, REGSAM access, RegView view, UniqueHkey& out) {
    return ::RegOpenKeyExW(root, path, 0, access | ViewFlag(view), out.put());
}

LONG CreateRegKey(HKEY root, const wchar_t* path, REGSAM access, RegView view, UniqueHkey& out,
                  DWORD* disposition) {
    return ::RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access | ViewFlag(view), nullptr,
                             out.put(), disposition);
}

LONG SetRegString(HKEY key, const wchar_t* name, const wchar_t* text) {
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

LONG SetRegDword(HKEY key, const wchar_t* name, DWORD value) {
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG ReadRegString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring& out) {
    out.clear();
    std::vector<BYTE> buf(maxBytes + sizeof(wchar_t), 0);
    DWORD type = 0, size = maxBytes;
    LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, buf.data(), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ) return ERROR_UNSUPPORTED_TYPE;
    if (size > maxBytes) return ERROR_MORE_DATA;
    // The buffer has a spare NUL beyond maxBytes, so an unterminated value still ends.
    out.assign(reinterpret_cast<const wchar_t*>(buf.data()), size / sizeof(wchar_t));
    while (!out.empty() && out.back() == L'\0') out.pop_back();
    size_t nul = out.find(L'\0');
    if (nul != std::wstring::npos) out.resize(nul);
    return ERROR_SUCCESS;
}

LONG DeleteRegKey(HKEY root, const wchar_t* path, RegView view) {
    using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const auto deleteKeyEx = LookupProc<DeleteKeyExFn>(L"advapi32.dll", "RegDeleteKeyExW");
    if (deleteKeyEx) return deleteKeyEx(root, path, ViewFlag(view), 0);
    // Systems without RegDeleteKeyExW (XP 32-bit) have one view only.
    if (view == RegView::Wow64_64) return ERROR_CALL_NOT_IMPLEMENTED;
    return ::RegDeleteKeyW(root, path);
}

LONG DeleteRegTree(HKEY root, const wchar_t* path, RegView view, unsigned subkeyLevels) {
    UniqueHkey key;
    LONG rc = OpenRegKey(root, path, KEY_ALL_ACCESS, view, key);
    if (rc == ERROR_FILE_NOT_FOUND) return rc;
    // A key that refuses full access may still allow its deletion; without subkeys that is enough.
    // Always the first remaining subkey: the one before is gone, so the next moves up. A subkey that
    // cannot go ends the loop, and the key's own deletion below then fails.
    while (key && subkeyLevels > 0) {
        wchar_t name[MAX_PATH];
        DWORD length = MAX_PATH;  // the full size again for every call
        if (::RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (DeleteRegTree(key.get(), name, view, subkeyLevels - 1) != ERROR_SUCCESS) break;
    }
    key.reset();
    return DeleteRegKey(root, path, view);
}

const wchar_t* RootPrefix(HKEY root) {
    if (root == HKEY_CURRENT_USER) return L"HKCU\\";
    if (root == HKEY_CLASSES_ROOT) return L"HKCR\\";
    if (root == HKEY_USERS) return L"HKU\\";
    if (root == HKEY_LOCAL_MACHINE) return L"HKLM\\";
    return L"";
}

}  // namespace orlyn
