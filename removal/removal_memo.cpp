#include "removal/removal_memo.h"

#include "common/registry.h"
#include "common/unique_handle.h"
#include "removal/log_handle.h"
#include "removal/path_guard.h"
#include "removal/removal_memo_text.h"

namespace removal_memo {

const wchar_t kKeyPath[] = L"SOFTWARE\\OrlynRepair";
const wchar_t kValueName[] = L"PendingFolders";

namespace {

constexpr DWORD kMaxRecordBytes = static_cast<DWORD>((kMaxFolders * (kMaxPathChars + 1) + 1) * sizeof(wchar_t));

LONG RemoveRecord() {
    orlyn::UniqueHkey key;
    LONG rc = orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kKeyPath, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                orlyn::RegView::Default, key);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegDeleteValueW(key.get(), kValueName);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    DWORD subkeys = 0, values = 0;
    rc = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr);
    key.reset();
    if (rc != ERROR_SUCCESS || subkeys != 0 || values != 0) return rc;
    return orlyn::DeleteRegKey(HKEY_LOCAL_MACHINE, kKeyPath, orlyn::RegView::Default);
}

}  // namespace

std::vector<std::wstring> ReadFolders() {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kKeyPath, KEY_QUERY_VALUE, orlyn::RegView::Default, key) !=
        ERROR_SUCCESS)
        return {};
    std::vector<wchar_t> data(kMaxRecordBytes / sizeof(wchar_t), L'\0');
    DWORD type = 0;
    DWORD size = kMaxRecordBytes;
    LONG rc = ::RegQueryValueExW(key.get(), kValueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (rc != ERROR_SUCCESS || type != REG_MULTI_SZ) return {};
    return DecodeFolders(data.data(), size / sizeof(wchar_t), orlyn::SystemUpperCase);
}

LONG WriteFolders(const std::vector<std::wstring>& folders) {
    if (folders.empty()) return RemoveRecord();
    orlyn::UniqueHkey key;
    LONG rc = orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, kKeyPath, KEY_SET_VALUE, orlyn::RegView::Default, key);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<wchar_t> data = EncodeFolders(folders);
    return ::RegSetValueExW(key.get(), kValueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

}  // namespace removal_memo

namespace {

// The learned rows are absolute folder rows; any other row has no path of its own.
std::vector<std::wstring> LearnedPaths(const std::vector<PathRow>& learned) {
    std::vector<std::wstring> paths;
    for (const PathRow& row : learned)
        if (row.baseFolder == kBaseAbsolute) paths.emplace_back(row.relativePath);
    return paths;
}

void WriteRecord(const std::vector<std::wstring>& paths, RepairLogWriter& log) {
    LONG rc = removal_memo::WriteFolders(paths);
    if (rc != ERROR_SUCCESS)
        log.WriteLog(L"Error\tRecord Folders Failure(%d) : HKLM\\%s\\%s\n", static_cast<int>(rc),
                     removal_memo::kKeyPath, removal_memo::kValueName);
}

}  // namespace

void MergeRemovalMemo(RemovalList& list) {
    std::vector<std::wstring> absoluteRows;
    for (const PathRow& row : list.folders)
        if (row.baseFolder == kBaseAbsolute) absoluteRows.emplace_back(row.relativePath);
    std::vector<std::wstring> learned = LearnedPaths(list.learnedFolders);
    for (const std::wstring& path : removal_memo::ReadFolders()) {
        PathRow row;
        if (!MakePathRow(kBaseAbsolute, path.c_str(), row)) continue;
        if (!removal_memo::HoldsPath(absoluteRows, path, orlyn::SystemUpperCase)) {
            list.folders.push_back(row);
            absoluteRows.push_back(path);
        }
        if (!removal_memo::HoldsPath(learned, path, orlyn::SystemUpperCase)) {
            list.learnedFolders.push_back(row);
            learned.push_back(path);
        }
    }
}

void RecordLearnedFolders(const std::vector<PathRow>& learned, RepairLogWriter& log) {
    std::vector<std::wstring> paths = LearnedPaths(learned);
    if (!paths.empty()) WriteRecord(paths, log);
}

void SettleLearnedFolders(const std::vector<PathRow>& learned, RepairLogWriter& log) {
    std::vector<std::wstring> left;
    for (const std::wstring& path : LearnedPaths(learned))
        if (PathIsFound(path.c_str()) && orlyn::CheckTreePathOnThisSystem(path.c_str()) == orlyn::TreeRefusal::None)
            left.push_back(path);
    WriteRecord(left, log);
}
