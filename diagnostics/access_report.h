// The access-control report: who runs the program with which group memberships, and who is allowed or
// denied read, write and execute access on each folder and file that the maker's registry key names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/repair_log_writer.h"
#include "diagnostics/acl_info.h"

// Collects the targets under HKLM "SOFTWARE\\Orlyn", reads their access lists and writes the report into
// the repair log; replaces info with the targets found.
void WriteAccessReport(RepairLogWriter& log, CACLInfo& info);

// Grants Everyone access on every target of info, logs the outcome, then writes the report again.
void ApplyEveryoneAccess(RepairLogWriter& log, CACLInfo& info);

// Steps of the report, each appending to the report text and the error text.
void WriteUserInfo(std::wstring& report, std::wstring& errors);
bool CheckMemberGroup(HANDLE token, WELL_KNOWN_SID_TYPE type, const wchar_t* name, std::wstring& report,
                      std::wstring& errors);
// Reads the target's access list into its entries. On failure `failure` holds the text (empty when the
// path has no security descriptor at all, for instance when it does not exist).
bool ReadDacl(AccessTarget& target, std::wstring& failure);
void WriteAces(const AccessTarget& target, std::wstring& report);

// The three R/W/X columns of an entry: an allowed entry shows a letter when its mask holds all bits of
// the letter's group, a denied entry when it holds any of them.
std::wstring AccessColumns(ACCESS_MASK mask, bool allowed);

// The pieces that a text buffer goes to the log as: split at line feeds, the piece after the last one
// included.
std::vector<std::wstring> SplitLogPieces(const std::wstring& text);
