#include "common/registry.h"

#include <vector>

#include "common/win_api.h"

namespace orlyn {

REGSAM ViewFlag(RegView view) { return view == RegView::Wow64_64 ? KEY_WOW64_64KEY : 0; }

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

LONG DeleteRegTree(HKEY root, const wchar_t* path, RegView view) {
    UniqueHkey key;
    LONG rc = OpenRegKey(root, path, KEY_READ | DELETE, view, key);
    if (rc != ERROR_SUCCESS) return rc;
    // Collect names first: deleting while enumerating shifts the indexes.
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        LONG e = ::RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (e != ERROR_SUCCESS) break;
        children.emplace_back(name, len);
    }
    key.reset();
    LONG result = ERROR_SUCCESS;
    for (const auto& child : children) {
        std::wstring sub = std::wstring(path) + L"\\" + child;
        LONG e = DeleteRegTree(root, sub.c_str(), view);
        if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) result = e;
    }
    LONG e = DeleteRegKey(root, path, view);
    return e != ERROR_SUCCESS ? e : result;
}

const wchar_t* RootPrefix(HKEY root) {
    if (root == HKEY_CURRENT_USER) return L"HKCU\\";
    if (root == HKEY_CLASSES_ROOT) return L"HKCR\\";
    if (root == HKEY_USERS) return L"HKU\\";
    return L"HKLM\\";
}

}  // namespace orlyn
