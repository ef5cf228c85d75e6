#include "removal/module_check.h"

#include <cwchar>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "diagnostics/access_report.h"
#include "install/com_registration.h"
#include "removal/log_handle.h"

namespace {

bool KeyOpensFully(HKEY root, const wchar_t* keyPath, orlyn::UniqueHkey& key) {
    return orlyn::OpenRegKey(root, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key) == ERROR_SUCCESS;
}

// Whether a search for the path itself finds an entry; its attributes when it does.
bool FindEntry(const wchar_t* path, DWORD& attributes) {
    WIN32_FIND_DATAW data;
    orlyn::UniqueFindHandle find(::FindFirstFileW(path, &data));
    if (!find) return false;
    attributes = data.dwFileAttributes;
    return true;
}

}  // namespace

bool CheckOldModule(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                    const RemovalList& removalList, CACLInfo& aclInfo) {
    WriteRoutineBanner(log, L"모듈 체크 루틴");
    log.WriteLog(L"\n");

    WriteAccessReport(log, aclInfo);

    const std::vector<ProcessRow> processes = removalList.CopyProcesses();
    const std::vector<RegistryRow> registryRows = removalList.CopyRegistryRows();
    const std::vector<PathRow> folders = removalList.CopyFolders();
    const std::vector<PathRow> files = removalList.CopyFiles();
    progress.BeginPhaseItems(
        static_cast<DWORD>(processes.size() + registryRows.size() + folders.size() + files.size()));

    for (const ProcessRow& row : processes) {
        if (IsProcessRunning(row.imageName))
            log.WriteLog(L"OK\t%s 프로세스가 있습니다.\tO\n", row.imageName);
        else
            log.WriteLog(L"OK\t%s 프로세스가 없습니다.\tX\n", row.imageName);
        progress.AddPhaseItemDone();
    }

    for (const RegistryRow& row : registryRows) {
        HKEY root = RegistryRowRoot(row);
        const wchar_t* prefix = RegistryRowPrefix(row);
        orlyn::UniqueHkey key;
        if (row.wholeKey) {
            // A key that exists but refuses full access counts as absent.
            if (KeyOpensFully(root, row.keyPath, key))
                log.WriteLog(L"OK\t%s%s 레지스트리 키가 있습니다.\tO\n", prefix, row.keyPath);
            else
                log.WriteLog(L"OK\t%s%s 레지스트리 키가 없습니다.\tX\n", prefix, row.keyPath);
        } else {
            bool present = KeyOpensFully(root, row.keyPath, key) &&
                           ::RegQueryValueExW(key.get(), row.valueName, nullptr, nullptr, nullptr, nullptr) ==
                               ERROR_SUCCESS;
            if (present)
                log.WriteLog(L"OK\t%s%s\\%s 레지스트리 값이 있습니다.\tO\n", prefix, row.keyPath, row.valueName);
            else
                log.WriteLog(L"OK\t%s%s\\%s 레지스트리 값이 없습니다.\tX\n", prefix, row.keyPath, row.valueName);
        }
        progress.AddPhaseItemDone();
    }

    for (const PathRow& row : folders) {
        wchar_t path[MAX_PATH] = {};
        DWORD attributes = 0;
        bool present = ComposeRowPath(repairFolders, row, path, MAX_PATH) && FindEntry(path, attributes) &&
                       (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (present)
            log.WriteLog(L"OK\t%s 폴더가 있습니다.\tO\n", path);
        else
            log.WriteLog(L"OK\t%s 폴더가 없습니다.\tX\n", path);
        progress.AddPhaseItemDone();
    }

    for (const PathRow& row : files) {
        wchar_t path[MAX_PATH] = {};
        DWORD attributes = 0;
        if (ComposeRowPath(repairFolders, row, path, MAX_PATH) && FindEntry(path, attributes)) {
            log.WriteLog(L"OK\t%s 파일이 있습니다.\tO\n", path);
            if (wcsstr(path, L".ocx")) {
                wchar_t errorText[kComErrorTextSize] = {};
                if (!RegisterComServer(path, errorText, false)) {
                    log.WriteLog(L"Error\t%s 파일을 등록하지 못하였습니다.\n", path);
                    log.WriteLog(L"Error\t%s\n", errorText);
                }
            }
        } else {
            log.WriteLog(L"OK\t%s 파일이 없습니다.\tX\n", path);
        }
        progress.AddPhaseItemDone();
    }
    return true;
}
