// The removal primitives for the registry: delete one key tree or one value, and write the outcome
// through the log handle.
#include <windows.h>

#include <cwchar>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "removal/log_handle.h"

namespace {

// An empty key path would open the root itself and delete everything below it.
bool IsUsableKeyPath(const wchar_t* keyPath) {
    return keyPath && keyPath[wcsspn(keyPath, L"\\")] != L'\0';
}

}  // namespace

LONG CLogHandle::RemoveRegKey(HKEY root, const wchar_t* keyPath, bool report) {
    const wchar_t* prefix = orlyn::RootPrefix(root);
    if (!IsUsableKeyPath(keyPath)) {
        if (!report) return ERROR_INVALID_PARAMETER;
        WriteLog(L"Error\tDelete RegKey Failure : %s%s\n", prefix, keyPath ? keyPath : L"");
        return FALSE;
    }
    LONG rc = orlyn::DeleteRegTree(root, keyPath, orlyn::RegView::Default);
    if (!report) return rc;
    // Gone only when the system says it is not there; a key we may not open still exists.
    orlyn::UniqueHkey key;
    LONG reopen = orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key);
    if (reopen == ERROR_FILE_NOT_FOUND) {
        WriteLog(L"OK\tDelete RegKey Success : %s%s\n", prefix, keyPath);
        return TRUE;
    }
    WriteLog(L"Error\tDelete RegKey Failure : %s%s\n", prefix, keyPath);
    return FALSE;
}

bool CLogHandle::RemoveRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName) {
    const wchar_t* prefix = orlyn::RootPrefix(root);
    const wchar_t* name = valueName ? valueName : L"";
    orlyn::UniqueHkey key;
    if (keyPath && orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key) == ERROR_SUCCESS &&
        ::RegDeleteValueW(key.get(), valueName) == ERROR_SUCCESS) {
        WriteLog(L"OK\tDelete RegValue Success : %s%s\\%s\n", prefix, keyPath, name);
        return true;
    }
    WriteLog(L"Error\tDelete RegValue Failure : %s%s\\%s\n", prefix, keyPath ? keyPath : L"", name);
    return false;
}
