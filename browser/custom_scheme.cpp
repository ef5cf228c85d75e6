#include "browser/custom_scheme.h"

#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/windows_version.h"

using orlyn::RegView;
using orlyn::UniqueHkey;

CCustomScheme::CCustomScheme(const wchar_t* scheme) : scheme_(scheme ? scheme : L"") {}

CCustomScheme::~CCustomScheme() = default;

std::wstring CCustomScheme::GetClassesKey() const { return L"Software\\Classes\\" + scheme_; }

std::wstring CCustomScheme::GetProtocolExecuteKey() const {
    return L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\" + scheme_;
}

std::wstring FormatHandlerCommand(const wchar_t* handlerPath) {
    if (handlerPath[0] == L'"') return orlyn::FormatString(L"%s \"%%1\"", handlerPath);
    return orlyn::FormatString(L"\"%s\" \"%%1\"", handlerPath);
}

bool CCustomScheme::IsRegistered(HKEY root) const {
    UniqueHkey key;
    return orlyn::OpenRegKey(root, GetClassesKey().c_str(), KEY_READ, RegView::Default, key) == ERROR_SUCCESS &&
           key;
}

bool CCustomScheme::Register(HKEY root, const wchar_t* handlerPath) {
    if (!handlerPath) return false;
    const std::wstring classesKey = GetClassesKey();
    UniqueHkey schemeKey;
    (void)orlyn::CreateRegKey(root, classesKey.c_str(), KEY_ALL_ACCESS, RegView::Default, schemeKey);
    if (!schemeKey) return false;
    const std::wstring description = orlyn::FormatString(L"URL:%s protocol", scheme_.c_str());
    if (orlyn::SetRegString(schemeKey.get(), nullptr, description.c_str()) != ERROR_SUCCESS) return false;
    if (orlyn::SetRegString(schemeKey.get(), L"URL Protocol", L"") != ERROR_SUCCESS) return false;

    UniqueHkey commandKey;
    (void)orlyn::CreateRegKey(root, (classesKey + L"\\Shell\\Open\\Command").c_str(), KEY_ALL_ACCESS,
                              RegView::Default, commandKey);
    if (!commandKey) return false;
    const std::wstring command = FormatHandlerCommand(handlerPath);
    if (orlyn::SetRegString(commandKey.get(), nullptr, command.c_str()) != ERROR_SUCCESS) return false;
    // Internet Explorer's warning key is a convenience; the scheme works without it.
    (void)SetProtocolExecute(root, false);
    return true;
}

bool CCustomScheme::SetProtocolExecute(HKEY root, bool remove) {
    const bool wow64 = orlyn::IsRunningUnderWow64();
    if (!EditProtocolExecuteKey(root, remove, false)) return false;
    if (wow64 && !EditProtocolExecuteKey(root, remove, true)) {
        // Where both views are one key (HKCU\Software), the default view's removal already removed it.
        if (!remove) return false;
        UniqueHkey left;
        return orlyn::OpenRegKey(root, GetProtocolExecuteKey().c_str(), KEY_READ, RegView::Wow64_64, left) ==
               ERROR_FILE_NOT_FOUND;
    }
    return true;
}

bool CCustomScheme::EditProtocolExecuteKey(HKEY root, bool remove, bool view64) {
    const std::wstring path = GetProtocolExecuteKey();
    if (!remove) {
        UniqueHkey key;
        (void)orlyn::CreateRegKey(root, path.c_str(), KEY_ALL_ACCESS, view64 ? RegView::Wow64_64 : RegView::Default,
                                  key);
        return key && orlyn::SetRegDword(key.get(), L"WarnOnOpen", 0) == ERROR_SUCCESS;
    }
    return orlyn::DeleteRegKey(root, path.c_str(), view64 ? RegView::Wow64_64 : RegView::Default) == ERROR_SUCCESS;
}

bool CCustomScheme::Unregister() {
    (void)RemoveFromRoot(HKEY_LOCAL_MACHINE);
    (void)RemoveFromRoot(HKEY_CURRENT_USER);
    return !IsRegistered(HKEY_LOCAL_MACHINE) && !IsRegistered(HKEY_CURRENT_USER);
}

bool CCustomScheme::RemoveFromRoot(HKEY root) {
    const bool wow64 = orlyn::IsRunningUnderWow64();
    // Both views under WOW64, even when the default view had none: a key left in the 64-bit view would
    // keep the warning off for a scheme that no longer exists.
    (void)EditProtocolExecuteKey(root, true, false);
    if (wow64) (void)EditProtocolExecuteKey(root, true, true);
    return DeleteKeyTree(root, GetClassesKey().c_str());
}

bool CCustomScheme::DeleteKeyTree(HKEY parent, const wchar_t* subkey) {
    return orlyn::DeleteRegTree(parent, subkey, RegView::Default) == ERROR_SUCCESS;
}
