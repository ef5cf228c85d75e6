#include "removal/removal_routine.h"

#include "common/registry.h"
#include "common/unique_handle.h"
#include "removal/removal_memo.h"

bool RemoveOldModule(RepairLogWriter& log, CLogHandle& logHandle, PhaseProgress& progress,
                     const RepairFolders& repairFolders, const RemovalList& removalList,
                     const std::function<bool()>& removeBrowserIntegration) {
    WriteRoutineBanner(log, L"기존 모듈 삭제 루틴");

    const auto processes = removalList.CopyProcesses();
    const auto registryRows = removalList.CopyRegistryRows();
    const auto folders = removalList.CopyFolders();
    const auto files = removalList.CopyFiles();
    const auto learnedFolders = removalList.CopyLearnedFolders();

    // The reserve of 200 items is what the simulated progress of the cache clean-up consumes.
    progress.BeginPhaseItems(
        static_cast<DWORD>(processes.size() + registryRows.size() + folders.size() + files.size() + 200));

    RecordLearnedFolders(learnedFolders, log);  // before anything is deleted

    for (const auto& row : processes) {
        if (IsProcessRunning(row.imageName)) {
            if (logHandle.KillProcessByName(row.imageName)) {
                log.WriteLog(L"OK\t%s 프로세스가 종료되었습니다.\tSUCCESS\n", row.imageName);
            } else {
                DWORD error = ::GetLastError();  // before the log write can change it
                log.WriteLog(L"Error\t%s 프로세스가 종료되지 않았습니다.\tFAILURE\n", row.imageName);
                WriteErrorCodeLine(log, error);
            }
        }
        progress.AddPhaseItemDone();
    }

    for (const auto& row : registryRows) {
        HKEY root = RegistryRowRoot(row);
        const wchar_t* prefix = RegistryRowPrefix(row);
        orlyn::UniqueHkey key;
        bool opened = orlyn::OpenRegKey(root, row.keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key) ==
                      ERROR_SUCCESS;
        if (row.wholeKey) {
            if (opened) {
                key.reset();
                if (logHandle.RemoveRegKey(root, row.keyPath, true)) {
                    log.WriteLog(L"OK\t%s%s 레지스트리 키가 삭제되었습니다.\tSUCCESS\n", prefix, row.keyPath);
                } else {
                    DWORD error = ::GetLastError();
                    log.WriteLog(L"Error\t%s%s 레지스트리 키가 삭제되지 않았습니다.\tFAILURE\n", prefix, row.keyPath);
                    WriteErrorCodeLine(log, error);
                }
            }
        } else if (opened) {
            bool exists = ::RegQueryValueExW(key.get(), row.valueName, nullptr, nullptr, nullptr, nullptr) ==
                          ERROR_SUCCESS;
            key.reset();
            if (exists) {
                if (logHandle.RemoveRegValue(root, row.keyPath, row.valueName)) {
                    log.WriteLog(L"OK\t%s%s\\%s 레지스트리 값이 삭제되었습니다.\tSUCCESS\n", prefix, row.keyPath,
                                 row.valueName);
                } else {
                    DWORD error = ::GetLastError();
                    log.WriteLog(L"Error\t%s%s\\%s 레지스트리 값이 삭제되지 않았습니다.\tFAILURE\n", prefix, row.keyPath,
                                 row.valueName);
                    WriteErrorCodeLine(log, error);
                }
            }
        }
        progress.AddPhaseItemDone();
    }

    for (const auto& row : folders) {
        wchar_t path[MAX_PATH];
        if (ComposeRowPath(repairFolders, row, path, MAX_PATH) && PathIsFound(path)) {
            if (logHandle.RemoveFolderTree(path, true)) {
                log.WriteLog(L"OK\t%s 폴더가 삭제되었습니다.\tSUCCESS\n", path);
            } else {
                log.WriteLog(L"Error\t%s 폴더가 삭제되지 않았습니다.\tFAILURE\n", path);
            }
        }
        progress.AddPhaseItemDone();
    }
    SettleLearnedFolders(learnedFolders, log);  // what stays is left to the next run

    for (const auto& row : files) {
        wchar_t path[MAX_PATH];
        if (ComposeRowPath(repairFolders, row, path, MAX_PATH) && PathIsFound(path)) {
            if (logHandle.RemoveFile(path)) {
                log.WriteLog(L"OK\t%s 파일이 삭제되었습니다.\tSUCCESS\n", path);
            } else {
                log.WriteLog(L"Error\t%s 파일이 삭제되지 않았습니다.\tFAILURE\n", path);
            }
        }
        progress.AddPhaseItemDone();
    }

    bool result = removeBrowserIntegration();
    if (result) {
        log.WriteLog(L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS\n");
    } else {
        log.WriteLog(L"Error\t기존 모듈을 모두 삭제하는데 실패하였습니다.\tFAILURE\n");
    }
    return result;
}
