#include "install/access_repair.h"

#include <aclapi.h>

#include <cwchar>

#include "common/access_entry.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

namespace {

struct RootPrefixEntry {
    const wchar_t* prefix;
    HKEY root;
};
const RootPrefixEntry kRootPrefixes[] = {
    {L"CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
    {L"CURRENT_USER\\", HKEY_CURRENT_USER},
    {L"MACHINE\\", HKEY_LOCAL_MACHINE},
    {L"USERS\\", HKEY_USERS},
};

// One key as the repair addresses it: by object name for the security functions, by root and path
// (in the same view) for opening.
struct KeyTarget {
    const wchar_t* name;
    HKEY root;
    const wchar_t* path;
    RepairView view;
};

LONG OpenInView(const KeyTarget& key, REGSAM access, orlyn::UniqueHkey& out) {
    return orlyn::OpenRegKey(key.root, key.path, access, key.view, out);
}

// Reads the key's owner. The default view goes by object name. Another view goes through a handle
// opened in that view: it names the same key that SE_REGISTRY_WOW64_64KEY/32KEY would, also on systems
// without those types (and Wine accepts them but changes nothing).
DWORD ReadKeyOwner(const KeyTarget& key) {
    PSID owner = nullptr;
    orlyn::UniqueLocal descriptor;
    auto descriptorOut = reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put());
    if (key.view == RepairView::Default) {
        return ::GetNamedSecurityInfoW(key.name, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                       nullptr, nullptr, descriptorOut);
    }
    orlyn::UniqueHkey handle;
    DWORD rc = static_cast<DWORD>(OpenInView(key, READ_CONTROL, handle));
    if (rc != ERROR_SUCCESS) return rc;
    return ::GetSecurityInfo(handle.get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                             nullptr, descriptorOut);
}

DWORD WriteKeySecurity(const KeyTarget& key, SECURITY_INFORMATION what, PSID owner, PACL dacl) {
    if (key.view == RepairView::Default) {
        // SetNamedSecurityInfoW takes a non-const name; it does not change it.
        wchar_t name[kRegistryObjectNameSize];
        if (!orlyn::CopyFixed(name, kRegistryObjectNameSize, key.name)) return ERROR_FILENAME_EXCED_RANGE;
        return ::SetNamedSecurityInfoW(name, SE_REGISTRY_KEY, what, owner, nullptr, dacl, nullptr);
    }
    orlyn::UniqueHkey handle;
    REGSAM access = (what & OWNER_SECURITY_INFORMATION) ? WRITE_OWNER : WRITE_DAC;
    DWORD rc = static_cast<DWORD>(OpenInView(key, access, handle));
    if (rc != ERROR_SUCCESS) return rc;
    return ::SetSecurityInfo(handle.get(), SE_REGISTRY_KEY, what, owner, nullptr, dacl, nullptr);
}

// Privileges enabled here stay enabled for the rest of the process.
void EnableTakeOwnershipPrivilege() {
    orlyn::UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &privileges.Privileges[0].Luid)) return;
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

// Administrators full control, Everyone read, nothing of the old list kept.
bool RepairKeySecurity(const KeyTarget& key) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    orlyn::UniqueSid administrators;
    orlyn::UniqueSid everyone;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                    0, 0, 0, administrators.put()))
        return false;
    if (!::AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()))
        return false;
    EXPLICIT_ACCESSW entries[2] = {
        orlyn::SidAccessEntry(administrators.get(), GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_GROUP),
        orlyn::SidAccessEntry(everyone.get(), GENERIC_READ, GRANT_ACCESS, NO_INHERITANCE,
                              TRUSTEE_IS_WELL_KNOWN_GROUP),
    };
    orlyn::UniqueLocal acl;
    if (::SetEntriesInAclW(2, entries, nullptr, reinterpret_cast<PACL*>(acl.put())) != ERROR_SUCCESS) return false;

    if (ReadKeyOwner(key) != ERROR_SUCCESS) {
        EnableTakeOwnershipPrivilege();
        if (WriteKeySecurity(key, OWNER_SECURITY_INFORMATION, administrators.get(), nullptr) != ERROR_SUCCESS)
            return false;
    }
    return WriteKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, orlyn::LocalAs<ACL>(acl)) == ERROR_SUCCESS;
}

}  // namespace

const wchar_t* const kModuleComKeys[7] = {
    L"CLASSES_ROOT\\QRCOM.QrGameControl.2",
    L"CLASSES_ROOT\\CLSID\\{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}",
    L"CLASSES_ROOT\\TypeLib\\{9C2E5B71-04AF-4D38-A6E9-15B7C3D8204E}",
    L"CLASSES_ROOT\\Interface\\{6E48A0D3-9B17-4C25-B5F8-2A93E61C7D04}",
    L"CLASSES_ROOT\\QRCOM.QrMachineControl.2",
    L"CLASSES_ROOT\\CLSID\\{A7B202AB-A508-4235-9C97-C25799782590}",
    L"CLASSES_ROOT\\Interface\\{50C6E2A8-3F91-47BD-8E24-C9A1D75B3F60}",
};

bool SplitRegistryObjectName(const wchar_t* name, HKEY& root, std::wstring& keyPath) {
    if (!name || wcslen(name) >= kRegistryObjectNameSize) return false;
    for (const RootPrefixEntry& entry : kRootPrefixes) {
        size_t length = wcslen(entry.prefix);
        if (wcsncmp(name, entry.prefix, length) == 0) {
            root = entry.root;
            keyPath.assign(name + length);
            return true;
        }
    }
    return false;
}

bool RepairRegistryKeyAccessInView(const wchar_t* name, RepairView view) {
    HKEY root = nullptr;
    std::wstring keyPath;
    if (!SplitRegistryObjectName(name, root, keyPath)) return false;
    KeyTarget target{name, root, keyPath.c_str(), view};

    orlyn::UniqueHkey key;
    LONG rc = OpenInView(target, KEY_ALL_ACCESS, key);
    if (rc == ERROR_ACCESS_DENIED) {
        if (!RepairKeySecurity(target)) return false;
        rc = OpenInView(target, KEY_ALL_ACCESS, key);
    }
    if (rc == ERROR_ACCESS_DENIED) return false;
    if (rc != ERROR_SUCCESS) return true;  // no such key: nothing to repair

    bool result = true;
    for (DWORD index = 0;; ++index) {
        wchar_t subkey[256];
        DWORD length = 256;
        rc = ::RegEnumKeyExW(key.get(), index, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            result = false;
            break;
        }
        std::wstring child = orlyn::FormatString(L"%s\\%s", name, subkey);
        // Children live in the same view as their parent.
        if (!RepairRegistryKeyAccessInView(child.c_str(), view)) result = false;
    }
    return result;
}

bool RepairRegistryKeysAccess(RepairLogWriter& log, const wchar_t* const* keys, size_t count) {
    bool result = true;
    for (bool use64BitView : {false, true}) {
        for (size_t i = 0; i < count; ++i) {
            if (!RepairRegistryKeyAccess(keys[i], use64BitView)) {
                log.WriteLog(L"Error\t%s 레지스트리에 접근할 수 없습니다.\n", keys[i]);
                result = false;
            }
        }
    }
    return result;
}

bool RepairComRegistryAccess(RepairLogWriter& log) {
    return RepairRegistryKeysAccess(log, kModuleComKeys, sizeof(kModuleComKeys) / sizeof(kModuleComKeys[0]));
}
