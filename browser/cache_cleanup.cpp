#include "browser/cache_cleanup.h"

#include <shlobj.h>

namespace {

constexpr UINT kCacheProgressTimer = 111;
constexpr UINT kCacheProgressPeriodMs = 1200;

struct CacheFolder {
    int csidl;
    const wchar_t* okDetail;     // with the folder path
    const wchar_t* okResult;
    const wchar_t* failDetail;
    const wchar_t* failResult;
};

const CacheFolder kCacheFolders[] = {
    {CSIDL_INTERNET_CACHE, L"OK\tClear Internet Cache (%s)\n", L"OK\t임시 인터넷 파일 삭제하였습니다.\n",
     L"Error\tClear Internet Cache Failure\n", L"Error\t임시 인터넷 파일 삭제하는데 실패하였습니다.\n"},
    {CSIDL_COOKIES, L"OK\tClear Internet Cookie (%s)\n", L"OK\t쿠키를 삭제하였습니다.\n",
     L"Error\tClear Internet Cookie Failure\n", L"Error\t쿠키를 삭제하는데 실패하였습니다.\n"},
};

}  // namespace

bool ClearInternetCache(RepairLogWriter& log, CLogHandle& logHandle, PhaseProgress& progress,
                        PhaseHost& host) {
    WriteRoutineBanner(log, L"임시 인터넷 파일 삭제 루틴");
    host.ArmTimer(kCacheProgressTimer, kCacheProgressPeriodMs);

    bool result = true;
    for (const CacheFolder& folder : kCacheFolders) {
        wchar_t path[MAX_PATH] = {};
        ::SetLastError(ERROR_SUCCESS);
        if (::SHGetSpecialFolderPathW(nullptr, path, folder.csidl, FALSE)) {
            logHandle.ClearFolderContents(path);  // files in use stay; that does not change the lines
            logHandle.WriteLog(folder.okDetail, path);
            log.WriteLog(folder.okResult);
        } else {
            // Taken now: writing the log lines may change the thread's last error.
            DWORD error = ::GetLastError();
            logHandle.WriteLog(folder.failDetail);
            log.WriteLog(folder.failResult);
            WriteErrorCodeLine(log, error);
            result = false;
        }
    }

    host.CancelTimer(kCacheProgressTimer);
    progress.CompletePhaseItems();
    return result;
}
