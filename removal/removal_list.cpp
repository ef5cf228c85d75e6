#include "removal/removal_list.h"

#include <cwchar>
#include <string>

#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "removal/removal_memo.h"

namespace {

const wchar_t* const kProcessNames[] = {L"iexplore.exe", L"ieuser.exe", L"OrlynPlug.exe", L"KVService.exe",
                                        L"TSL.exe"};

// The old module's browser add-ons and controls, whose per-user Internet Explorer state is removed.
const wchar_t* const kAddOnClsids[] = {
    L"{080F7E03-AC50-4949-AACA-E79F82D3099F}", L"{5D605A2B-ACDE-49CD-9642-7B268923ACD9}",
    L"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", L"{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}",
    L"{A7B202AB-A508-4235-9C97-C25799782590}",
};

const wchar_t kStatsKeyFormat[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\%s\\iexplore";

// A folder row from a registry value the old module left, taken as read: type and byte size. REG_SZ of
// at most maxBytes gives a row; a path that does not fit the field is skipped, never cut.
bool AcceptRegistryFolder(DWORD type, const BYTE* data, DWORD size, DWORD maxBytes, const wchar_t* suffix,
                          PathRow& row) {
    if (type != REG_SZ || size > maxBytes || !data) return false;
    // The text ends at the first NUL or at the end of the stored bytes.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    size_t chars = wcsnlen(text, size / sizeof(wchar_t));
    std::wstring path(text, chars);
    if (suffix) path += suffix;
    return MakePathRow(kBaseAbsolute, path.c_str(), row);
}

// Reads one value of an HKLM key and appends a folder row when the value is acceptable. The key is
// closed right after the read. Returns whether it appended one.
bool AppendRegistryFolder(const wchar_t* keyPath, const wchar_t* valueName, DWORD maxBytes, const wchar_t* suffix,
                          std::vector<PathRow>& folders) {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key) !=
        ERROR_SUCCESS)
        return false;
    // Two spare bytes stay zero, so a value stored without its terminator still ends.
    std::vector<BYTE> data(maxBytes + sizeof(wchar_t), 0);
    DWORD type = 0;
    DWORD size = maxBytes;
    LONG rc = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, data.data(), &size);
    key.reset();
    if (rc != ERROR_SUCCESS) return false;
    PathRow row;
    if (!AcceptRegistryFolder(type, data.data(), size, maxBytes, suffix, row)) return false;
    folders.push_back(row);
    return true;
}

}  // namespace

bool MakeProcessRow(const wchar_t* imageName, ProcessRow& row) {
    return orlyn::CopyFixed(row.imageName, kImageNameChars, imageName);
}

bool MakeKeyRow(int32_t rootKey, const wchar_t* keyPath, RegistryRow& row) {
    row.wholeKey = 1;
    row.rootKey = rootKey;
    row.valueName[0] = L'\0';
    return orlyn::CopyFixed(row.keyPath, kKeyPathChars, keyPath);
}

bool MakeValueRow(int32_t rootKey, const wchar_t* keyPath, const wchar_t* valueName, RegistryRow& row) {
    row.wholeKey = 0;
    row.rootKey = rootKey;
    bool keyFits = orlyn::CopyFixed(row.keyPath, kKeyPathChars, keyPath);
    bool nameFits = orlyn::CopyFixed(row.valueName, kValueNameChars, valueName);
    return keyFits && nameFits;
}

bool MakePathRow(int32_t baseFolder, const wchar_t* relativePath, PathRow& row) {
    row.baseFolder = baseFolder;
    return orlyn::CopyFixed(row.relativePath, kRelativePathChars, relativePath);
}

