#include "app/log_disposal.h"

#include <string>

#include "app/repair_context.h"
#include "app/repair_texts.h"
#include "framework/unattended.h"

LogDisposition DisposeRepairLog(CRepairContext& context, std::wstring* finalPath) {
    if (finalPath) finalPath->clear();
    if (!context.logStream) return LogDisposition::NotOpen;
    context.CloseLog();
    // The copy asked for on the command line (/log) is the final log, taken before it is deleted or moved.
    const std::wstring& copyPath = unattended::Current().logCopyPath;
    if (!copyPath.empty()) ::CopyFileW(context.logPath, copyPath.c_str(), FALSE);

    LogDisposition disposition = LogDisposition::Left;
    if (context.sequenceStarted == 0) {
        ::DeleteFileW(context.logPath);
        disposition = LogDisposition::Deleted;
    } else if (context.sequenceState == 6 && context.allUsersAppDataFolder[0] != L'\0') {
        // An empty folder would make the target a path on the current drive's root; keep the log then.
        std::wstring target = context.allUsersAppDataFolder;
        target += repair_text::kLogArchiveSubpath;
        if (::MoveFileExW(context.logPath, target.c_str(), MOVEFILE_COPY_ALLOWED)) {
            disposition = LogDisposition::Moved;
            if (finalPath) *finalPath = target;
        }
    }
    if (finalPath && disposition == LogDisposition::Left) *finalPath = context.logPath;
    context.logPath[0] = L'\0';
    return disposition;
}
