// The record of the folders that the removal list learns from registry keys the removal deletes (the
// folders named by the old module's "Shared" key and its "TSL" key's "QrDownload"). Once the keys are
// gone nothing else names those folders: a run ended between deleting the keys and deleting the
// folders, or a folder that a locked file kept until a restart, would otherwise stay on the disk for
// good while every later run reports success. So the removal records them before it deletes anything,
// the next run's list takes them in, and the record goes once they are gone. The record is a key of the
// program's own directly under HKLM\SOFTWARE, which only administrators can write, in the program's
// default registry view (the view of the keys the folders were read from); every access goes through
// this file. The record writes no line to the repair log unless it cannot be written.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/repair_log_writer.h"
#include "removal/removal_list.h"

namespace removal_memo {

extern const wchar_t kKeyPath[];    // below HKEY_LOCAL_MACHINE
extern const wchar_t kValueName[];  // REG_MULTI_SZ of absolute folder paths

// The recorded folders; empty when there is no record or it holds nothing usable (another type, more
// data than a record of kMaxFolders paths takes).
std::vector<std::wstring> ReadFolders();
// Replaces the record with these folders; an empty list removes it (and the key, when nothing else is
// in it). Returns the Win32 error code; ERROR_SUCCESS when there was nothing to remove.
LONG WriteFolders(const std::vector<std::wstring>& folders);

}  // namespace removal_memo

// Takes the recorded folders into a list just built: each becomes a learned row and, unless the list has
// an absolute folder row of that path already, a folder row after the list's own.
void MergeRemovalMemo(RemovalList& list);

// Records the learned folders; the removal calls it before it deletes anything.
void RecordLearnedFolders(const std::vector<PathRow>& learned, RepairLogWriter& log);

// Once the folder rows are done: keeps in the record only the learned folders that are still there and
// that a tree deletion may touch, and removes the record when none is left. A folder that the deletion
// refuses is dropped, since no later run could delete it either.
void SettleLearnedFolders(const std::vector<PathRow>& learned, RepairLogWriter& log);
