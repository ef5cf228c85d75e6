// Targets and findings of the access-control report: the folders and files that the maker's registry
// key names, each with the entries of its access list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One entry of a file's or folder's access list.
struct AccessEntry {
    std::vector<BYTE> sid;  // a copy of the entry's account SID
    ACCESS_MASK mask = 0;
    bool allowed = false;   // false: an access-denied entry
};

// One folder or file of the report.
struct AccessTarget {
    std::wstring path;
    std::vector<AccessEntry> entries;
};

// The ordered target list. Each report run replaces it; the Everyone grant works on the last one.
class CACLInfo {
public:
    virtual ~CACLInfo() = default;

    std::vector<AccessTarget> targets;
};
