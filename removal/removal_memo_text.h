// The stored form of the removal's record of folders (removal/removal_memo.h): a REG_MULTI_SZ list of
// paths. Data in, data out: no system calls.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "removal/path_normalize.h"

namespace removal_memo {

// A record names at most this many folders; the rest of a longer one is not read.
constexpr size_t kMaxFolders = 32;
// The longest path a folder row holds (its field keeps one unit for the terminator).
constexpr size_t kMaxPathChars = 259;

// Each path with its terminator, then one more terminator; an empty list is two terminators.
std::vector<wchar_t> EncodeFolders(const std::vector<std::wstring>& paths);

// The paths of stored data of `units` UTF-16 units, which may lack its terminators or hold anything: the
// list ends at its first empty entry or at the end of the data, entries longer than kMaxPathChars and
// duplicates are passed over, and at most kMaxFolders paths are read. The paths are not judged otherwise: the deletion decides what it may
// touch, as it does for a path read from any other registry value.
std::vector<std::wstring> DecodeFolders(const wchar_t* data, size_t units, orlyn::UpperCaseFold fold);

// Whether two paths are the same text but for letter case (through fold).
bool SamePath(const std::wstring& a, const std::wstring& b, orlyn::UpperCaseFold fold);

// Whether list holds the path (SamePath).
bool HoldsPath(const std::vector<std::wstring>& list, const std::wstring& path, orlyn::UpperCaseFold fold);

// Appends each path of `more` that `list` does not hold yet (SamePath), keeping the order.
void AddFolders(std::vector<std::wstring>& list, const std::vector<std::wstring>& more, orlyn::UpperCaseFold fold);

}  // namespace removal_memo