HKEY RegistryRowRoot(const RegistryRow& row) {
    return row.rootKey == kRootCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

const wchar_t* RegistryRowPrefix(const RegistryRow& row) { return orlyn::RootPrefix(RegistryRowRoot(row)); }

void RemovalList::Clear() {
    processes.clear();
    registryRows.clear();
    files.clear();
    folders.clear();
    learnedFolders.clear();
}

bool ComposeRowPath(const PathRow& row, const RowBaseFolders& bases, wchar_t* out, size_t outCount) {
    if (!out || outCount == 0) return false;
    out[0] = L'\0';
    const wchar_t* base = nullptr;
    switch (row.baseFolder) {
    case kBaseWindows: base = bases.windows; break;
    case kBaseProgramFiles: base = bases.programFiles; break;
    case kBaseAllUsersDesktop: base = bases.allUsersDesktop; break;
    case kBaseDesktop: base = bases.desktop; break;
    case kBaseAllUsersPrograms: base = bases.allUsersPrograms; break;
    case kBaseAllUsersAppData: base = bases.allUsersAppData; break;
    case kBaseAbsolute: return orlyn::CopyFixed(out, outCount, row.relativePath);
    default: return false;
    }
    if (!base || !*base) return false;
    size_t baseLen = wcslen(base);
    size_t relLen = wcsnlen(row.relativePath, kRelativePathChars);
    // The desktop and programs fields end in a backslash already; the seam keeps exactly one.
    size_t seam = base[baseLen - 1] == L'\\' ? 0 : 1;
    if (relLen == kRelativePathChars || baseLen + seam + relLen >= outCount) return false;
    wmemcpy(out, base, baseLen);
    if (seam) out[baseLen] = L'\\';
    wmemcpy(out + baseLen + seam, row.relativePath, relLen);
    out[baseLen + seam + relLen] = L'\0';
    return true;
}

bool ComposeRowPath(const RepairFolders& folders, const PathRow& row, wchar_t* out, size_t outCount) {
    RowBaseFolders bases{folders.windowsFolder,          folders.programFilesFolder,
                         folders.allUsersDesktopFolder,  folders.desktopFolder,
                         folders.allUsersProgramsFolder, folders.allUsersAppDataFolder};
    return ComposeRowPath(row, bases, out, outCount);
}

bool BuildRemovalList(RemovalList& list) {
    list.Clear();

    for (const wchar_t* name : kProcessNames) {
        ProcessRow row;
        if (MakeProcessRow(name, row)) list.processes.push_back(row);
    }

    for (const wchar_t* clsid : kAddOnClsids) {
        wchar_t keyPath[kKeyPathChars];
        orlyn::Format(keyPath, kKeyPathChars, kStatsKeyFormat, clsid);
        RegistryRow row;
        if (MakeValueRow(kRootCurrentUser, keyPath, L"Blocked", row)) list.registryRows.push_back(row);
        if (MakeValueRow(kRootCurrentUser, keyPath, L"Flags", row)) list.registryRows.push_back(row);
    }
    // The old module's 64-bit add-ons are not listed: neither the check nor the removal has ever looked
    // at their Internet Explorer state, and resetting it for classes that are not the module's own could
    // change another program's add-ons.

    RegistryRow keyRow;
    if (MakeKeyRow(kRootLocalMachine, L"SOFTWARE\\Orlyn\\TSL", keyRow)) list.registryRows.push_back(keyRow);
    if (MakeKeyRow(kRootLocalMachine, L"SOFTWARE\\Orlyn\\Shared", keyRow)) list.registryRows.push_back(keyRow);

    PathRow folderRow;
    if (MakePathRow(kBaseAllUsersAppData, L"Orlyn\\Common", folderRow)) list.folders.push_back(folderRow);
    if (MakePathRow(kBaseAllUsersAppData, L"Orlyn\\TSL", folderRow)) list.folders.push_back(folderRow);

    // Folders that the module placed elsewhere, read now, before the removal deletes the keys.
    // Both keys are deleted by the removal, so these rows are learned rows as well.
    if (AppendRegistryFolder(L"SOFTWARE\\Orlyn\\Shared", nullptr, 520, nullptr, list.folders))
        list.learnedFolders.push_back(list.folders.back());
    if (AppendRegistryFolder(L"SOFTWARE\\Orlyn\\TSL", L"QrDownload", 520, nullptr, list.folders))
        list.learnedFolders.push_back(list.folders.back());

    PathRow fileRow;
    if (MakePathRow(kBaseAllUsersAppData, L"Orlyn\\OrlynPlug\\linkinfo.dat", fileRow)) list.files.push_back(fileRow);
    if (MakePathRow(kBaseAllUsersAppData, L"Orlyn\\OrlynPlug\\vqmrs.dat", fileRow)) list.files.push_back(fileRow);

    AppendRegistryFolder(L"SOFTWARE\\Orlyn\\OrlynPlug", L"RootPath", 1040, L"\\KVData", list.folders);

    MergeRemovalMemo(list);
    return true;
}
